// The header parser: records of message files, the line finder, the line split
// and the bad input a recovered file can hold.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "emailparser/emailparser.h"
#include "platform/Errors.h"
#include "platform/Files.h"

namespace stdfs = std::filesystem;

namespace {

const std::string kMarker = "----- Original Message -----";

class ScratchDir {
public:
    ScratchDir() {
        std::string templ = (stdfs::temp_directory_path() / "corvane-parser-XXXXXX").string();
        path_ = ::mkdtemp(templ.data());
    }
    ~ScratchDir() {
        std::error_code ec;
        stdfs::remove_all(path_, ec);
    }
    // Writes a file of the given bytes and gives its full name.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = path_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The lines joined, each ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

TEmail Record(const std::string& file, std::int64_t start, std::int64_t headerEnd, std::int64_t end) {
    TEmail e;
    e.FileName = file;
    e.MessageStart = start;
    e.HeaderEnd = headerEnd;
    e.MessageEnd = end;
    return e;
}

std::string Describe(const TEmailArray& a) {
    std::string s;
    for (const auto& e : a)
        s += "{" + e.FileName + " del=" + std::to_string(e.Deleted) + " From='" + e.From + "' To='" + e.To +
             "' Subject='" + e.Subject + "' Date='" + e.Date + "' " + std::to_string(e.MessageStart) + "," +
             std::to_string(e.HeaderEnd) + "," + std::to_string(e.MessageEnd) + "}\n";
    return s;
}

TEmailArray ParseOne(const std::string& file, bool deleted = false) { return ParseMessageFiles({file}, deleted); }

// The worked example: thirteen lines, 168 bytes.
std::string WorkedExample() {
    return Lines({"Received: by relay", "From: Ann", "Subject: Hello", "", "Text of the first message", "From: Bob",
                  "Date: Mon", "", "Second body", kMarker, "From: Carl", "", "Last line"});
}

}  // namespace

TEST(WorkedExample, GivesTwoRecordsByteForByte) {
    ScratchDir dir;
    const std::string bytes = WorkedExample();
    ASSERT_EQ(bytes.size(), 168u);
    const std::string file = dir.Write("msg1.tmp", bytes);

    TEmail first = Record(file, 0, 47, 76);
    first.From = " Ann";
    first.Subject = " Hello";
    TEmail second = Record(file, 76, 98, 168);
    second.From = " Bob";
    second.Date = " Mon";
    const TEmailArray got = ParseOne(file);
    EXPECT_EQ(got, (TEmailArray{first, second})) << Describe(got);

    // The same from the deleted list: only the flag differs.
    first.Deleted = second.Deleted = 1;
    EXPECT_EQ(ParseOne(file, true), (TEmailArray{first, second}));
}

TEST(WorkedExample, WithoutTheLastCrLfTheLastLineIsNeverRead) {
    ScratchDir dir;
    std::string bytes = WorkedExample();
    bytes.resize(166);
    const std::string file = dir.Write("msg1.tmp", bytes);
    const TEmailArray got = ParseOne(file);
    ASSERT_EQ(got.size(), 2u) << Describe(got);
    EXPECT_EQ(got[0].MessageEnd, 76);
    EXPECT_EQ(got[1].MessageStart, 76);
    EXPECT_EQ(got[1].HeaderEnd, 98);
    EXPECT_EQ(got[1].MessageEnd, 157);
}

TEST(WorkedExample, LineFinderGivesTheCrOfEachLineEnd) {
    ScratchDir dir;
    const std::string file = dir.Write("msg1.tmp", WorkedExample());
    EXPECT_EQ(FindLineEnd(file, 0), 18);
    EXPECT_EQ(FindLineEnd(file, 18), 18);
    EXPECT_EQ(FindLineEnd(file, 19), 29);  // a pair that begins before the start does not count
    EXPECT_EQ(FindLineEnd(file, 20), 29);
    EXPECT_EQ(FindLineEnd(file, 47), 47);  // the blank line
    EXPECT_EQ(FindLineEnd(file, 166), 166);
    EXPECT_EQ(FindLineEnd(file, 167), -1);
    EXPECT_EQ(FindLineEnd(file, 168), -1);
    EXPECT_EQ(FindLineEnd(file, 5000), -1);
    EXPECT_EQ(FindLineEnd(file, -5), 18);  // before the file: from its start
}

TEST(LineFinder, CrLfRulesAgreeWithAPlainSearch) {
    ScratchDir dir;
    std::mt19937 rng(7);
    const char bytes[] = {'\r', '\n', 'a', '\0'};
    for (int round = 0; round < 30; ++round) {
        std::string s;
        const std::size_t n = rng() % 60;
        for (std::size_t i = 0; i < n; ++i) s += bytes[rng() % 4];
        const std::string file = dir.Write("f.tmp", s);
        for (std::size_t start = 0; start <= s.size() + 1; ++start) {
            std::int64_t expected = -1;
            for (std::size_t k = start; k + 1 < s.size(); ++k)
                if (s[k] == '\r' && s[k + 1] == '\n') {
                    expected = static_cast<std::int64_t>(k);
                    break;
                }
            ASSERT_EQ(FindLineEnd(file, static_cast<std::int64_t>(start)), expected) << "start " << start;
        }
    }
    // CR CR LF ends at the second CR; a CR as the file's last byte is no line end.
    EXPECT_EQ(FindLineEnd(dir.Write("g.tmp", "ab\r\r\nc"), 0), 3);
    EXPECT_EQ(FindLineEnd(dir.Write("h.tmp", "ab\n\rc\r"), 0), -1);
}

TEST(LineFinder, PairsAcrossLongStretches) {
    ScratchDir dir;
    // A CR LF far on, with the CR and the LF at every position around the
    // places where a reader's blocks might end.
    for (std::size_t at : {1023u, 1024u, 4095u, 65535u, 65536u, 131071u, 300000u}) {
        std::string s(at, 'x');
        s[at / 2] = '\r';  // a lone CR on the way
        s += "\r\n";
        const std::string file = dir.Write("long.tmp", s);
        EXPECT_EQ(FindLineEnd(file, 0), static_cast<std::int64_t>(at)) << at;
        EXPECT_EQ(FindLineEnd(file, static_cast<std::int64_t>(at) + 1), -1) << at;
    }
}

TEST(SplitHeaderLine, WellFormedAndMalformedLines) {
    EXPECT_EQ(SplitHeaderLine("Subject: Hi\r\n"), (TRPCField{1, "Subject", " Hi"}));
    EXPECT_EQ(SplitHeaderLine("X-Mailer: a: b\r\n"), (TRPCField{1, "X-Mailer", " a: b"}));
    EXPECT_EQ(SplitHeaderLine("Subject: \r\n"), (TRPCField{1, "Subject", " "}));
    EXPECT_EQ(SplitHeaderLine("Subject: Hi\r\r\n"), (TRPCField{1, "Subject", " Hi\r"}));
    EXPECT_EQ(SplitHeaderLine("a: \r\n"), (TRPCField{1, "a", " "}));
    const TRPCField invalid{};
    EXPECT_EQ(SplitHeaderLine("Subject:Hi\r\n"), invalid);    // no space after the colon
    EXPECT_EQ(SplitHeaderLine("Subject:\tHi\r\n"), invalid);  // a tab is no space
    EXPECT_EQ(SplitHeaderLine("Subject:\r\n"), invalid);      // the CR is no space
    EXPECT_EQ(SplitHeaderLine(": Hi\r\n"), invalid);          // colon first
    EXPECT_EQ(SplitHeaderLine(" Subject: Hi\r\n"), invalid);  // continuation line
    EXPECT_EQ(SplitHeaderLine("\tSubject: Hi\r\n"), invalid);
    EXPECT_EQ(SplitHeaderLine("My Subject: Hi\r\n"), invalid);
    EXPECT_EQ(SplitHeaderLine(std::string("Sub\0ject: Hi\r\n", 14)), invalid);
    EXPECT_EQ(SplitHeaderLine("Sub\xE9ject: Hi\r\n"), invalid);
    EXPECT_EQ(SplitHeaderLine("no colon here\r\n"), invalid);
    EXPECT_EQ(SplitHeaderLine("\r\n"), invalid);
    EXPECT_EQ(SplitHeaderLine(""), invalid);
    EXPECT_EQ(SplitHeaderLine("a:"), invalid);
}

TEST(KnownHeaders, TenNamesInAnyCaseFourStored) {
    for (const char* name : {"Return-Path", "REPLY-TO", "envelope-to", "Delivery-Date", "Received", "Message-ID",
                             "From", "to", "SUBJECT", "dAtE"})
        EXPECT_TRUE(IsKnownHeader(TRPCField{1, name, " x"})) << name;
    for (const char* name : {"X-From", "Resent-From", "FromX", "Subjects", "Message-Id2", "Content-Type", "Fr om",
                             "", "Delivery-Dates", "F\xD2OM"})
        EXPECT_FALSE(IsKnownHeader(TRPCField{1, name, " x"})) << name;

    TEmail e;
    e.From = " old";
    e = StoreSummaryField({1, "FROM", " a"}, e);
    e = StoreSummaryField({1, "to", " b"}, e);
    e = StoreSummaryField({1, "Subject", " c"}, e);
    e = StoreSummaryField({1, "DaTe", " d"}, e);
    const TEmail stored = e;
    EXPECT_EQ(stored.From, " a");
    EXPECT_EQ(stored.To, " b");
    EXPECT_EQ(stored.Subject, " c");
    EXPECT_EQ(stored.Date, " d");
    for (const char* name : {"Received", "Message-ID", "Reply-To", "X-Subject", "Content-Type"})
        EXPECT_EQ(StoreSummaryField({1, name, " zzz"}, stored), stored) << name;
}

TEST(QuoteMarker, ExactTextAnywhereInTheLine) {
    EXPECT_TRUE(HasQuoteMarker(kMarker + "\r\n"));
    EXPECT_TRUE(HasQuoteMarker("> " + kMarker + " (forwarded)\r\n"));
    EXPECT_TRUE(HasQuoteMarker("------ Original Message ------\r\n"));  // more hyphens still hold it
    EXPECT_TRUE(HasQuoteMarker("Subject: " + kMarker + "\r\n"));
    EXPECT_FALSE(HasQuoteMarker("-----Original Message-----\r\n"));
    EXPECT_FALSE(HasQuoteMarker("----- original message -----\r\n"));
    EXPECT_FALSE(HasQuoteMarker("---- Original Message ----\r\n"));
    EXPECT_FALSE(HasQuoteMarker("----- Original Message ----\r\n"));
    EXPECT_FALSE(HasQuoteMarker("-----  Original Message -----\r\n"));
    EXPECT_FALSE(HasQuoteMarker(""));
}

TEST(Parse, MarkerVariantsAndTheQuotedBlock) {
    ScratchDir dir;
    struct Case {
        std::string line;
        bool shields;
    };
    const std::vector<Case> cases = {
        {kMarker, true},
        {"------ Original Message ------", true},
        {"> " + kMarker + " x", true},
        {"-----Original Message-----", false},
        {"----- original message -----", false},
        {"---- Original Message ----", false},
    };
    for (const auto& c : cases) {
        const std::string bytes =
            Lines({"From: A", "", "body", c.line, "From: B", "To: C", "", "reply", "", "Subject: D", "", "x"});
        const std::string file = dir.Write("q.tmp", bytes);
        const TEmailArray got = ParseOne(file);
        if (c.shields) {
            // The quoted From and To are skipped; the blank line after them ends
            // the quote, and the Subject after the next blank starts a record.
            ASSERT_EQ(got.size(), 2u) << c.line << "\n" << Describe(got);
            EXPECT_EQ(got[0].From, " A");
            EXPECT_EQ(got[0].MessageEnd, got[1].MessageStart);
            EXPECT_EQ(got[1].Subject, " D");
            EXPECT_EQ(got[1].From, "");
        } else {
            ASSERT_EQ(got.size(), 3u) << c.line << "\n" << Describe(got);
            EXPECT_EQ(got[1].From, " B");
            EXPECT_EQ(got[1].To, " C");
        }
    }
}

TEST(Parse, MarkerInsideAnOpenHeaderBlock) {
    ScratchDir dir;
    const std::string bytes = Lines({"From: A", kMarker, "Subject: S", "", "From: X", "", "From: Y", "", "end"});
    const std::string file = dir.Write("m.tmp", bytes);
    const TEmailArray got = ParseOne(file);
    // The closing blank leaves the quote on, so From: X is shielded; the next
    // blank clears it and From: Y opens the second record.
    TEmail first = Record(file, 0, 51, 64);
    first.From = " A";
    TEmail second = Record(file, 64, 73, 80);
    second.From = " Y";
    EXPECT_EQ(got, (TEmailArray{first, second})) << Describe(got);
}

TEST(Parse, HeaderLinesAsWritten) {
    ScratchDir dir;
    // Folded Subject keeps its first line; names in any case; prefixed names and
    // a value right after the colon are ignored; the second Subject wins; a stray
    // CR stays in the value; an empty header stores one space.
    const std::string bytes = Lines({"MIME-Version: 1.0", "fRoM: Ann <ann@example.com>", "SUBJECT: first",
                                     "Subject: Hello", "  world", "X-To: not this", "To:Bob", "Resent-Date: no",
                                     "DATE: Mon, 1 Jan 2001\r", "Return-Path: <x>", "To: ", "", "body"});
    const std::string file = dir.Write("h.tmp", bytes);
    const TEmailArray got = ParseOne(file);
    ASSERT_EQ(got.size(), 1u) << Describe(got);
    EXPECT_EQ(got[0].MessageStart, 19);  // the MIME line before it belongs to no record
    EXPECT_EQ(got[0].From, " Ann <ann@example.com>");
    EXPECT_EQ(got[0].Subject, " Hello");
    EXPECT_EQ(got[0].To, " ");
    EXPECT_EQ(got[0].Date, " Mon, 1 Jan 2001\r");
    EXPECT_EQ(got[0].HeaderEnd, static_cast<std::int64_t>(bytes.size()) - 8);
    EXPECT_EQ(got[0].MessageEnd, static_cast<std::int64_t>(bytes.size()));
}

TEST(Parse, EveryRecognisedNameOpensABlock) {
    ScratchDir dir;
    for (const char* line : {"Return-Path: <a@b>", "Reply-To: a", "Envelope-To: a", "Delivery-Date: a",
                             "Received: from x", "Message-ID: <1@x>"}) {
        const std::string file = dir.Write("n.tmp", Lines({"body", line, "", "text"}));
        EXPECT_EQ(ParseOne(file), (TEmailArray{Record(file, 6, 8 + static_cast<int>(std::strlen(line)),
                                                      16 + static_cast<int>(std::strlen(line)))}))
            << line;
    }
    const std::string none = dir.Write("o.tmp", Lines({"X-From: a", "Content-Type: text/plain", "Froms: b", ""}));
    EXPECT_TRUE(ParseOne(none).empty());
}

TEST(Parse, BlockNeverClosedAndMessagesEndToEnd) {
    ScratchDir dir;
    const std::string open = dir.Write("open.tmp", Lines({"From: A", "Subject: S", "body", "From: B", "tail"}));
    TEmail onlyOne = Record(open, 0, 0, 42);
    onlyOne.From = " B";  // later header lines of the file overwrite the open block
    onlyOne.Subject = " S";
    EXPECT_EQ(ParseOne(open), (TEmailArray{onlyOne}));

    const std::string two = dir.Write("two.tmp", Lines({"From: A", "", "a", "Received: x", "From: B", "", "b"}));
    TEmail a = Record(two, 0, 9, 14);
    a.From = " A";
    TEmail b = Record(two, 14, 36, 41);
    b.From = " B";
    EXPECT_EQ(ParseOne(two), (TEmailArray{a, b}));
}

TEST(Parse, FilesInOrderWithStateResetBetweenThem) {
    ScratchDir dir;
    // The first file ends inside a header block and a quote; the second starts afresh.
    const std::string f1 = dir.Write("msg1.tmp", Lines({"From: A", kMarker}));
    const std::string f2 = dir.Write("msg2.tmp", Lines({"To: B", "", "x"}));
    const std::string f3 = dir.Write("msg3.tmp", Lines({"Date: C"}) + "no end");
    TEmail a = Record(f1, 0, 0, 39);
    a.From = " A";
    TEmail b = Record(f2, 0, 7, 12);
    b.To = " B";
    TEmail c = Record(f3, 0, 0, 9);
    c.Date = " C";
    for (auto* e : {&a, &b, &c}) e->Deleted = 1;
    EXPECT_EQ(ParseMessageFiles({f1, f2, f3}, true), (TEmailArray{a, b, c}));
}

TEST(Parse, FilesWithoutRecords) {
    ScratchDir dir;
    EXPECT_TRUE(ParseMessageFiles({}, false).empty());
    EXPECT_TRUE(ParseOne(dir.Write("empty.tmp", "")).empty());
    EXPECT_TRUE(ParseOne(dir.Write("lf.tmp", "From: A\nSubject: B\n\nbody\n")).empty());
    EXPECT_TRUE(ParseOne(dir.Write("cr.tmp", "From: A\rSubject: B\r\rbody\r")).empty());
    EXPECT_TRUE(ParseOne(dir.Write("nolast.tmp", "From: A")).empty());
}

TEST(Parse, MissingOrUnreadableFileRaisesTheOpenError) {
    ScratchDir dir;
    const std::string good = dir.Write("msg1.tmp", Lines({"From: A", ""}));
    const std::string missing = dir / "msg2.tmp";
    const std::string expected = "Cannot open file \"" + missing + "\". " + SystemErrorText(ENOENT);
    try {
        ParseMessageFiles({good, missing, good}, false);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), expected);
        EXPECT_EQ(e.Path(), missing);
    }
    try {
        FindLineEnd(missing, 0);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), expected);
    }
    // A folder is no message file.
    EXPECT_THROW(ParseMessageFiles({dir / ""}, false), EFOpenError);

    if (::geteuid() != 0) {  // root reads whatever the mode says
        const std::string locked = dir.Write("locked.tmp", Lines({"From: A", ""}));
        ::chmod(locked.c_str(), 0);
        try {
            ParseMessageFiles({locked}, false);
            ADD_FAILURE() << "no error";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + locked + "\". " + SystemErrorText(EACCES));
        }
    }
}

