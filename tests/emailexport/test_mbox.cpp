// The mbox writer: the separator line's sender and date, the copy of the
// message text (line ends, quoting of "From " lines), the order of records,
// and the temporary file that only becomes the chosen file when complete.
// (A folder without write permission, a full disk and the file's mode bits:
// mbox_posix.cpp.)

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "MboxTestSupport.h"
#include "outlookfile/outlookfile.h"
#include "platform/Errors.h"
#include "support/DbxFixture.h"
#include "support/ProgressSpy.h"

using namespace mboxtest;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

// What a reader expects of one message text in the mbox, worked out line by
// line: CR LF as LF, one more '>' before ">*From ", a last line end.
std::string Expected(const std::string& text) {
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lf += text[i];
    }
    static const std::regex kFromLine("^>*From ");
    std::string out;
    std::size_t start = 0;
    while (start < lf.size()) {
        std::size_t end = lf.find('\n', start);
        std::string line = lf.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (std::regex_search(line, kFromLine)) out += '>';
        out += line + '\n';
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

const std::string kExportAsctime = "Mon Jan  2 15:04:05 2006";

}  // namespace

// --- the separator line ---------------------------------------------------------

TEST(EnvelopeSender, TheAddressOfTheFromHeader) {
    const struct {
        const char* from;
        const char* sender;
    } cases[] = {
        {" \"Maud Pellow\" <maud@fenwick.example>", "maud@fenwick.example"},
        {" Maud Pellow <maud@fenwick.example>", "maud@fenwick.example"},
        {" maud@fenwick.example", "maud@fenwick.example"},
        {" maud@fenwick.example (Maud Pellow)", "maud@fenwick.example"},
        {" (Maud <old@x.example>) maud@fenwick.example", "maud@fenwick.example"},
        {" \"Pellow, Maud <boss>\" <maud@fenwick.example>", "maud@fenwick.example"},
        {" \"Maud \\\" <q@x>\" <maud@fenwick.example>", "maud@fenwick.example"},
        {" =?iso-8859-1?Q?Ma=FCd?= <maud@fenwick.example>", "maud@fenwick.example"},
        {" Maud < maud@fenwick.example >", "maud@fenwick.example"},
        {" Maud <maud@fenwick.example", "maud@fenwick.example"},
        {" <@relay.example:maud@fenwick.example>", "maud@fenwick.example"},
        {" maud@fenwick.example, ivo@fenwick.example", "maud@fenwick.example"},
        {" Maud Pellow maud@fenwick.example", "maud@fenwick.example"},
        {" root", "root"},
        {"maud@fenwick.example", "maud@fenwick.example"},  // no leading space
        {" <m aud@fen\twick.example>", "maud@fenwick.example"},
        {" <ma[??]ud@fenwick.example>", "ma[??]ud@fenwick.example"},
        // No address at all.
        {"", "MAILER-DAEMON"},
        {" ", "MAILER-DAEMON"},
        {" <>", "MAILER-DAEMON"},
        {" Maud Pellow", "MAILER-DAEMON"},
        {" (only a comment)", "MAILER-DAEMON"},
        {" undisclosed-recipients:;", "MAILER-DAEMON"},
        {" \"Maud Pellow\"", "MAILER-DAEMON"},
    };
    for (const auto& c : cases) EXPECT_EQ(EnvelopeSender(c.from), c.sender) << "From:" << c.from;
}

