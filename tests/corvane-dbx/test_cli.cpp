// corvane-dbx end to end: its commands run on folder files written as the mail
// program writes them, their output and exit status compared with what the
// engine gives the window.

#include <algorithm>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/ListFormats.h"
#include "emailexport/emailexport.h"
#include "outlookfile/ReaderTestSupport.h"
#include "platform/AnsiText.h"
#include "support/CliRun.h"
#include "support/CsvColumns.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;

namespace {

using TResult = corvane::testsupport::TCliResult;
using corvane::testsupport::Dbx;
using corvane::testsupport::CsvWithout;
using corvane::testsupport::kCsvPlaceColumns;

// A header value as stored without the space after the colon (a deleted
// message's first bytes may have lost its first header line).
std::string Value(const std::string& stored) { return stored.empty() ? stored : stored.substr(1); }

std::string Message(int i, const std::string& body) {
    return "From: Sender " + std::to_string(i) + " <s" + std::to_string(i) + "@example.org>\r\nTo: \"Doe, Jane\" <j@example.org>\r\n"
           "Subject: Note " + std::to_string(i) + " caf\xE9\r\nDate: Mon, " + std::to_string(i + 1) +
           " May 2005 10:00:00 +0200\r\n\r\n" + body + "\r\n";
}

class Cli : public ReaderTest {
protected:
    // A folder file of five live messages (two scattered over several blocks)
    // and two deleted ones.
    std::string Folder(const std::string& name, const std::string& tag) {
        TDbxWriter w(7);
        w.ReserveScatteredSlots(12);
        for (int i = 0; i < 7; ++i)
            w.AddMessage(Message(i, tag + " text " + std::to_string(i) + (i % 2 ? " Needle" : "") + std::string(i * 300, 'x')),
                         i % 3 == 0 ? TBlockOrder::Scattered : TBlockOrder::Ascending);
        w.DeleteMessage(1);
        w.DeleteMessage(4);
        const std::string path = Scratch(name);
        w.Save(path);
        return path;
    }
    static TEmailArray Read(const std::string& path, bool deleted) { return Toutlookfile().GetEmails(path, deleted); }
};

// Item lists: ranges in any order, overlapping or touching, merged; a list
// of ten million items or more is refused, however it is made up.
TEST(CliArguments, ItemListsAreMergedAndBounded) {
    struct TCase {
        std::string list;
        std::size_t count;  // 0: refused
        std::size_t first, last;
    };
    const TCase cases[] = {
        {"9,3-4,4-6,0", 6, 0, 9},
        {"5-5,6,7-8,1-2", 6, 1, 8},
        {"0-5999999,2000000-8000000", 8000001, 0, 8000000},
        {"0-9999999", 0, 0, 0},
        {"0-5999999,6000000-9999999", 0, 0, 0},
        {"0-4999999,5000000-9999998,3", 9999999, 0, 9999998},
        {"18446744073709551615", 1, 18446744073709551615u, 18446744073709551615u},
        {"0-18446744073709551615", 0, 0, 0},
        {"18446744073709551612-18446744073709551615,18446744073709551613,18446744073709551615", 4,
         18446744073709551612u, 18446744073709551615u},
    };
    for (const TCase& c : cases) {
        const auto parsed = cli::ParseArguments({"export", "--items", c.list, "--out", "d", "a.dbx"});
        const std::vector<std::size_t>& items = parsed.Options.Items;
        if (c.count == 0) {
            EXPECT_EQ(parsed.Error, "--items: too many items") << c.list;
            continue;
        }
        ASSERT_EQ(parsed.Error, "") << c.list;
        ASSERT_EQ(items.size(), c.count) << c.list;
        EXPECT_EQ(items.front(), c.first);
        EXPECT_EQ(items.back(), c.last);
        const auto notAscending = [](std::size_t a, std::size_t b) { return b <= a; };
        EXPECT_EQ(std::adjacent_find(items.begin(), items.end(), notAscending), items.end()) << c.list;
    }
    EXPECT_EQ(cli::ParseArguments({"export", "--items", "9,3-4,4-6,0", "--out", "d", "a.dbx"}).Options.Items,
              (std::vector<std::size_t>{0, 3, 4, 5, 6, 9}));
}

TEST(CliArguments, BadUsageIsRefusedWithStatusTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"recover"},
        {"list"},
        {"list", "--format", "xml", "a.dbx"},
        {"list", "--format"},
        {"list", "--filter", "", "a.dbx"},
        {"list", "--out", "d", "a.dbx"},
        {"list", "-x", "a.dbx"},
        {"export", "a.dbx"},
        {"export", "--out", "d"},
        {"export", "--items", "3-1", "--out", "d", "a.dbx"},
        {"export", "--items", "1,x", "--out", "d", "a.dbx"},
        {"show", "a.dbx"},
        {"show", "one", "a.dbx"},
        {"show", "1", "a.dbx", "b.dbx"},
        {"find", "--deleted"},
        {"list", "--deleted=yes", "a.dbx"},
        {"find", "--raw"},
        {"show", "--raw=no", "1", "a.dbx"},
    };
    for (const auto& arguments : bad) {
        const TResult r = Dbx(arguments);
        EXPECT_EQ(r.Status, cli::kExitUsage) << testing::PrintToString(arguments);
        EXPECT_EQ(r.Out, "");
        EXPECT_NE(r.Err.find("corvane-dbx: "), std::string::npos);
    }
    const auto parsed = cli::ParseArguments({"export", "--items=5-7,2,6", "--deleted", "--out", "d", "--", "-a.dbx"});
    EXPECT_EQ(parsed.Error, "");
    EXPECT_EQ(parsed.Options.Items, (std::vector<std::size_t>{2, 5, 6, 7}));
    EXPECT_EQ(parsed.Options.Paths, std::vector<std::string>{"-a.dbx"});
    EXPECT_TRUE(parsed.Options.Deleted);
    const std::vector<std::vector<std::string>> helps = {{"--help"},          {"--version"},      {"list", "--help"},
                                                         {"export", "--help"}, {"show", "--help"}, {"find", "--help"}};
    for (const auto& ok : helps) {
        const TResult r = Dbx(ok);
        EXPECT_EQ(r.Status, cli::kExitOk);
        EXPECT_NE(r.Out.find(ok.size() == 1 ? "corvane-dbx" : "usage: corvane-dbx " + ok[0]), std::string::npos);
    }
}