// Bad input: NUL bytes, lone CRs, very long lines.
TEST(BadInput, NulBytesAndLoneCrsAreOrdinaryBytes) {
    ScratchDir dir;
    const std::string bytes = std::string("From: A\0B\r\n", 11) + "Subject: x\ry\r\n" + "To: \r\r\r\n" + "\r\n" +
                              std::string("Da\0te: no\r\n", 11) + "\r\r\n" + "Date: late\r\n";
    const std::string file = dir.Write("nul.tmp", bytes);
    const TEmailArray got = ParseOne(file);
    // The NUL in a name spoils it; CR CR LF is no blank line, but the block
    // was closed before it, so the Date after it opens record 2.
    ASSERT_EQ(got.size(), 2u) << Describe(got);
    EXPECT_EQ(got[0].From, std::string(" A\0B", 4));
    EXPECT_EQ(got[0].Subject, " x\ry");
    EXPECT_EQ(got[0].To, " \r\r");
    EXPECT_EQ(got[0].HeaderEnd, 33);
    EXPECT_EQ(got[1].Date, " late");
    EXPECT_EQ(got[1].MessageEnd, static_cast<std::int64_t>(bytes.size()));
}

TEST(BadInput, LinesOfManyMegabytes) {
    ScratchDir dir;
    const std::string hugeValue = " " + std::string(5'000'000, 'v') + "\r" + std::string(70'000, 'w');
    const std::string hugeBody(6'000'000, 'b');
    const std::string markerFarOn = std::string(3'000'000, '-') + " Original Message -----";
    const std::string bytes = Lines({"From: A", "Subject:" + hugeValue, "", hugeBody, "To: B", "", markerFarOn,
                                     "From: shielded", "", "Received: " + hugeBody, "Date: D", ""});
    const std::string file = dir.Write("huge.tmp", bytes);
    const TEmailArray got = ParseOne(file);
    ASSERT_EQ(got.size(), 3u) << got.size();
    EXPECT_EQ(got[0].Subject, hugeValue);
    EXPECT_EQ(got[0].From, " A");
    EXPECT_EQ(got[0].HeaderEnd, static_cast<std::int64_t>(9 + 8 + hugeValue.size() + 2));
    EXPECT_EQ(got[1].To, " B");
    EXPECT_EQ(got[1].MessageStart, got[0].HeaderEnd + 2 + static_cast<std::int64_t>(hugeBody.size()) + 2);
    EXPECT_EQ(got[2].From, "");
    EXPECT_EQ(got[2].Date, " D");
    EXPECT_EQ(got[2].MessageEnd, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(got[2].MessageStart, got[2].MessageEnd - static_cast<std::int64_t>(10 + hugeBody.size() + 2 + 9 + 2));
}

TEST(BadInput, ALongLineThatIsNoHeaderCostsNoMemory) {
    ScratchDir dir;
    // 96 MB without one CR LF, written in pieces, then 96 MB as one body line.
    const std::string file = dir / "nocrlf.tmp";
    {
        std::ofstream out(file, std::ios::binary);
        out << "From: A\r\n\r\n";
        std::string piece(1 << 20, 'x');
        for (std::size_t i = 0; i < piece.size(); i += 97) piece[i] = '\r';
        for (std::size_t i = 50; i < piece.size(); i += 89)
            if (piece[i - 1] != '\r') piece[i] = '\n';  // lone LFs, never after a CR
        for (int i = 0; i < 96; ++i) out << piece;
        out << "\r\n";
        for (int i = 0; i < 96; ++i) out << piece;
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const TEmailArray got = ParseOne(file);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].MessageEnd, 11 + 96 * (1 << 20) + 2);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "KiB";  // far below either line
}

// The buffered parse against the parse done line by line, one FindLineEnd
// and one read per line, through the public routines.
namespace {

TEmailArray LineByLine(const TMessageFiles& files, bool deleted) {
    TEmailArray out;
    for (const std::string& name : files) {
        bool inHeader = false;
        bool quoted = false;
        std::int64_t lineStart = 0;
        corvane::fs::TReadFile file(name, corvane::fs::Share::All);
        for (;;) {
            const std::int64_t end = FindLineEnd(name, lineStart);
            if (end == -1) {
                if (!out.empty() && out.back().MessageEnd == 0) out.back().MessageEnd = lineStart;
                break;
            }
            std::string line(static_cast<std::size_t>(end - lineStart + 2), '\0');
            file.ReadAt(lineStart, line.data(), line.size());
            if (line == "\r\n") {
                if (inHeader) {
                    out.back().HeaderEnd = lineStart;
                    inHeader = false;
                } else if (quoted) {
                    quoted = false;
                }
            }
            if (HasQuoteMarker(line)) quoted = true;
            const TRPCField field = SplitHeaderLine(line);
            if (field.Valid == 1 && IsKnownHeader(field) && !quoted) {
                if (!inHeader) {
                    if (!out.empty() && out.back().MessageEnd == 0) out.back().MessageEnd = lineStart;
                    TEmail e;
                    e.FileName = name;
                    e.MessageStart = lineStart;
                    e.Deleted = deleted ? 1 : 0;
                    out.push_back(e);
                    inHeader = true;
                }
                out.back() = StoreSummaryField(field, out.back());
            }
            lineStart = end + 2;
        }
    }
    return out;
}

std::string RandomLine(std::mt19937& rng) {
    static const std::vector<std::string> names = {"From", "TO", "subject", "Date", "Received", "Message-ID",
                                                   "Return-Path", "reply-to", "X-Mailer", "MIME-Version",
                                                   "Content-Type", "X-From", "Delivery-Date", "Envelope-To"};
    auto text = [&](std::size_t n) {
        static const std::string chars("abc XYZ:-\t\r\n\0\xE9\xFF", 15);
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += chars[rng() % chars.size()];
        return s;
    };
    const std::string& name = names[rng() % names.size()];
    switch (rng() % 60) {
        case 0: return std::string(70'000 + rng() % 70'000, 'z') + (rng() % 2 ? kMarker : "");
        case 1: return name + ": " + std::string(80'000, 'v') + text(3);
        case 2: return kMarker;
        case 3: return text(rng() % 5) + kMarker.substr(0, 10 + rng() % 19) + text(3);
        case 4: return name + (rng() % 2 ? ":" : " : ") + text(6);
        case 5: return "\t" + text(8);
        default:
            if (rng() % 4 == 0) return "";
            if (rng() % 3 == 0) return text(rng() % 60);
            return name + ": " + text(rng() % 40);
    }
}

}  // namespace

TEST(Parse, AgreesWithTheParseDoneLineByLine) {
    ScratchDir dir;
    std::mt19937 rng(1208);
    std::size_t records = 0;
    for (int round = 0; round < 20; ++round) {
        TMessageFiles files;
        for (int f = 0; f < 3; ++f) {
            std::string bytes;
            while (bytes.size() < 400'000) bytes += RandomLine(rng) + "\r\n";
            if (rng() % 2) bytes += RandomLine(rng);  // text after the last line end
            files.push_back(dir.Write("r" + std::to_string(round) + "_" + std::to_string(f) + ".tmp", bytes));
        }
        const bool deleted = round % 2 == 1;
        const TEmailArray expected = LineByLine(files, deleted);
        const TEmailArray got = ParseMessageFiles(files, deleted);
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "record " << i;
        records += got.size();
    }
    EXPECT_GT(records, 500u);
}

TEST(Parse, LinesAcrossEveryBufferBorderPosition) {
    ScratchDir dir;
    // Places a header line, a marker line and a blank line so that they begin
    // at every position just before 64 KiB (and 128 KiB), where a buffered
    // reader must join pieces.
    for (std::int64_t border : {65536, 131072}) {
        for (std::int64_t before = 0; before <= 40; ++before) {
            const std::int64_t at = border - before;
            // A header line after a blank: it opens record 2 at `at`.
            std::string head = Lines({"From: A", ""});
            std::string pad = std::string(static_cast<std::size_t>(at - static_cast<std::int64_t>(head.size()) - 2), 'p');
            std::string bytes = head + pad + "\r\n" + Lines({"Subject: across the border", "", "b"});
            std::string file = dir.Write("b.tmp", bytes);
            TEmailArray got = ParseOne(file);
            ASSERT_EQ(got.size(), 2u) << at;
            EXPECT_EQ(got[1].MessageStart, at);
            EXPECT_EQ(got[1].Subject, " across the border") << at;
            EXPECT_EQ(got[1].HeaderEnd, at + 28) << at;

            // A marker line there shields the From after it.
            bytes = head + pad + "\r\n" + Lines({"x " + kMarker, "From: B", "", "Date: C", ""});
            file = dir.Write("b.tmp", bytes);
            got = ParseOne(file);
            ASSERT_EQ(got.size(), 2u) << at;
            EXPECT_EQ(got[1].Date, " C");

            // A blank line there closes an open block (its CR and LF may be split).
            head = Lines({"From: A"});
            pad = "X-Pad: " + std::string(static_cast<std::size_t>(at - static_cast<std::int64_t>(head.size()) - 9), 'p');
            bytes = head + pad + "\r\n" + Lines({"", "To: body header"});
            file = dir.Write("b.tmp", bytes);
            got = ParseOne(file);
            ASSERT_EQ(got.size(), 2u) << at;
            EXPECT_EQ(got[0].HeaderEnd, at);
            EXPECT_EQ(got[1].MessageStart, at + 2);
        }
    }
}