TEST(ParseMessageDate, DatesOfTheStandardAndItsObsoleteForms) {
    const struct {
        const char* date;
        const char* utc;  // asctime form, nullptr: no date
    } cases[] = {
        {" Mon, 5 May 2003 10:00:00 +0100", "Mon May  5 09:00:00 2003"},
        {"Mon, 2 Jan 2006 15:04:05 -0700", "Mon Jan  2 22:04:05 2006"},
        {"Thu, 1 Jan 2004 00:30:00 +0100", "Wed Dec 31 23:30:00 2003"},
        {"Wed, 31 Dec 2003 23:30:00 -0130", "Thu Jan  1 01:00:00 2004"},
        {"2 Jan 2006 15:04:05 +0000", "Mon Jan  2 15:04:05 2006"},            // no weekday
        {"Mon 2 Jan 2006 15:04:05 +0000", "Mon Jan  2 15:04:05 2006"},        // weekday without comma
        {"Monday, 2 January 2006 15:04:05 +0000", "Mon Jan  2 15:04:05 2006"},
        {"Mon , 2 Jan 2006 15 : 04 : 05 +0000", "Mon Jan  2 15:04:05 2006"},  // obsolete white space
        {"mon, 02 jan 2006 15:04:05 +0000", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 15:04 +0000", "Mon Jan  2 15:04:00 2006"},          // no seconds
        {"Mon, 2 Jan 2006 5:04:05 +0000", "Mon Jan  2 05:04:05 2006"},
        {"Mon, 2 Jan 06 15:04:05 +0000", "Mon Jan  2 15:04:05 2006"},         // two-digit years
        {"Thu, 1 Jan 70 00:00:00 +0000", "Thu Jan  1 00:00:00 1970"},
        {"Sat, 1 Jan 49 00:00:00 +0000", "Fri Jan  1 00:00:00 2049"},
        {"Sun, 1 Jan 50 00:00:00 +0000", "Sun Jan  1 00:00:00 1950"},
        {"Wed, 1 Jan 103 12:00:00 +0000", "Wed Jan  1 12:00:00 2003"},        // three-digit year
        {"Mon, 2 Jan 2006 15:04:05 GMT", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 15:04:05 UT", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 10:04:05 EST", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 11:04:05 EDT", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 09:04:05 CST", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 10:04:05 cdt", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 08:04:05 MST", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 09:04:05 MDT", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 07:04:05 PST", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 08:04:05 PDT", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 15:04:05 Z", "Mon Jan  2 15:04:05 2006"},           // military letters: +0000
        {"Mon, 2 Jan 2006 15:04:05 A", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 15:04:05 y", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 15:04:05 CEST", "Mon Jan  2 15:04:05 2006"},        // unknown name: +0000
        {"Mon, 2 Jan 2006 15:04:05", "Mon Jan  2 15:04:05 2006"},             // no zone
        {"Mon, 2 Jan 2006 16:04:05 +01:00", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 16:04:05 +0100 (CET)", "Mon Jan  2 15:04:05 2006"},
        {"(Mon) 2 (day (nested)) Jan 2006 16:04:05 +0100", "Mon Jan  2 15:04:05 2006"},
        {"Mon, 2 Jan 2006 16:04:05 +0100 GMT", "Mon Jan  2 15:04:05 2006"},
        {"Sun, 29 Feb 2004 00:00:00 +0000", "Sun Feb 29 00:00:00 2004"},
        {"Fri, 13 Dec 1901 20:45:52 +0000", "Fri Dec 13 20:45:52 1901"},     // before 1970
        {"Sat, 31 Dec 2005 23:59:60 +0000", "Sun Jan  1 00:00:00 2006"},     // a leap second
        // Not dates.
        {"", nullptr},
        {" ", nullptr},
        {"yesterday", nullptr},
        {"Mon, 2 Jnu 2006 15:04:05 +0000", nullptr},
        {"Foo, 2 Jan 2006 15:04:05 +0000", nullptr},
        {"Mon, 2 Jan 15:04:05 +0000", nullptr},
        {"Mon, 2 Jan 2006", nullptr},
        {"Mon, 2 Jan 2006 15 +0000", nullptr},
        {"Mon, 29 Feb 2003 00:00:00 +0000", nullptr},
        {"Mon, 31 Apr 2003 00:00:00 +0000", nullptr},
        {"Mon, 0 Apr 2003 00:00:00 +0000", nullptr},
        {"Mon, 2 Jan 2006 24:00:00 +0000", nullptr},
        {"Mon, 2 Jan 2006 15:60:00 +0000", nullptr},
        {"Mon, 2 Jan 2006 15:04:61 +0000", nullptr},
        {"Mon, 2 Jan 2006 15:04:05 +0160", nullptr},
        {"Mon, 2 Jan 2006 15:04:05 +01", nullptr},
        {"Mon, 2 Jan 20061 15:04:05 +0000", nullptr},
        {"Mon, 2 Jan 0999 15:04:05 +0000", nullptr},
        {"Mon, 123 Jan 2006 15:04:05 +0000", nullptr},
        {"2006-01-02T15:04:05Z", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<std::time_t> t = ParseMessageDate(c.date);
        if (c.utc == nullptr) {
            EXPECT_FALSE(t.has_value()) << "Date:" << c.date << " gave " << AsctimeUtc(*t);
        } else {
            ASSERT_TRUE(t.has_value()) << "Date:" << c.date;
            EXPECT_EQ(AsctimeUtc(*t), c.utc) << "Date:" << c.date;
        }
    }
}

TEST(AsctimeUtc, DayPaddedWithASpaceAndTheTimeInUtc) {
    const struct {
        std::time_t t;
        const char* text;
    } cases[] = {
        {0, "Thu Jan  1 00:00:00 1970"},
        {kExportTime, "Mon Jan  2 15:04:05 2006"},
        {951782400, "Tue Feb 29 00:00:00 2000"},
        {1700000000, "Tue Nov 14 22:13:20 2023"},
        {-1, "Wed Dec 31 23:59:59 1969"},
        {4102444799, "Thu Dec 31 23:59:59 2099"},
    };
    for (const auto& c : cases) EXPECT_EQ(AsctimeUtc(c.t), c.text) << c.t;
}

TEST(SeparatorLine, SenderAndDateOrTheirStandIns) {
    TEmail e;
    e.From = " \"Maud\" <maud@fenwick.example>";
    e.Date = " Mon, 5 May 2003 10:00:00 +0100";
    EXPECT_EQ(SeparatorLine(e, kExportTime), "From maud@fenwick.example Mon May  5 09:00:00 2003\n");
    e.Date = " sometime in May";
    EXPECT_EQ(SeparatorLine(e, kExportTime), "From maud@fenwick.example " + kExportAsctime + "\n");
    e.From.clear();
    e.Date.clear();
    EXPECT_EQ(SeparatorLine(e, kExportTime), "From MAILER-DAEMON " + kExportAsctime + "\n");
}

// --- the message text ------------------------------------------------------------

struct TTextCase {
    std::string text;
    std::string mbox;  // what follows the separator line, the empty line included;
                       // a text with no empty line also gets the one that ends its headers
};

const TTextCase kTextCases[] = {
    {"A: b\r\n\r\nline\r\n", "A: b\n\nline\n\n"},
    {"A: b\r\n\r\nFrom me to you\r\n", "A: b\n\n>From me to you\n\n"},
    {"From the start\r\n", ">From the start\n\n\n"},
    {"b\r\n>From x\r\n>>From y\r\n>>>>From z\r\n", "b\n>>From x\n>>>From y\n>>>>>From z\n\n\n"},
    {"From\r\nFrom:\r\n From x\r\nFromage\r\n>From\r\n> From x\r\nfrom x\r\nFrFrom x\r\n",
     "From\nFrom:\n From x\nFromage\n>From\n> From x\nfrom x\nFrFrom x\n\n\n"},
    {"x\r\nFrom \r\n", "x\n>From \n\n\n"},
    {"no final line end", "no final line end\n\n\n"},
    {"a\r\nFrom x", "a\n>From x\n\n\n"},
    {"a\r\n>>Fro", "a\n>>Fro\n\n\n"},
    {"a\r\n>>", "a\n>>\n\n\n"},
    {"bare\nLF\nFrom x\n", "bare\nLF\n>From x\n\n\n"},
    {"lone\rCR\r\n", "lone\rCR\n\n\n"},
    {"ends with CR\r", "ends with CR\r\n\n\n"},
    {"\r\r\n\r\n", "\r\n\n\n"},
    {"\rFrom x\r\n", "\rFrom x\n\n\n"},
    {"x\r\r\nFrom x\r\n", "x\r\n>From x\n\n\n"},
    {"8-bit \xE9\xFC\x80\xFF and tab\t\r\n", "8-bit \xE9\xFC\x80\xFF and tab\t\n\n\n"},
    {"", "\n\n"},
    {"\r\n", "\n\n"},
    {"[??]From x\r\n[??]more", "[??]From x\n[??]more\n\n\n"},
    {"S: x\r\n\r\n" + std::string(300, 'y') + "\r\n>>>From z\r\nFrom w", "S: x\n\n" + std::string(300, 'y') +
                                                                          "\n>>>>From z\n>From w\n\n"},
};

const std::string kSeparator = "From a@example.org Mon May  5 09:00:00 2003\n";

TEST_F(Mbox, MessageTextWithLfLineEndsAndQuotedFromLines) {
    int n = 0;
    for (const TTextCase& c : kTextCases) {
        const std::string name = "case" + std::to_string(n++);
        const TEmailArray records = MessageFile(name + ".tmp", {c.text});
        const TMboxReport report = WriteMbox(All(records), Path(name + ".mbox"), kExportTime);
        EXPECT_EQ(ReadAll(Path(name + ".mbox")), kSeparator + c.mbox) << testing::PrintToString(c.text);
        // The line-by-line working agrees with the table.
        const std::string lines = Expected(c.text);
        const bool headerClosed = lines.rfind('\n', 0) == 0 || lines.find("\n\n") != std::string::npos;
        EXPECT_EQ(lines + (headerClosed ? "\n" : "\n\n"), c.mbox) << testing::PrintToString(c.text);
        EXPECT_EQ(report.Written, 1u);
        EXPECT_EQ(report.MessageBytes, c.text.size());
        EXPECT_EQ(report.MboxBytes, kSeparator.size() + c.mbox.size());
    }
}

// The same texts read in pieces of every small size, so that every CR LF,
// every held ">*From " and every lone CR meets a piece boundary somewhere.
TEST_F(Mbox, LineEndsAndFromLinesAcrossReadPieces) {
    std::vector<std::string> texts;
    std::string expected;
    for (const TTextCase& c : kTextCases) {
        texts.push_back(c.text);
        expected += kSeparator + c.mbox;
    }
    const TEmailArray records = MessageFile("all.tmp", texts);
    for (std::size_t chunk = 1; chunk <= 9; ++chunk) {
        const std::string target = Path("chunk" + std::to_string(chunk) + ".mbox");
        TMboxWriter mbox(target, kExportTime, chunk);
        for (const TEmail& r : records) mbox.Add(r);
        mbox.Commit();
        EXPECT_EQ(ReadAll(target), expected) << "pieces of " << chunk;
        // All at once: texts up to a piece are read ahead whole, longer ones in pieces.
        TMboxWriter ahead(target, kExportTime, chunk);
        ahead.AddAll(All(records));
        ahead.Commit();
        EXPECT_EQ(ReadAll(target), expected) << "read ahead, pieces of " << chunk;
    }
}

TEST_F(Mbox, RecordsInTheGivenOrderEachWithItsSeparator) {
    TEmailArray a = MessageFile("a.tmp", {"Subject: one\r\n\r\nfirst\r\n", "Subject: two\r\n\r\nsecond\r\n"},
                                " Ivo <ivo@fenwick.example>", " Tue, 6 May 2003 11:00:00 -0000");
    TEmailArray b = MessageFile("b.tmp", {"Subject: three\r\n\r\nthird"}, "", "");
    const std::vector<const TEmail*> order = {&b[0], &a[1], nullptr, &a[0], &a[1]};
    const TMboxReport report = WriteMbox(order, Path("out.mbox"), kExportTime);
    EXPECT_EQ(report.Written, 4u);
    const std::string expected =
        "From MAILER-DAEMON " + kExportAsctime + "\nSubject: three\n\nthird\n\n" +
        "From ivo@fenwick.example Tue May  6 11:00:00 2003\nSubject: two\n\nsecond\n\n" +
        "From ivo@fenwick.example Tue May  6 11:00:00 2003\nSubject: one\n\nfirst\n\n" +
        "From ivo@fenwick.example Tue May  6 11:00:00 2003\nSubject: two\n\nsecond\n\n";
    EXPECT_EQ(ReadAll(Path("out.mbox")), expected);
    EXPECT_EQ(report.MboxBytes, expected.size());
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"a.tmp", "b.tmp", "out.mbox"}));
}