TEST_F(Cli, JsonListReadsBackAsTheRecordsOfTheReader) {
    const std::string path = Folder("Inbox.dbx", "json");
    for (const bool deleted : {false, true}) {
        std::vector<std::string> arguments{"list", "--raw", "--format", "json", path};
        if (deleted) arguments.insert(arguments.begin() + 1, "--deleted");
        const TResult r = Dbx(arguments);
        ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
        const TEmailArray emails = Read(path, deleted);
        const auto json = nlohmann::json::parse(r.Out);
        ASSERT_EQ(json.size(), emails.size());
        EXPECT_EQ(emails.size(), deleted ? 7u : 5u);
        for (std::size_t i = 0; i < emails.size(); ++i) {
            const auto& row = json[i];
            const TEmail& e = emails[i];
            EXPECT_EQ(row["item"], i);
            EXPECT_EQ(row["deleted"], e.Deleted != 0);
            EXPECT_EQ(row["from"], corvane::ansi::ToUtf8(e.From));
            EXPECT_EQ(row["subject"], corvane::ansi::ToUtf8(e.Subject));  // é through Windows-1252
            EXPECT_EQ(row["to"], e.To);
            EXPECT_EQ(row["date"], e.Date);
            EXPECT_FALSE(row.contains("messageFile"));  // the command line writes no message files
            EXPECT_EQ(row["folderFile"], path);
            EXPECT_EQ(row["messageStart"], e.MessageStart);
            EXPECT_EQ(row["headerEnd"], e.HeaderEnd);
            EXPECT_EQ(row["messageEnd"], e.MessageEnd);
        }
        // Without --raw the texts are decoded, the raw ones kept in "raw".
        arguments.erase(std::find(arguments.begin(), arguments.end(), "--raw"));
        const auto decoded = nlohmann::json::parse(Dbx(arguments).Out);
        ASSERT_EQ(decoded.size(), emails.size());
        for (std::size_t i = 0; i < emails.size(); ++i) {
            const auto& row = decoded[i];
            const TEmail& e = emails[i];
            EXPECT_EQ(row["raw"], (nlohmann::json{{"date", e.Date},
                                                   {"from", e.From},
                                                   {"to", e.To},
                                                   {"subject", corvane::ansi::ToUtf8(e.Subject)}}));
            EXPECT_EQ(row["from"], Value(e.From));
            EXPECT_EQ(row["to"], "\"Doe, Jane\" <j@example.org>");
            EXPECT_EQ(row["subject"], corvane::ansi::ToUtf8(Value(e.Subject)));  // 8-bit text read as Windows-1252
            EXPECT_EQ(row["date"], Value(e.Date));
            EXPECT_EQ(row["dateIso"], "2005-05-0" + e.Date.substr(6, 1) + "T10:00:00+02:00") << e.Date;
            EXPECT_EQ(row["attachments"], nlohmann::json::array());
            EXPECT_EQ(row["item"], i);
            EXPECT_EQ(row["messageStart"], e.MessageStart);
        }
    }
}

