// What export does with names that hold files already, how it names its
// files, and what every command does when nothing is chosen.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/ExportNames.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/CliRun.h"
#include "support/DbxFixture.h"
#include "support/TestFiles.h"

using namespace readertest;
using corvane::testsupport::NamesIn;
using corvane::testsupport::Dbx;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;

namespace {

class CliExportRules : public ReaderTest {
protected:
    // A folder file of messages with the given subjects (as stored) and dates.
    std::string Folder(const std::string& name, const std::vector<std::pair<std::string, std::string>>& messages) {
        TDbxWriter w(messages.size() + 11);
        for (const auto& [subject, date] : messages)
            w.AddMessage("From: a <a@example.org>\r\nSubject: " + subject + (date.empty() ? "" : "\r\nDate: " + date) +
                         "\r\n\r\nbody of " + subject + "\r\n");
        const std::string path = Scratch(name);
        w.Save(path);
        return path;
    }
    std::string Tagged(const std::string& name, const std::string& tag, int count) {
        std::vector<std::pair<std::string, std::string>> messages;
        for (int i = 0; i < count; ++i) messages.push_back({tag + " " + std::to_string(i), ""});
        return Folder(name, messages);
    }
};

// A second export into the same folder replaces nothing unless asked: it
// refuses and writes nothing, naming the first taken name and the options;
// --skip-existing keeps the files there and writes the rest; --overwrite
// replaces them.
TEST_F(CliExportRules, AnExportReplacesNothingUnlessAsked) {
    const std::string demo = Tagged("demo.dbx", "demo", 3);
    const std::string small = Tagged("small.dbx", "small", 5);
    const std::string out = Scratch("rec");
    ASSERT_EQ(Dbx({"export", "--out", out, demo}).Status, cli::kExitOk);
    const std::string first = ReadAll(out + "/RecoveredEmail0.eml");
    ASSERT_NE(first.find("demo 0"), std::string::npos);

    const auto refused = Dbx({"export", "--out", out, small});
    EXPECT_EQ(refused.Status, cli::kExitFailed);
    EXPECT_EQ(refused.Err, "corvane-dbx: " + out + "/RecoveredEmail0.eml: exists; nothing was written (--overwrite "
                           "replaces such files, --skip-existing keeps them)\n");
    EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml", "RecoveredEmail2.eml"}));
    EXPECT_EQ(ReadAll(out + "/RecoveredEmail0.eml"), first);

    const auto skipped = Dbx({"export", "--skip-existing", "--out", out, small});
    EXPECT_EQ(skipped.Status, cli::kExitOk) << skipped.Err;
    EXPECT_EQ(NamesIn(out).size(), 5u);
    EXPECT_NE(ReadAll(out + "/RecoveredEmail2.eml").find("demo 2"), std::string::npos);
    EXPECT_NE(ReadAll(out + "/RecoveredEmail3.eml").find("small 3"), std::string::npos);

    const auto replaced = Dbx({"export", "--overwrite", "--out", out, small});
    EXPECT_EQ(replaced.Status, cli::kExitOk) << replaced.Err;
    EXPECT_EQ(NamesIn(out).size(), 5u);  // no temporary file stays
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(ReadAll(out + "/RecoveredEmail" + std::to_string(i) + ".eml").find("small " + std::to_string(i)),
                  std::string::npos);

    // The options make no sense with --mbox, nor together.
    EXPECT_EQ(Dbx({"export", "--overwrite", "--mbox", Scratch("a.mbox"), small}).Status, cli::kExitUsage);
    EXPECT_EQ(Dbx({"export", "--overwrite", "--skip-existing", "--out", out, small}).Status, cli::kExitUsage);
}

// --names item ties each file to its row of list; row numbers the rows after
// the filter, as before.
TEST_F(CliExportRules, ItemNamesFollowTheList) {
    const std::string path = Tagged("Inbox.dbx", "dingus", 6);
    const std::string out = Scratch("items");
    // The filter keeps the messages whose body holds "dingus 1", "dingus 4".
    const auto list = Dbx({"list", "--format", "csv", "--filter", "of dingus 4", path});
    EXPECT_NE(list.Out.find("\r\n4,no,"), std::string::npos) << list.Out;
    ASSERT_EQ(Dbx({"export", "--names", "item", "--filter", "of dingus 4", "--out", out, path}).Status, cli::kExitOk);
    EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"RecoveredEmail4.eml"}));
    const std::string rows = Scratch("rows");
    ASSERT_EQ(Dbx({"export", "--names", "row", "--filter", "of dingus 4", "--out", rows, path}).Status, cli::kExitOk);
    EXPECT_EQ(NamesIn(rows), (std::vector<std::string>{"RecoveredEmail0.eml"}));
    EXPECT_EQ(Dbx({"export", "--names", "subject", "--out", rows, path}).Status, cli::kExitUsage);
}