// Folder files read by the folder reader: live messages, and deleted ones
// whose text carries the "[??]" of every block.
TEST_F(Mbox, MessagesOfAFolderFileLiveAndDeleted) {
    TDbxWriter dbx(3);
    dbx.ReserveScatteredSlots(40);
    std::string longBody;
    for (int i = 0; i < 40; ++i) longBody += (i % 7 == 3 ? "From the shed, line " : "Line ") + std::to_string(i) + "\r\n";
    // Deleting overwrites the first four text bytes of each block: the first
    // line is given up to that.
    const int gone = dbx.AddMessage("X-Pad: 1\r\nFrom: Ivo <ivo@fenwick.example>\r\nSubject: gone\r\nDate: Tue, 6 May 2003 "
                                    "11:00:00 +0200\r\n\r\n" + longBody,
                                    TBlockOrder::Scattered);
    dbx.AddMessage("From: maud@fenwick.example\r\nSubject: kept\r\nDate: 6 May 03 11:00 EDT\r\n\r\n>From here\r\n" +
                       longBody + "no line end",
                   TBlockOrder::Scattered);
    dbx.AddMessage("Subject: nobody\r\n\r\nFrom nowhere\r\n", TBlockOrder::Ascending);
    dbx.DeleteMessage(gone);
    dbx.Save(Path("folder.dbx"));

    Toutlookfile reader;
    const TEmailArray emails = reader.GetEmails(Path("folder.dbx"), true);
    ASSERT_EQ(emails.size(), 3u);
    ASSERT_EQ(emails[2].Deleted, 1);
    const TMboxReport report = WriteMbox(All(emails), Path("folder.mbox"), kExportTime);
    EXPECT_EQ(report.Written, 3u);

    const std::map<std::string, std::string> separators = {
        {" kept", "From maud@fenwick.example Tue May  6 15:00:00 2003\n"},
        {" nobody", "From MAILER-DAEMON Mon Jan  2 15:04:05 2006\n"},
        {" gone", "From ivo@fenwick.example Tue May  6 09:00:00 2003\n"}};
    std::string expected;
    for (std::size_t i = 0; i < emails.size(); ++i) {
        const std::string text = ReadAll(emails[i].FileName)
                                     .substr(static_cast<std::size_t>(emails[i].MessageStart),
                                             static_cast<std::size_t>(emails[i].MessageEnd - emails[i].MessageStart));
        ASSERT_EQ(separators.count(emails[i].Subject), 1u) << emails[i].Subject;
        expected += separators.at(emails[i].Subject) + Expected(text) + "\n";
    }
    EXPECT_NE(expected.find("[??]"), std::string::npos);
    EXPECT_NE(expected.find("\n>From the shed"), std::string::npos);
    EXPECT_EQ(ReadAll(Path("folder.mbox")), expected);
}

