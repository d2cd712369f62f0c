// The header parser: records of message files, the line finder, the line split
// and the bad input a recovered file can hold.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "emailparser/emailparser.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "progress/Progress.h"
#include "support/ProgressSpy.h"
#include "support/TestFiles.h"

void PrintTo(const TEmail& e, std::ostream* os) {
    *os << "{" << e.FileName << " del=" << int(e.Deleted) << " From='" << e.From << "' To='" << e.To
        << "' Subject='" << e.Subject << "' Date='" << e.Date << "' " << e.MessageStart << "," << e.HeaderEnd << ","
        << e.MessageEnd << "}";
}

namespace {

const std::string kMarker = "----- Original Message -----";

namespace support = corvane::testsupport;

class ScratchDir {
public:
    std::string operator/(const std::string& name) const { return folder_ / name; }
    // Writes a file of the given bytes and gives its full name.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(*this / name, std::ios::binary) << bytes;
        return *this / name;
    }

private:
    support::TScratchFolder folder_{"corvane-parser"};
};

// The lines joined, each ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

TEmail Rec(const std::string& file, std::int64_t start, std::int64_t headerEnd, std::int64_t end,
           const std::string& from = "", const std::string& to = "", const std::string& subject = "",
           const std::string& date = "") {
    TEmail e;
    e.FileName = file;
    e.MessageStart = start;
    e.HeaderEnd = headerEnd;
    e.MessageEnd = end;
    e.From = from;
    e.To = to;
    e.Subject = subject;
    e.Date = date;
    return e;
}

TEmailArray Parse(const std::string& file) { return ParseMessageFiles({file}, false); }

std::string WorkedExample() {
    return Lines({"Received: by relay", "From: Ann", "Subject: Hello", "", "Text of the first message", "From: Bob",
                  "Date: Mon", "", "Second body", kMarker, "From: Carl", "", "Last line"});
}

}  // namespace

TEST(WorkedExample, RecordsAndLineEndsByteForByte) {
    ScratchDir dir;
    const std::string bytes = WorkedExample();
    ASSERT_EQ(bytes.size(), 168u);
    const std::string file = dir.Write("msg1.tmp", bytes);
    TEmailArray expected = {Rec(file, 0, 47, 76, " Ann", "", " Hello"), Rec(file, 76, 98, 168, " Bob", "", "", " Mon")};
    EXPECT_EQ(Parse(file), expected);
    for (auto& e : expected) e.Deleted = 1;  // from the deleted list only the flag differs
    EXPECT_EQ(ParseMessageFiles({file}, true), expected);

    // The line finder: the CR of the first pair that begins at or after the offset.
    EXPECT_EQ(FindLineEnd(file, 0), 18);
    EXPECT_EQ(FindLineEnd(file, 18), 18);
    EXPECT_EQ(FindLineEnd(file, 19), 29);
    EXPECT_EQ(FindLineEnd(file, 47), 47);
    EXPECT_EQ(FindLineEnd(file, 166), 166);
    EXPECT_EQ(FindLineEnd(file, 167), -1);
    EXPECT_EQ(FindLineEnd(file, 5000), -1);
    EXPECT_EQ(FindLineEnd(file, -5), 18);  // before the file: from its start

    // Without the last CR LF (166 bytes) the last line is never read.
    const std::string shorter = dir.Write("msg2.tmp", bytes.substr(0, 166));
    EXPECT_EQ(Parse(shorter),
              (TEmailArray{Rec(shorter, 0, 47, 76, " Ann", "", " Hello"), Rec(shorter, 76, 98, 157, " Bob", "", "", " Mon")}));
}