// Date-subject names: the message's date and time and its decoded subject,
// safe on every file system, one plain name inside DIR whatever the subject
// holds, a number added when two meet.
TEST_F(CliExportRules, DateSubjectNamesAreSafeAndStayInTheFolder) {
    const std::string date = "Tue, 6 May 2003 10:00:00 +0200";
    const std::string longSubject(300, 'L');
    const std::string path = Folder("Inbox.dbx", {
        {"Fwd: the original", date},
        {"Fwd: the original", date},
        {"FWD: THE ORIGINAL", date},          // the same name in another letter case
        {"../../escape/passwd", date},
        {"..", ""},
        {"a\x01" "b\x1b[31mc\x7f" "d", date},
        {longSubject, date},
        {"CON", ""},
        {"lpt3.txt", ""},
        {"=?UTF-8?B?Q2Fmw6kgw6AgbWlkaQ==?=", date},  // "Café à midi"
        {"what? <now>: \"yes\" | no*", date},
        {"", date},
    });
    const std::string out = Scratch("named");
    const auto r = Dbx({"export", "--names", "date-subject", "--out", out, path});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    const std::string stamp = "2003-05-06 1000 ";
    std::vector<std::string> expected = {
        stamp + "Fwd the original.eml",
        stamp + "Fwd the original (2).eml",
        stamp + "FWD THE ORIGINAL (3).eml",
        stamp + "escape passwd.eml",
        "no subject.eml",
        stamp + "a b [31mc d.eml",
        stamp + std::string(cli::kMostNameBytes - 16 - stamp.size(), 'L') + ".eml",
        "_CON.eml",
        "_lpt3.txt.eml",
        stamp + "Caf\xC3\xA9 \xC3\xA0 midi.eml",
        stamp + "what now yes no.eml",
        stamp + "no subject.eml",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NamesIn(out), expected);
    // Nothing went beside or above the folder.
    EXPECT_EQ(NamesIn(Scratch("")), (std::vector<std::string>{"Inbox.dbx", "named", "tmp"}));
    for (const std::string& name : NamesIn(out)) EXPECT_LE(name.size(), cli::kMostNameBytes) << name;
}

// The rules for a piece of a name, one by one.
TEST(ExportNames, NamePartsAndDeviceNames) {
    struct TCase {
        std::string subject;
        std::size_t most;
        std::string part;
    };
    const TCase cases[] = {
        {"plain", 50, "plain"},
        {"  spaced   out  ", 50, "spaced out"},
        {"a/b\\c:d", 50, "a b c d"},
        {std::string("nul\0byte", 8), 50, "nul byte"},
        {"...dots...", 50, "dots"},
        {"..", 50, ""},
        {"tab\there\nnewline", 50, "tab here newline"},
        {"\xC3\xA9\xC3\xA9\xC3\xA9", 5, "\xC3\xA9\xC3\xA9"},  // never half a character
        {"bad \xFF byte", 50, "bad \xEF\xBF\xBD byte"},
        {"cut here. then", 9, "cut here"},
    };
    for (const TCase& c : cases) EXPECT_EQ(cli::SafeNamePart(c.subject, c.most), c.part) << c.subject;
    for (const char* name : {"CON", "con", "Prn", "AUX", "NUL", "COM1", "com9", "LPT1", "nul.txt"})
        EXPECT_TRUE(cli::IsReservedName(name)) << name;
    for (const char* name : {"CONS", "COM0", "COM10", "LPT", "console", "2003-05-06 CON"})
        EXPECT_FALSE(cli::IsReservedName(name)) << name;
}

// Nothing chosen is no failure: every command says so on one line, exits 0,
// makes no output folder and keeps an mbox file that exists.
TEST_F(CliExportRules, NothingChosenIsToldAndNothingIsWritten) {
    const std::string path = Tagged("Inbox.dbx", "plain", 3);
    const auto list = Dbx({"list", "--filter", "absent-word", path});
    EXPECT_EQ(list.Status, cli::kExitOk);
    EXPECT_EQ(list.Err, "corvane-dbx: no message matched\n");

    const std::string out = Scratch("none");
    const auto eml = Dbx({"export", "--filter", "absent-word", "--out", out, path});
    EXPECT_EQ(eml.Status, cli::kExitOk);
    EXPECT_EQ(eml.Err, "corvane-dbx: no message matched; " + out + " not written\n");
    EXPECT_FALSE(stdfs::exists(out));
    // Items that are not there are told, and then that nothing was written.
    const auto items = Dbx({"export", "--items", "7-9", "--out", out, path});
    EXPECT_EQ(items.Status, cli::kExitFailed);
    EXPECT_EQ(items.Err, "corvane-dbx: " + path + ": items 7-9 not found\ncorvane-dbx: no message matched; " + out +
                             " not written\n");
    EXPECT_FALSE(stdfs::exists(out));

    const std::string mbox = Scratch("kept.mbox");
    WriteAll(mbox, "From old\n");
    for (const std::vector<std::string>& choice :
         {std::vector<std::string>{"--filter", "absent-word"}, std::vector<std::string>{"--items", "40-50"}}) {
        std::vector<std::string> arguments{"export", "--mbox", mbox, path};
        arguments.insert(arguments.begin() + 1, choice.begin(), choice.end());
        const auto r = Dbx(arguments);
        const bool items = choice.front() == "--items";
        EXPECT_EQ(r.Status, items ? cli::kExitFailed : cli::kExitOk) << r.Err;  // items not found are told
        EXPECT_NE(r.Err.find("corvane-dbx: no message matched; " + mbox + " not written\n"), std::string::npos) << r.Err;
        EXPECT_EQ(ReadAll(mbox), "From old\n");
    }
}

}  // namespace