// Records of several reads go into one mbox, each read's before the next
// rewrites the message files.
// Many records of a folder file, live and deleted, short and long: those
// read ahead whole and those longer than a read piece come out in their
// order, each as the line-by-line working gives it.
TEST_F(Mbox, ManyRecordsOfAFolderFileReadAheadAndInPieces) {
    std::mt19937 random(2024);
    TDbxWriter dbx(7);
    dbx.ReserveScatteredSlots(2000);
    for (int m = 0; m < 600; ++m) {
        std::string text = "From: <m" + std::to_string(m) + "@fenwick.example>\r\nSubject: " + std::to_string(m) + "\r\n\r\n";
        const std::size_t lines = random() % 9 == 0 ? 150 : random() % 12;
        for (std::size_t l = 0; l < lines; ++l) text += (l % 5 == 2 ? ">From line " : "line ") + std::to_string(l) + "\r\n";
        const int id = dbx.AddMessage(text, random() % 2 ? TBlockOrder::Scattered : TBlockOrder::Ascending);
        if (random() % 5 == 0) dbx.DeleteMessage(id);
    }
    dbx.Save(Path("folder.dbx"));
    Toutlookfile reader;
    const TEmailArray emails = reader.GetEmails(Path("folder.dbx"), true);
    ASSERT_GT(emails.size(), 500u);

    std::vector<const TEmail*> order = All(emails);
    std::shuffle(order.begin(), order.end(), random);
    std::string expected;
    std::size_t longer = 0;
    for (const TEmail* e : order) {
        const auto length = static_cast<std::size_t>(e->MessageEnd - e->MessageStart);
        longer += length > 1024;
        expected += SeparatorLine(*e, kExportTime) +
                    Expected(ReadAll(e->FileName).substr(static_cast<std::size_t>(e->MessageStart), length)) + "\n";
    }
    ASSERT_GT(longer, 20u);
    TMboxWriter mbox(Path("all.mbox"), kExportTime, 1024);
    mbox.AddAll(order);
    EXPECT_EQ(mbox.Commit().Written, emails.size());
    EXPECT_EQ(ReadAll(Path("all.mbox")), expected);
}