TEST(LineFinder, AgreesWithAPlainSearch) {
    ScratchDir dir;
    std::mt19937 rng(7);
    const char bytes[] = {'\r', '\n', 'a', '\0'};
    for (int round = 0; round < 30; ++round) {
        std::string s;
        for (std::size_t i = rng() % 60; i > 0; --i) s += bytes[rng() % 4];
        const std::string file = dir.Write("f.tmp", s);
        for (std::size_t start = 0; start <= s.size() + 1; ++start) {
            const std::size_t at = s.find("\r\n", start);
            ASSERT_EQ(FindLineEnd(file, static_cast<std::int64_t>(start)),
                      at == std::string::npos ? -1 : static_cast<std::int64_t>(at));
        }
    }
    // Far on, with the pair at places where a reader's blocks may end.
    for (std::size_t at : {1023u, 65535u, 65536u, 300000u}) {
        std::string s(at, 'x');
        s[at / 2] = '\r';
        const std::string file = dir.Write("long.tmp", s + "\r\n");
        EXPECT_EQ(FindLineEnd(file, 0), static_cast<std::int64_t>(at));
    }
}

TEST(HeaderLine, SplitNamesAndMarker) {
    EXPECT_EQ(SplitHeaderLine("Subject: Hi\r\n"), (TRPCField{1, "Subject", " Hi"}));
    EXPECT_EQ(SplitHeaderLine("X-Mailer: a: b\r\n"), (TRPCField{1, "X-Mailer", " a: b"}));
    EXPECT_EQ(SplitHeaderLine("Subject: \r\n"), (TRPCField{1, "Subject", " "}));
    EXPECT_EQ(SplitHeaderLine("Subject: Hi\r\r\n"), (TRPCField{1, "Subject", " Hi\r"}));
    for (const std::string line : {"Subject:Hi\r\n", "Subject:\tHi\r\n", "Subject:\r\n", ": Hi\r\n", " Subject: Hi\r\n",
                                   "\tSubject: Hi\r\n", "My Subject: Hi\r\n", "Sub\xE9ject: Hi\r\n", "no colon\r\n",
                                   "\r\n", "", "a:"})
        EXPECT_EQ(SplitHeaderLine(line), TRPCField{}) << line;
    EXPECT_EQ(SplitHeaderLine(std::string("Sub\0ject: Hi\r\n", 14)), TRPCField{});

    for (const char* name : {"Return-Path", "REPLY-TO", "envelope-to", "Delivery-Date", "Received", "Message-ID",
                             "From", "to", "SUBJECT", "dAtE"})
        EXPECT_TRUE(IsKnownHeader({1, name, " x"})) << name;
    for (const char* name : {"X-From", "Resent-From", "FromX", "Subjects", "Delivery-Dates", "Content-Type", ""})
        EXPECT_FALSE(IsKnownHeader({1, name, " x"})) << name;

    TEmail e;
    for (const TRPCField& f : std::vector<TRPCField>{{1, "FROM", " a"}, {1, "to", " b"}, {1, "Subject", " old"},
                                                     {1, "Subject", " c"}, {1, "DaTe", " d"}, {1, "Received", " r"},
                                                     {1, "X-Subject", " x"}, {1, "Message-ID", " m"}})
        e = StoreSummaryField(f, e);
    EXPECT_EQ(e, Rec("", 0, 0, 0, " a", " b", " c", " d"));

    EXPECT_TRUE(HasQuoteMarker(kMarker + "\r\n"));
    EXPECT_TRUE(HasQuoteMarker("> " + kMarker + " (forwarded)\r\n"));
    EXPECT_TRUE(HasQuoteMarker("------ Original Message ------\r\n"));  // more hyphens still hold it
    for (const char* line : {"-----Original Message-----\r\n", "----- original message -----\r\n",
                             "---- Original Message ----\r\n", "----- Original Message ----\r\n", ""})
        EXPECT_FALSE(HasQuoteMarker(line)) << line;
}

TEST(Parse, MarkerVariants) {
    ScratchDir dir;
    const std::vector<std::pair<std::string, bool>> cases = {
        {kMarker, true},
        {"------ Original Message ------", true},
        {"> " + kMarker + " x", true},
        {"-----Original Message-----", false},
        {"----- original message -----", false},
        {"---- Original Message ----", false},
    };
    for (const auto& [line, shields] : cases) {
        const std::string file =
            dir.Write("q.tmp", Lines({"From: A", "", line, "From: B", "To: C", "", "x", "", "Subject: D", ""}));
        const TEmailArray got = Parse(file);
        // Shielded: the quoted From and To are skipped; the blank line after
        // them ends the quote, and the Subject after the next blank opens record 2.
        ASSERT_EQ(got.size(), shields ? 2u : 3u) << line;
        EXPECT_EQ(got[1].From, shields ? "" : " B") << line;
        EXPECT_EQ(got.back().Subject, " D");
    }
}