TEST_F(Cli, CsvQuotesAsRfc4180AndTheFilterKeepsTheWindowsRows) {
    const std::string path = Folder("Inbox.dbx", "csv");
    const TResult r = Dbx({"list", "--deleted", "--raw", "--filter", "NEEDLE", "--format", "csv", path});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    const TEmailArray emails = Read(path, true);
    const auto shown = corvane::mail::ShownRecords(emails, true, "needle");
    ASSERT_EQ(shown.size(), 3u);
    std::string expected = "Item Num,Deleted,Date,From,To,Subject,Flags,Received,Message-ID,In Index\r\n";
    for (const std::size_t i : shown)
        expected += std::to_string(i) + "," + (emails[i].Deleted ? "yes" : "no") + ",\"" + emails[i].Date + "\"," +
                    emails[i].From + ",\" \"\"Doe, Jane\"\" <j@example.org>\"," + corvane::ansi::ToUtf8(emails[i].Subject) + ",,,,\r\n";
    EXPECT_EQ(CsvWithout(r.Out, kCsvPlaceColumns), expected);
    // Decoded: the same rows, the texts without their leading space.
    const TResult decoded = Dbx({"list", "--deleted", "--filter", "NEEDLE", "--format", "csv", path});
    ASSERT_EQ(decoded.Status, cli::kExitOk) << decoded.Err;
    expected = "Item Num,Deleted,Date,From,To,Subject,Flags,Received,Message-ID,In Index\r\n";
    for (const std::size_t i : shown)
        expected += std::to_string(i) + "," + (emails[i].Deleted ? "yes" : "no") + ",\"" + Value(emails[i].Date) +
                    "\"," + Value(emails[i].From) + ",\"\"\"Doe, Jane\"\" <j@example.org>\"," +
                    corvane::ansi::ToUtf8(Value(emails[i].Subject)) + ",,,,\r\n";
    EXPECT_EQ(CsvWithout(decoded.Out, kCsvPlaceColumns), expected);
    EXPECT_EQ(cli::CsvField("a\nb"), "\"a\nb\"");
    EXPECT_EQ(cli::CsvField("plain"), "plain");
}

TEST_F(Cli, TableIsCutToTheTerminalWidthAndNamesFolderFilesWhenSeveral) {
    const std::string a = Folder("a.dbx", "one"), b = Folder("b.dbx", "two");
    for (const int width : {0, 70}) {
        const TResult r = Dbx({"list", a, b}, width);
        ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
        std::istringstream lines(r.Out);
        std::string line;
        std::vector<std::string> rows;
        while (std::getline(lines, line)) rows.push_back(line);
        ASSERT_EQ(rows.size(), 1u + 5 + 5);  // one heading over both files
        for (std::size_t i = 1; i < rows.size(); ++i) {
            if (width > 0) {
                EXPECT_LE(rows[i].size(), static_cast<std::size_t>(width)) << rows[i];  // ASCII: bytes are characters
            } else {
                EXPECT_EQ(rows[i].find(i <= 5 ? a : b), 0u) << rows[i];
            }
            // Item numbers and the deleted flag are never cut.
            EXPECT_NE(rows[i].find("  " + std::to_string((i - 1) % 5) + " "), std::string::npos) << rows[i];
            EXPECT_NE(rows[i].find(" no "), std::string::npos) << rows[i];
        }
    }
    EXPECT_EQ(cli::FitColumns({8, 40, 10}, {false, false, false}, 4, 0), (std::vector<std::size_t>{8, 40, 10}));
    EXPECT_EQ(cli::FitColumns({8, 40, 10}, {false, false, false}, 4, 30), (std::vector<std::size_t>{8, 9, 9}));
    EXPECT_EQ(cli::FitColumns({8, 40, 10}, {false, false, true}, 4, 30), (std::vector<std::size_t>{8, 8, 10}));
}