TEST_F(Mbox, OneWriterOverSeveralReads) {
    TMboxWriter mbox(Path("all.mbox"), kExportTime);
    EXPECT_FALSE(stdfs::exists(Path("all.mbox")));
    const TEmailArray first = MessageFile("msg1.tmp", {"Subject: from the first\r\n\r\nx\r\n"});
    mbox.Add(first[0]);
    const TEmailArray second =
        MessageFile("msg1.tmp", {"Subject: from the second\r\n\r\ny\r\n", "Subject: and its next\r\n\r\nz\r\n"});
    mbox.AddAll({&second[1], nullptr, &second[0]});
    EXPECT_FALSE(stdfs::exists(Path("all.mbox")));  // nothing under the chosen name yet
    EXPECT_EQ(mbox.Commit().Written, 3u);
    const std::string separator = "From a@example.org Mon May  5 09:00:00 2003\n";
    EXPECT_EQ(ReadAll(Path("all.mbox")), separator + "Subject: from the first\n\nx\n\n" + separator +
                                             "Subject: and its next\n\nz\n\n" + separator +
                                             "Subject: from the second\n\ny\n\n");
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"all.mbox", "msg1.tmp"}));
}

// Many records over many message files, more than are opened ahead at once,
// some files holding several records in a row and some met again later.
TEST_F(Mbox, ManyRecordsOverManyFilesInTheirOrder) {
    TEmailArray records;
    for (int f = 0; f < 300; ++f) {
        const int n = 1 + f % 3;
        std::vector<std::string> texts;
        for (int m = 0; m < n; ++m) texts.push_back("Subject: " + std::to_string(f) + "." + std::to_string(m) + "\r\n");
        const TEmailArray some = MessageFile("m" + std::to_string(f) + ".tmp", texts);
        records.insert(records.end(), some.begin(), some.end());
    }
    std::vector<const TEmail*> order = All(records);
    for (std::size_t i = 0; i < records.size(); i += 7) order.push_back(&records[i]);
    order.insert(order.begin() + 100, nullptr);

    WriteMbox(order, Path("all.mbox"), kExportTime);
    std::string expected;
    for (const TEmail* r : order)
        if (r != nullptr)
            expected += kSeparator + "Subject: " + ReadAll(r->FileName).substr(static_cast<std::size_t>(r->MessageStart) + 9,
                                                                             static_cast<std::size_t>(r->MessageEnd - r->MessageStart) - 11) +
                        "\n\n\n";  // header lines only: the empty line that ends them is added
    EXPECT_EQ(ReadAll(Path("all.mbox")), expected);

    // A file gone from the middle of the list: its error, and nothing left.
    stdfs::remove(records[450].FileName);
    try {
        WriteMbox(order, Path("again.mbox"), kExportTime);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Path(), records[450].FileName);
    }
    EXPECT_FALSE(stdfs::exists(Path("again.mbox")));
    EXPECT_FALSE(stdfs::exists(Path("again.mbox.part")));
}