TEST(Parse, MarkerInsideAnOpenHeaderBlock) {
    ScratchDir dir;
    const std::string file =
        dir.Write("m.tmp", Lines({"From: A", kMarker, "Subject: S", "", "From: X", "", "From: Y", "", "end"}));
    // The closing blank leaves the quote on, so From: X is shielded; the next
    // blank clears it and From: Y opens the second record.
    EXPECT_EQ(Parse(file), (TEmailArray{Rec(file, 0, 51, 64, " A"), Rec(file, 64, 73, 80, " Y")}));
}

TEST(Parse, HeaderLinesAsWritten) {
    ScratchDir dir;
    // A MIME line first belongs to no record; names in any case; the folded
    // Subject keeps its first line and the second Subject wins; prefixed names
    // and a value right after the colon are ignored; a stray CR stays in the
    // value; an empty header stores one space.
    const std::string bytes = Lines({"MIME-Version: 1.0", "fRoM: Ann <ann@example.com>", "SUBJECT: first",
                                     "Subject: Hello", "  world", "X-To: not this", "To:Bob", "Resent-Date: no",
                                     "DATE: Mon\r", "Return-Path: <x>", "To: ", "", "body"});
    const std::string file = dir.Write("h.tmp", bytes);
    const auto size = static_cast<std::int64_t>(bytes.size());
    EXPECT_EQ(Parse(file), (TEmailArray{Rec(file, 19, size - 8, size, " Ann <ann@example.com>", " ", " Hello", " Mon\r")}));

    // Each of the six names that store nothing still opens a record.
    for (const std::string line : {"Return-Path: <a@b>", "Reply-To: a", "Envelope-To: a", "Delivery-Date: a",
                                   "Received: from x", "Message-ID: <1@x>"}) {
        const std::string f = dir.Write("n.tmp", Lines({"body", line, "", "text"}));
        const auto n = static_cast<std::int64_t>(line.size());
        EXPECT_EQ(Parse(f), (TEmailArray{Rec(f, 6, 8 + n, 16 + n)})) << line;
    }
}

TEST(Parse, BlocksAcrossMessagesAndFiles) {
    ScratchDir dir;
    // A block no blank line closes: later header lines of the file overwrite it.
    const std::string open = dir.Write("open.tmp", Lines({"From: A", "Subject: S", "body", "From: B", "tail"}));
    EXPECT_EQ(Parse(open), (TEmailArray{Rec(open, 0, 0, 42, " B", "", " S")}));
    // Two messages end to end.
    const std::string two = dir.Write("two.tmp", Lines({"From: A", "", "a", "Received: x", "From: B", "", "b"}));
    EXPECT_EQ(Parse(two), (TEmailArray{Rec(two, 0, 9, 14, " A"), Rec(two, 14, 36, 41, " B")}));
    // Files in list order; the first ends inside a header block and a quote,
    // the next starts afresh; text after the last CR LF lies outside the record.
    const std::string f1 = dir.Write("msg1.tmp", Lines({"From: A", kMarker}));
    const std::string f2 = dir.Write("msg2.tmp", Lines({"To: B", "", "x"}));
    const std::string f3 = dir.Write("msg3.tmp", Lines({"Date: C"}) + "To: no end");
    TEmailArray expected = {Rec(f1, 0, 0, 39, " A"), Rec(f2, 0, 7, 12, "", " B"), Rec(f3, 0, 0, 9, "", "", "", " C")};
    for (auto& e : expected) e.Deleted = 1;
    EXPECT_EQ(ParseMessageFiles({f1, f2, f3}, true), expected);
    // Nothing to find.
    EXPECT_TRUE(ParseMessageFiles({}, false).empty());
    for (const std::string bytes : {"", "From: A\nSubject: B\n\nbody\n", "From: A\rSubject: B\r\rbody\r", "From: A"})
        EXPECT_TRUE(Parse(dir.Write("none.tmp", bytes)).empty()) << bytes;
}