TEST_F(Cli, ExportWritesTheStretchesByRowPosition) {
    const std::string path = Folder("Inbox.dbx", "export");
    const TEmailArray emails = Read(path, true);
    const auto shown = corvane::mail::ShownRecords(emails, true, "needle");
    ASSERT_EQ(shown.size(), 3u);
    // Rows 1 and 2 of the filtered list, ticked by their item numbers.
    const std::string out = Scratch("out");
    const std::string items = std::to_string(shown[2]) + "," + std::to_string(shown[1]);
    const TResult r = Dbx({"export", "--deleted", "--filter", "needle", "--items", items, "--out", out, path});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    std::vector<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(out)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"RecoveredEmail1.eml", "RecoveredEmail2.eml"}));
    for (const std::size_t row : {1u, 2u}) {
        const TEmail& e = emails[shown[row]];
        EXPECT_EQ(ReadAll(out + "/RecoveredEmail" + std::to_string(row) + ".eml"),
                  ReadAll(e.FileName).substr(static_cast<std::size_t>(e.MessageStart),
                                             static_cast<std::size_t>(e.MessageEnd - e.MessageStart)));
    }
}

TEST_F(Cli, SeveralFolderFilesGoOnPastOneThatFails) {
    const std::string a = Folder("Inbox.dbx", "a");
    stdfs::create_directory(Scratch("other"));
    const std::string b = Folder("other/Inbox.dbx", "b");
    const std::string out = Scratch("out");
    const TResult r = Dbx({"export", a, Scratch("missing.dbx"), b, "--out", out});
    EXPECT_EQ(r.Status, cli::kExitFailed);
    EXPECT_NE(r.Err.find("corvane-dbx: " + Scratch("missing.dbx") + ": cannot open: "), std::string::npos) << r.Err;
    for (const char* folder : {"Inbox", "Inbox-2"})
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(stdfs::exists(out + "/" + folder + "/RecoveredEmail" + std::to_string(i) + ".eml")) << folder << i;
    EXPECT_NE(ReadAll(out + "/Inbox/RecoveredEmail0.eml"), ReadAll(out + "/Inbox-2/RecoveredEmail0.eml"));

    const TResult listed = Dbx({"list", Scratch("missing.dbx"), a});
    EXPECT_EQ(listed.Status, cli::kExitFailed);
    EXPECT_NE(listed.Out.find("Sender 3"), std::string::npos);
}

TEST_F(Cli, MboxHoldsTheChosenMessagesOfEveryFolderFileInOrder) {
    const std::string a = Folder("a.dbx", "first"), b = Folder("b.dbx", "second");
    const std::string mbox = Scratch("all.mbox");
    WriteAll(mbox, "an older mbox");
    const TResult r = Dbx({"export", "--deleted", "--mbox", mbox, a, b});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    const std::string text = ReadAll(mbox);
    std::vector<std::string> subjects;
    for (std::size_t at = text.find("\nSubject: "); at != std::string::npos; at = text.find("\nSubject: ", at + 1))
        subjects.push_back(text.substr(at + 10, text.find('\n', at + 1) - at - 10));
    std::vector<std::string> expected;
    for (const std::string& path : {a, b})
        for (const TEmail& e : Read(path, true)) expected.push_back(e.Subject.substr(1));
    EXPECT_EQ(subjects, expected);
    EXPECT_EQ(text.rfind("From s", 0), 0u);
    EXPECT_EQ(text.find("\r\n"), std::string::npos);  // line ends as LF
    EXPECT_NE(text.find("first text"), std::string::npos);
    EXPECT_NE(text.find("second text"), std::string::npos);

    // A folder file that cannot be read is reported, and the mbox is not replaced.
    const TResult partly = Dbx({"export", "--mbox", mbox, Scratch("missing.dbx"), a});
    EXPECT_EQ(partly.Status, cli::kExitFailed);
    EXPECT_EQ(ReadAll(mbox), text);
    EXPECT_EQ(Dbx({"export", "--mbox", mbox, "--out", Scratch("out"), a}).Status, cli::kExitUsage);
}