// --- the file ----------------------------------------------------------------------

TEST_F(Mbox, AnEmptySelectionGivesAnEmptyFile) {
    WriteAll(Path("old.mbox"), "an older mbox");
    for (const char* name : {"empty.mbox", "old.mbox"}) {
        const TMboxReport report = WriteMbox({}, Path(name), kExportTime);
        EXPECT_EQ(report.Written, 0u);
        EXPECT_TRUE(stdfs::is_regular_file(Path(name)));
        EXPECT_EQ(stdfs::file_size(Path(name)), 0u);
    }
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"empty.mbox", "old.mbox"}));
}

TEST_F(Mbox, AnExistingFileIsReplacedWhole) {
    WriteAll(Path("out.mbox"), std::string(100000, 'o'));
    const TEmailArray records = MessageFile("m.tmp", {"Subject: s\r\n\r\nnew\r\n"});
    WriteMbox(All(records), Path("out.mbox"), kExportTime);
    EXPECT_EQ(ReadAll(Path("out.mbox")), "From a@example.org Mon May  5 09:00:00 2003\nSubject: s\n\nnew\n\n");
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"m.tmp", "out.mbox"}));
}

TEST_F(Mbox, AStopBeforeAnyRecordLeavesTheExistingFileAsItWas) {
    WriteAll(Path("out.mbox"), "the user's mbox");
    const TEmailArray records = MessageFile("m.tmp", {"Subject: 1\r\n\r\na\r\n", "Subject: 2\r\n\r\nb\r\n", "c\r\n"});
    for (int stopAt = 1; stopAt <= 3; ++stopAt) {
        corvane::testsupport::TProgressSpy spy;
        spy.StopAt = stopAt;
        EXPECT_THROW(WriteMbox(All(records), Path("out.mbox"), kExportTime, &spy), corvane::ECancelled);
        EXPECT_EQ(spy.Reports(), stopAt);
        EXPECT_EQ(ReadAll(Path("out.mbox")), "the user's mbox");
        EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"m.tmp", "out.mbox"}));
    }
    corvane::testsupport::TProgressSpy spy;
    EXPECT_EQ(WriteMbox(All(records), Path("out.mbox"), kExportTime, &spy).Written, 3u);
    EXPECT_EQ(spy.Reports(), 4);  // one per record and the end
    EXPECT_EQ(spy.Stages(), std::set<std::string>{kMboxStage});
}