TEST(Parse, FileThatCannotBeOpenedRaisesTheOpenError) {
    ScratchDir dir;
    const std::string good = dir.Write("msg1.tmp", Lines({"From: A", ""}));
    const std::string missing = dir / "msg2.tmp";
    auto openError = [](auto call) {
        try {
            call();
        } catch (const EFOpenError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    const std::string expected = "Cannot open file \"" + missing + "\". " + SystemErrorText(support::ErrorCodes().NoSuchFile);
    EXPECT_EQ(openError([&] { ParseMessageFiles({good, missing, good}, false); }), expected);
    EXPECT_EQ(openError([&] { FindLineEnd(missing, 0); }), expected);
    EXPECT_NE(openError([&] { ParseMessageFiles({dir / ""}, false); }), "no error");  // a folder
    if (support::PermissionBitsApply()) {  // root reads whatever the mode says; Windows has no such bits
        std::filesystem::permissions(good, std::filesystem::perms::none);
        EXPECT_EQ(openError([&] { ParseMessageFiles({good}, false); }),
                  "Cannot open file \"" + good + "\". " + SystemErrorText(support::ErrorCodes().AccessDenied));
    }
}

TEST(BadInput, NulBytesLoneCrsAndLinesOfManyMegabytes) {
    ScratchDir dir;
    // The NUL in a name spoils it, in a value it stays; CR CR LF is no blank line.
    const std::string nul = std::string("From: A\0B\r\n", 11) + "Subject: x\ry\r\nTo: \r\r\r\n\r\n" +
                            std::string("Da\0te: no\r\n", 11) + "\r\r\nDate: late\r\n";
    const std::string f = dir.Write("nulbytes.tmp", nul);  // not "nul.*": on Windows that is the null device
    EXPECT_EQ(Parse(f), (TEmailArray{Rec(f, 0, 33, 49, std::string(" A\0B", 4), " \r\r", " x\ry"),
                                     Rec(f, 49, 0, 61, "", "", "", " late")}));

    const std::string hugeValue = std::string(1, ' ').append(5'000'000, 'v').append("\r").append(70'000, 'w');
    const std::string hugeBody(6'000'000, 'b');
    const std::string markerFarOn = std::string(3'000'000, '-') + " Original Message -----";
    const std::string bytes = Lines({"From: A", "Subject:" + hugeValue, "", hugeBody, "To: B", "", markerFarOn,
                                     "From: shielded", "", "Received: " + hugeBody, "Date: D", ""});
    const std::string file = dir.Write("huge.tmp", bytes);
    const auto hv = static_cast<std::int64_t>(hugeValue.size());
    const auto hb = static_cast<std::int64_t>(hugeBody.size());
    const auto size = static_cast<std::int64_t>(bytes.size());
    const std::int64_t second = 19 + hv + 2 + hb + 2;
    const std::int64_t third = size - (10 + hb + 2 + 9 + 2);
    EXPECT_EQ(Parse(file), (TEmailArray{Rec(file, 0, 19 + hv, second, " A", "", hugeValue),
                                        Rec(file, second, second + 7, third, "", " B"),
                                        Rec(file, third, size - 2, size, "", "", "", " D")}));
}

TEST(BadInput, FilesOfOnlyCrsOrOnlyCrLfsOrOneHundredMegabyteHeaderLine) {
    ScratchDir dir;
    // Lone CRs end no line: one line without an end, no header block.
    const std::string crs = dir.Write("crs.tmp", std::string(1 << 20, '\r'));
    EXPECT_TRUE(Parse(crs).empty());
    EXPECT_EQ(FindLineEnd(crs, 0), -1);
    // Only blank lines: no header block either.
    std::string blank;
    for (int i = 0; i < 500'000; ++i) blank += "\r\n";
    const std::string crlfs = dir.Write("crlfs.tmp", blank);
    EXPECT_TRUE(Parse(crlfs).empty());
    EXPECT_EQ(FindLineEnd(crlfs, 0), 0);
    EXPECT_EQ(FindLineEnd(crlfs, 1), 2);
    EXPECT_EQ(FindLineEnd(crlfs, static_cast<std::int64_t>(blank.size()) - 1), -1);
    // One header line of 100 MB: its value is kept whole.
    const std::size_t huge = 100'000'000;
    const std::string file = dir / "huge.tmp";
    {
        std::ofstream out(file, std::ios::binary);
        out << "Subject: ";
        out << std::string(huge, 's');
        out << "\r\n\r\nbody\r\n";
    }
    const TEmailArray emails = Parse(file);
    ASSERT_EQ(emails.size(), 1u);
    EXPECT_EQ(emails[0].Subject.size(), huge + 1);
    EXPECT_EQ(emails[0].HeaderEnd, static_cast<std::int64_t>(9 + huge + 2));
    EXPECT_EQ(emails[0].MessageEnd, static_cast<std::int64_t>(9 + huge + 10));
    EXPECT_EQ(FindLineEnd(file, 0), static_cast<std::int64_t>(9 + huge));
}

TEST(BadInput, ALongLineThatIsNoHeaderCostsNoMemory) {
    ScratchDir dir;
    // 96 MiB as one body line, then 96 MiB without a CR LF; lone CRs and LFs in both.
    const std::string file = dir / "long.tmp";
    {
        std::ofstream out(file, std::ios::binary);
        out << "From: A\r\n\r\n";
        std::string piece(1 << 20, 'x');
        for (std::size_t i = 0; i < piece.size(); i += 97) piece[i] = '\r';
        for (std::size_t i = 50; i < piece.size(); i += 89)
            if (piece[i - 1] != '\r') piece[i] = '\n';
        for (int i = 0; i < 96; ++i) out << piece;
        out << "\r\n";
        for (int i = 0; i < 96; ++i) out << piece;
    }
    const std::int64_t before = support::PeakMemoryKiB();
    const TEmailArray got = Parse(file);
    const std::int64_t after = support::PeakMemoryKiB();
    EXPECT_EQ(got, (TEmailArray{Rec(file, 0, 9, 11 + 96 * (1 << 20) + 2, " A")}));
    EXPECT_LT(after - before, 16 * 1024) << "KiB";  // far below either line
}

// The buffered parse against a parse done line by line, one FindLineEnd and
// one read per line, through the public routines.
namespace {

TEmailArray LineByLine(const TMessageFiles& files, bool deleted) {
    TEmailArray out;
    for (const std::string& name : files) {
        bool inHeader = false;
        bool quoted = false;
        std::int64_t lineStart = 0;
        corvane::fs::TReadFile file(name, corvane::fs::Share::All);
        for (std::int64_t end; (end = FindLineEnd(name, lineStart)) != -1; lineStart = end + 2) {
            std::string line(static_cast<std::size_t>(end - lineStart + 2), '\0');
            file.ReadAt(lineStart, line.data(), line.size());
            if (line == "\r\n") {
                if (inHeader) out.back().HeaderEnd = lineStart;
                else quoted = false;
                inHeader = false;
            }
            if (HasQuoteMarker(line)) quoted = true;
            const TRPCField field = SplitHeaderLine(line);
            if (field.Valid != 1 || !IsKnownHeader(field) || quoted) continue;
            if (!inHeader) {
                if (!out.empty() && out.back().MessageEnd == 0) out.back().MessageEnd = lineStart;
                out.push_back(Rec(name, lineStart, 0, 0));
                out.back().Deleted = deleted ? 1 : 0;
                inHeader = true;
            }
            out.back() = StoreSummaryField(field, out.back());
        }
        if (!out.empty() && out.back().MessageEnd == 0) out.back().MessageEnd = lineStart;
    }
    return out;
}

std::string RandomLine(std::mt19937& rng) {
    static const std::vector<std::string> names = {"From", "TO", "subject", "Date", "Received", "Message-ID",
                                                   "Return-Path", "reply-to", "X-Mailer", "MIME-Version",
                                                   "Content-Type", "X-From", "Delivery-Date", "Envelope-To"};
    static const std::string chars("abc XYZ:-\t\r\n\0\xE9\xFF", 15);
    auto text = [&](std::size_t n) {
        std::string s;
        for (; n > 0; --n) s += chars[rng() % chars.size()];
        return s;
    };
    const std::string& name = names[rng() % names.size()];
    switch (rng() % 60) {
        case 0: return std::string(70'000 + rng() % 70'000, 'z') + (rng() % 2 ? kMarker : "");
        case 1: return name + ": " + std::string(80'000, 'v') + text(3);
        case 2: return kMarker;
        case 3: return text(rng() % 5) + kMarker.substr(0, 10 + rng() % 19) + text(3);
        case 4: return name + (rng() % 2 ? ":" : " : ") + text(6);
        case 5: return std::string("\t").append(text(8));
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
            while (bytes.size() < 400'000) {
                bytes += RandomLine(rng);
                bytes += "\r\n";
            }
            if (rng() % 2) bytes += RandomLine(rng);  // text after the last line end
            files.push_back(dir.Write("msg" + std::to_string(3 * round + f), bytes));
        }
        const TEmailArray got = ParseMessageFiles(files, round % 2 == 1);
        ASSERT_EQ(got, LineByLine(files, round % 2 == 1)) << "round " << round;
        records += got.size();
    }
    EXPECT_GT(records, 500u);
}

TEST(Parse, LinesAcrossEveryBufferBorderPosition) {
    ScratchDir dir;
    // A header line, a marker line and a blank line that begin at every
    // position just before 64 KiB and 128 KiB, where a buffered reader joins pieces.
    for (std::int64_t border : {65536, 131072}) {
        for (std::int64_t at = border - 40; at <= border; ++at) {
            const std::string pad(static_cast<std::size_t>(at - 13), 'p');
            std::string f = dir.Write("b.tmp", Lines({"From: A", "", pad, "Subject: across the border", "", "b"}));
            EXPECT_EQ(Parse(f), (TEmailArray{Rec(f, 0, 9, at, " A"), Rec(f, at, at + 28, at + 33, "", "", " across the border")}));

            f = dir.Write("b.tmp", Lines({"From: A", "", pad, "x " + kMarker, "From: B", "", "Date: C", ""}));
            const TEmailArray shielded = Parse(f);
            ASSERT_EQ(shielded.size(), 2u) << at;
            EXPECT_EQ(shielded[1].Date, " C");

            f = dir.Write("b.tmp", Lines({"From: A", "X-Pad: " + std::string(static_cast<std::size_t>(at - 18), 'p'), "",
                                          "To: body header"}));
            EXPECT_EQ(Parse(f), (TEmailArray{Rec(f, 0, at, at + 2, " A"), Rec(f, at + 2, 0, at + 19, "", " body header")}));
        }
    }
}

TEST(Parse, ReportsEachPieceReadAndCanBeStopped) {
    ScratchDir dir;
    const std::vector<std::string> files = {dir.Write("a.tmp", Lines({"From: A", "", "body"})),
                                            dir.Write("b.tmp", Lines({"From: B", "", "body"})),
                                            dir.Write("c.tmp", Lines({"From: C", "", "body"}))};
    corvane::testsupport::TProgressSpy all;
    EXPECT_EQ(ParseMessageFiles(files, false, false, &all).size(), 3u);
    EXPECT_EQ(all.Reports(), 3);  // one piece a file
    EXPECT_EQ(all.Stages(), std::set<std::string>{kParseStage});
    corvane::testsupport::TProgressSpy stop;
    stop.StopAt = 2;
    EXPECT_THROW(ParseMessageFiles(files, false, false, &stop), corvane::ECancelled);
}

// The parse fed from memory in pieces against the parse of the files on disk.
namespace {

// Feeds each file's bytes cut at random places (pieces of 0 bytes to a few
// lines, now and then a long one) and gives the records.
TEmailArray FedInPieces(const std::vector<std::pair<std::string, std::string>>& files, bool deleted, std::mt19937& rng) {
    TMessageParser parser(deleted);
    for (const auto& [name, bytes] : files) {
        parser.BeginFile(name);
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t cut = rng() % 8 == 0 ? rng() % 200'000 : rng() % 40;
            const std::size_t n = std::min(cut, bytes.size() - at);
            parser.Feed(bytes.data() + at, n);
            at += n;
        }
        parser.EndFile();
    }
    return parser.Take();
}

}  // namespace

TEST(Parse, TextFedInPiecesGivesTheRecordsOfTheFiles) {
    ScratchDir dir;
    std::mt19937 rng(5150);
    // Line ends, markers and header heads that a cut can split.
    const std::vector<std::string> tails = {"", "x", "\r", "\r\r", "From: half", "----- Original Me", "Subject:"};
    std::size_t records = 0;
    for (int round = 0; round < 40; ++round) {
        std::vector<std::pair<std::string, std::string>> files;
        TMessageFiles names;
        for (int f = 0; f < 1 + round % 4; ++f) {
            std::string bytes;
            const std::size_t size = rng() % 3 == 0 ? rng() % 64 : 20'000 + rng() % 300'000;
            while (bytes.size() < size) {
                bytes += RandomLine(rng);
                bytes += rng() % 7 == 0 ? "\r\r\n" : "\r\n";
            }
            bytes += tails[rng() % tails.size()];
            names.push_back(dir.Write(std::to_string(round) + "_" + std::to_string(f) + ".tmp", bytes));
            files.emplace_back(names.back(), std::move(bytes));
        }
        const bool deleted = round % 2 == 0;
        const TEmailArray expected = ParseMessageFiles(names, deleted);
        ASSERT_EQ(FedInPieces(files, deleted, rng), expected) << "round " << round;
        records += expected.size();
    }
    EXPECT_GT(records, 500u);
}

TEST(Parse, EdgeCasesFedByteByByte) {
    ScratchDir dir;
    // Byte-sized pieces put every border between two pieces.
    const std::vector<std::string> texts = {
        "",
        "From: no line end",
        "\r\n",
        "From: A\r\r\nSubject: cr kept\r\r\n\r\nbody\r\nTo: late\r\n",
        WorkedExample(),
        WorkedExample().substr(0, WorkedExample().size() - 2),
        Lines({"From: A", "x " + kMarker + " y", "To: shielded", "", "", "Date: next"}),
        Lines({"From: A", "-----", kMarker.substr(0, 14)}) + kMarker.substr(14) + "\r\n\r\nTo: B\r\n",
    };
    std::mt19937 rng(7);
    for (const std::string& text : texts) {
        const std::string name = dir.Write("edge.tmp", text);
        TMessageParser parser(true);
        parser.BeginFile(name);
        for (char c : text) parser.Feed(&c, 1);
        parser.EndFile();
        const TEmailArray expected = ParseMessageFiles({name}, true);
        EXPECT_EQ(parser.Take(), expected) << text;
        EXPECT_EQ(FedInPieces({{name, text}}, true, rng), expected) << text;
    }
    // A parser keeps no state of one file into the next, and Take empties it.
    TMessageParser parser(false);
    parser.BeginFile("a");
    const std::string open = "From: A\r\n" + kMarker + "\r\nFrom: half a li";
    parser.Feed(open.data(), open.size());
    parser.EndFile();
    parser.BeginFile("b");
    const std::string next = "ne\r\nTo: B\r\n";
    parser.Feed(next.data(), next.size());
    parser.EndFile();
    EXPECT_EQ(parser.Take(), (TEmailArray{Rec("a", 0, 0, 39, " A"), Rec("b", 4, 0, 11, "", " B")}));
    EXPECT_TRUE(parser.Take().empty());
}