TEST_F(Cli, UnwritableOutputFailsWithoutDestroyingAnything) {
    const std::string path = Folder("Inbox.dbx", "probe");
    const std::string file = Scratch("plain-file");
    WriteAll(file, "keep me");
    // A path below a file can be neither made nor written, also for root.
    const TResult r = Dbx({"export", "--out", file + "/sub", path});
    EXPECT_EQ(r.Status, cli::kExitFailed);
    EXPECT_NE(r.Err.find(": cannot write to this folder"), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(file), "keep me");
    const TResult item = Dbx({"export", "--items", "99", "--out", Scratch("out"), path});
    EXPECT_EQ(item.Status, cli::kExitFailed);
    EXPECT_NE(item.Err.find("corvane-dbx: " + path + ": item 99 not found\n"), std::string::npos) << item.Err;
}

TEST_F(Cli, ShowWritesTheBodyAndFindListsFolderFiles) {
    const std::string path = Folder("Inbox.dbx", "show");
    const TEmailArray emails = Read(path, true);
    const TResult r = Dbx({"show", "--deleted", "--raw", "6", path});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    EXPECT_EQ(r.Out, corvane::mail::ReadMessageBody(emails[6]));
    // Decoded: the text after the blank line, its line ends as LF.
    std::string text = corvane::mail::ReadMessageBody(emails[6]).substr(2);
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    // A deleted message that lost its From line shows the others above its body.
    EXPECT_EQ(Dbx({"show", "--deleted", "6", path}).Out,
              "To: \"Doe, Jane\" <j@example.org>\nDate: Mon, 5 May 2005 10:00:00 +0200\nSubject: Note 4 caf\xC3\xA9\n\n" + text);
    EXPECT_EQ(Dbx({"show", "7", path}).Status, cli::kExitFailed);

    stdfs::create_directories(Scratch("tree/deep"));
    WriteAll(Scratch("tree/deep/Sent.DBX"), "");
    WriteAll(Scratch("tree/notes.txt"), "");
    const TResult found = Dbx({"find", Scratch("tree")});
    EXPECT_EQ(found.Status, cli::kExitOk);
    EXPECT_EQ(found.Out, Scratch("tree/deep/Sent.DBX") + "\n");
    EXPECT_EQ(Dbx({"find", Scratch("nowhere")}).Status, cli::kExitFailed);
}

}  // namespace

// The rows of a folder file whose read failed are left out as if it had not
// been given, in every format, the table's column widths and the JSON
// separators included.
TEST(CliListWriter, ADroppedFolderFileLeavesNoTrace) {
    TEmail e;
    e.Subject = "A subject much longer than any other text of the rows";
    e.From = "x@example.org";
    TEmail shortOne;
    shortOne.Subject = "S";
    shortOne.Deleted = 1;
    for (const cli::TFormat format : {cli::TFormat::Table, cli::TFormat::Csv, cli::TFormat::Json}) {
        auto list = [&](bool withFailed) {
            std::ostringstream out;
            cli::TListWriter writer(out, format, true, 0);
            if (withFailed) {
                writer.Begin("failed.dbx");
                writer.Row(0, e);
                writer.End(false);
            }
            writer.Begin("kept.dbx");
            writer.Row(3, shortOne);
            writer.End(true);
            if (withFailed) {
                writer.Begin("failed-too.dbx");
                writer.Row(7, e);
                writer.End(false);
            }
            writer.Finish();
            return out.str();
        };
        const std::string alone = list(false);
        EXPECT_EQ(list(true), alone) << static_cast<int>(format);
        EXPECT_NE(alone.find("kept.dbx"), std::string::npos) << alone;
        EXPECT_EQ(alone.find("failed"), std::string::npos) << alone;
    }
}