TEST_F(Mbox, ALeftoverTemporaryFileIsNotTouched) {
    WriteAll(Path("out.mbox.part"), "left from a crash");
    WriteAll(Path("out.mbox.part1"), "and another");
    const TEmailArray records = MessageFile("m.tmp", {"x\r\n"});
    WriteMbox(All(records), Path("out.mbox"), kExportTime);
    EXPECT_EQ(ReadAll(Path("out.mbox.part")), "left from a crash");
    EXPECT_EQ(ReadAll(Path("out.mbox.part1")), "and another");
    // (A text without an empty line gets the one that ends its headers.)
    EXPECT_EQ(ReadAll(Path("out.mbox")), "From a@example.org Mon May  5 09:00:00 2003\nx\n\n\n");
}

TEST_F(Mbox, AFolderThatCannotBeWrittenRaisesTheCreateError) {
    const TEmailArray records = MessageFile("m.tmp", {"x\r\n"});
    WriteAll(Path("plain"), "a file, not a folder");
    const std::vector<std::string> targets = {Path("plain/out.mbox"), Path("missing/out.mbox")};
    for (const std::string& target : targets) {
        try {
            WriteMbox(All(records), target, kExportTime);
            ADD_FAILURE() << "no error for " << target;
        } catch (const EFCreateError& e) {
            EXPECT_EQ(e.Path(), target);
            EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + target + "\". ", 0), 0u) << e.what();
            EXPECT_FALSE(e.Reason().empty());
        }
    }
    EXPECT_EQ(ReadAll(Path("plain")), "a file, not a folder");
}

// Whatever fails, a file of the chosen name keeps its bytes and no temporary
// file stays behind.
TEST_F(Mbox, AFailedWriteKeepsTheExistingFileWhole) {
    const std::string kept = "From x@y Thu Jan  1 00:00:00 1970\nthe mbox of last week\n\n";
    TEmailArray records = MessageFile("m.tmp", {"Subject: a\r\n\r\na\r\n", "Subject: b\r\n\r\nb\r\n"});

    // A message file removed since the read.
    TEmail gone = records[1];
    gone.FileName = Path("no-such.tmp");
    // A message file that ends before the record does.
    TEmail cut = records[1];
    cut.MessageEnd = cut.MessageStart + 100000;

    for (const TEmail* bad : {&gone, &cut}) {
        WriteAll(Path("out.mbox"), kept);
        EXPECT_THROW(WriteMbox({&records[0], bad}, Path("out.mbox"), kExportTime), ECorvaneError);
        EXPECT_EQ(ReadAll(Path("out.mbox")), kept);
        EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"m.tmp", "out.mbox"}));
    }
    try {
        WriteMbox({&gone}, Path("out.mbox"), kExportTime);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Path(), gone.FileName);
    }

    // The chosen name is a folder: the rename fails at the very end.
    stdfs::create_directory(Path("taken.mbox"));
    WriteAll(Path("taken.mbox/inside"), "kept");
    try {
        WriteMbox(All(records), Path("taken.mbox"), kExportTime);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Path(), Path("taken.mbox"));
    }
    EXPECT_EQ(ReadAll(Path("taken.mbox/inside")), "kept");
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"m.tmp", "out.mbox", "taken.mbox"}));
}

TEST_F(Mbox, AWriterLeftWithoutCommitLeavesNothing) {
    WriteAll(Path("out.mbox"), "kept");
    const TEmailArray records = MessageFile("m.tmp", {"x\r\n"});
    {
        TMboxWriter mbox(Path("out.mbox"), kExportTime);
        mbox.Add(records[0]);
        // Written without a name where the system allows it (nothing in the
        // folder meanwhile), else under a temporary name beside the target.
        if (mbox.TemporaryPath().empty()) {
            EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"m.tmp", "out.mbox"}));
        } else {
            EXPECT_TRUE(stdfs::exists(mbox.TemporaryPath()));
            EXPECT_EQ(stdfs::path(mbox.TemporaryPath()).parent_path(), stdfs::path(dir_));
        }
    }
    EXPECT_EQ(ReadAll(Path("out.mbox")), "kept");
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"m.tmp", "out.mbox"}));
}

