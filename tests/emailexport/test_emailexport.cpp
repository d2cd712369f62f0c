// The services both front ends share: the .dbx name test, the body reader,
// the keyword filter and the .eml export.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "emailexport/emailexport.h"
#include "outlookfile/ReaderTestSupport.h"
#include "platform/Errors.h"
#include "support/ProgressSpy.h"
#include "support/DbxFixture.h"

using namespace readertest;
namespace mail = corvane::mail;

namespace {

TEST(IsDbxPath, ExtensionInAnyCaseAfterTheLastSeparator) {
    const std::pair<const char*, bool> cases[] = {
        {"Inbox.dbx", true},        {"C:\\Mail\\SENT ITEMS.DBX", true}, {"/home/a/Deleted Items.Dbx", true},
        {"Inbox.dbx.bak", false},   {"mail.dbx/Inbox", false},          {"mail.dbx\\Inbox", false},
        {"Inbox", false},           {"Inbox.db", false},                {".dbx", true},
        {"c.dbx:stream", false},    {"", false}};
    for (const auto& [path, expected] : cases) EXPECT_EQ(mail::IsDbxPath(path), expected) << path;
}

class Services : public ReaderTest {
protected:
    // A message file with two messages; records as the parser gives them.
    void SetUp() override {
        ReaderTest::SetUp();
        file_ = Scratch("msg1.tmp");
        WriteAll(file_, "From: a\r\n\r\nfirst Body\r\nFrom: b\r\nSubject: x\r\n\r\nsecond BODY text\r\n");
        first_ = {file_, 0, " a", "", "", "", 0, 11, 23};
        second_ = {file_, 0, " b", "", " x", "", 23, 46, 64};
    }
    std::string file_;
    TEmail first_, second_;
};

TEST_F(Services, BodyIsTheStretchAfterTheHeaderOrTheWholeMessageWithoutOne) {
    EXPECT_EQ(mail::ReadMessageBody(first_), "first Body\r\n");
    EXPECT_EQ(mail::ReadMessageBody(second_), "second BODY text\r\n");
    TEmail open = second_;
    open.HeaderEnd = 0;  // no blank line closed its header block
    EXPECT_EQ(mail::ReadMessageBody(open), ReadAll(file_).substr(23));
    open.MessageEnd = 23;
    EXPECT_EQ(mail::ReadMessageBody(open), "");
    open.FileName = Scratch("gone.tmp");
    EXPECT_THROW(mail::ReadMessageBody(open), EFOpenError);
}

TEST_F(Services, FilterKeepsRecordsWhoseBodyHoldsTheKeywordInAnyCase) {
    const TEmailArray emails{first_, second_, first_};
    EXPECT_EQ(mail::ShownRecords(emails, false, ""), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(mail::ShownRecords(emails, true, "body"), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(mail::ShownRecords(emails, true, "FIRST"), (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(mail::ShownRecords(emails, true, "Subject"), std::vector<std::size_t>{});  // header, not body
    TEmailArray broken{first_};
    broken[0].FileName = Scratch("gone.tmp");
    EXPECT_THROW(mail::ShownRecords(broken, true, "x"), EFOpenError);
}

TEST_F(Services, ProbeNeverTouchesTheUsersFilesAndFailsOnMissingFolders) {
    WriteAll(Scratch("check.DAT"), "the user's");
    EXPECT_TRUE(mail::FolderIsWriteable(scratch_));
    EXPECT_EQ(ReadAll(Scratch("check.DAT")), "the user's");
    EXPECT_FALSE(stdfs::exists(Scratch("check1.DAT")));
    EXPECT_FALSE(mail::FolderIsWriteable(Scratch("missing")));
    // Names held by a folder or a link are passed over too, and left alone.
    stdfs::create_directory(Scratch("check1.DAT"));
    std::error_code ec;
    stdfs::create_symlink(Scratch("nowhere"), Scratch("check2.DAT"), ec);
    EXPECT_TRUE(mail::FolderIsWriteable(scratch_));
    EXPECT_TRUE(stdfs::is_directory(Scratch("check1.DAT")));
    EXPECT_FALSE(stdfs::exists(Scratch("nowhere")));
    EXPECT_FALSE(stdfs::exists(Scratch("check3.DAT")));
}

TEST_F(Services, ExportWritesEachStretchByPositionAndReportsWhatFailed) {
    const std::string out = Scratch("out");
    stdfs::create_directory(out);
    stdfs::create_directory(mail::ExportFileName(out, 3));  // a folder where a file must go
    const auto report = mail::ExportEmails({{0, &second_}, {3, &first_}, {5, &first_}, {7, nullptr}}, out);
    EXPECT_EQ(report.Chosen, 4u);
    ASSERT_EQ(report.Failed(), 2u);
    EXPECT_NE(report.Failures[0].find("RecoveredEmail3.eml"), std::string::npos) << report.Failures[0];
    EXPECT_EQ(report.Failures[1], "Row 7 stands for no message.");
    EXPECT_EQ(ReadAll(out + "/RecoveredEmail0.eml"), ReadAll(file_).substr(23));
    EXPECT_EQ(ReadAll(out + "/RecoveredEmail5.eml"), ReadAll(file_).substr(0, 23));

    // A message file that is gone ends the export; what was written stays.
    TEmail gone = first_;
    gone.FileName = Scratch("gone.tmp");
    EXPECT_THROW(mail::ExportEmails({{8, &first_}, {9, &gone}, {10, &first_}}, out), EFOpenError);
    EXPECT_TRUE(stdfs::exists(out + "/RecoveredEmail8.eml"));
    EXPECT_FALSE(stdfs::exists(out + "/RecoveredEmail9.eml"));
    EXPECT_FALSE(stdfs::exists(out + "/RecoveredEmail10.eml"));
}

// The window's progress: it hears of every message before it is handled and
// can stop the work there.
TEST_F(Services, ProgressCanStopTheExportAndTheFilterBeforeTheNextMessage) {
    const std::string out = Scratch("stopped");
    stdfs::create_directory(out);
    const std::vector<mail::TExportItem> items{{0, &first_}, {1, &second_}, {2, &first_}, {3, nullptr}};
    for (int stopAt = 1; stopAt <= 4; ++stopAt) {
        corvane::testsupport::TProgressSpy spy;
        spy.StopAt = stopAt;
        stdfs::remove_all(out);
        stdfs::create_directory(out);
        const mail::TExportReport report = mail::ExportEmails(items, out, &spy);
        EXPECT_TRUE(report.Cancelled);
        EXPECT_EQ(report.Chosen, static_cast<std::size_t>(stopAt - 1));
        EXPECT_EQ(report.Written(), static_cast<std::size_t>(stopAt - 1));
        const auto files = std::distance(stdfs::directory_iterator(out), stdfs::directory_iterator());
        EXPECT_EQ(files, stopAt - 1);
        if (stopAt > 2) {
            EXPECT_EQ(ReadAll(out + "/RecoveredEmail1.eml"), ReadAll(file_).substr(23));
        }
    }
    corvane::testsupport::TProgressSpy spy;
    const mail::TExportReport whole = mail::ExportEmails(items, out, &spy);
    EXPECT_FALSE(whole.Cancelled);
    EXPECT_EQ(whole.Written(), 3u);
    EXPECT_EQ(spy.Reports(), 5);  // one per message and the end
    EXPECT_EQ(spy.Stages(), std::set<std::string>{mail::kExportStage});

    const TEmailArray emails{first_, second_, first_};
    corvane::testsupport::TProgressSpy filter;
    EXPECT_EQ(mail::ShownRecords(emails, true, "FIRST", &filter), (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(filter.Reports(), 4);
    filter.StopAt = 6;  // the second record of a second search
    EXPECT_THROW(mail::ShownRecords(emails, true, "FIRST", &filter), corvane::ECancelled);
    EXPECT_THROW(mail::ShownDecodedRecords(emails, true, {"first", "first"}, &filter), corvane::ECancelled);
    // Without the filter nothing is searched, so nothing is reported.
    corvane::testsupport::TProgressSpy none;
    none.StopAt = 1;
    EXPECT_EQ(mail::ShownRecords(emails, false, "", &none), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(none.Reports(), 0);
}

TEST_F(Services, EveryRecordsHeadersAreDecodedUntilTheProgressStopsIt) {
    const std::string encoded = Scratch("msg2.tmp");
    WriteAll(encoded, "Subject: =?ISO-8859-1?Q?caf=E9?=\r\nTo: =?UTF-8?B?SsO8cmdlbg==?= <j@example.org>\r\n\r\nbody\r\n");
    TEmail third{encoded, 0, "", "", "", "", 0, 82, 88};
    const TEmailArray emails{first_, second_, third};
    corvane::testsupport::TProgressSpy spy;
    const std::vector<mail::TDecodedHeaders> decoded = mail::DecodeRecordHeaders(emails, &spy);
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_EQ(decoded[0].From, "a");
    EXPECT_EQ(decoded[1].Subject, "x");  // the stretch of its own record only
    EXPECT_EQ(decoded[1].From, "b");
    EXPECT_EQ(decoded[2].Subject, "caf\xC3\xA9");
    EXPECT_EQ(decoded[2].To, "J\xC3\xBCrgen <j@example.org>");
    EXPECT_EQ(spy.Reports(), 4);  // one per record and the end
    EXPECT_EQ(spy.Stages(), std::set<std::string>{mail::kDecodeStage});

    spy.StopAt = 6;  // the second record of a second run
    EXPECT_THROW(mail::DecodeRecordHeaders(emails, &spy), corvane::ECancelled);
    third.FileName = Scratch("gone.tmp");
    EXPECT_THROW(mail::DecodeRecordHeaders({first_, third}), EFOpenError);
}

}  // namespace

namespace {

// A whole-file write: the earlier file stays as it was until the new one is
// complete, and a write that fails leaves it whole and no temporary file.
TEST_F(Services, AWholeFileWriteReplacesOnlyWhenComplete) {
    const std::string target = Scratch("out.eml");
    WriteAll(target, "an earlier export");
    const auto names = [this] {
        std::vector<std::string> found;
        for (const auto& e : stdfs::directory_iterator(scratch_)) found.push_back(e.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::vector<std::string> before = names();

    std::string seen;
    const std::string failure = mail::WriteWholeFile(target, [&](corvane::fs::TWriteFile& out) {
        out.Write("half", 4);
        seen = ReadAll(target);
        throw EInOutError("No space left on device");
    });
    EXPECT_EQ(failure, "Cannot write file \"" + target + "\". No space left on device");
    EXPECT_EQ(seen, "an earlier export");
    EXPECT_EQ(ReadAll(target), "an earlier export");
    EXPECT_EQ(names(), before);

    // Any other error leaves too, after the temporary file is gone.
    EXPECT_THROW(mail::WriteWholeFile(target, [](corvane::fs::TWriteFile&) { throw EFOpenError("gone.tmp", "No such file"); }),
                 EFOpenError);
    EXPECT_EQ(names(), before);

    EXPECT_EQ(mail::WriteWholeFile(target, [](corvane::fs::TWriteFile& out) { out.Write("new", 3); }), "");
    EXPECT_EQ(ReadAll(target), "new");
    EXPECT_EQ(names(), before);
    EXPECT_EQ(mail::WriteWholeFile(Scratch("missing/out.eml"), [](corvane::fs::TWriteFile&) {}).rfind("Cannot create file \"" + Scratch("missing/out.eml") + "\". ", 0), 0u);
}

// Which targets would replace a folder file.
TEST_F(Services, AFolderFileIsNeverATarget) {
    corvane::testsupport::TDbxWriter dbx;
    dbx.AddMessage("Subject: s\r\n\r\nbody\r\n");
    dbx.Save(Scratch("Inbox.dbx"));
    dbx.Save(Scratch("renamed"));
    WriteAll(Scratch("Named.DbX"), "text");
    WriteAll(Scratch("plain.mbox"), "From a@b Mon Jan  1 00:00:00 2001\n\n");
    const std::vector<std::string> read = {Scratch("Inbox.dbx")};
    const std::pair<std::string, bool> cases[] = {
        {Scratch("Inbox.dbx"), true},  {Scratch("renamed"), true},     {Scratch("Named.DbX"), true},
        {Scratch("plain.mbox"), false}, {Scratch("new.dbx"), false},  {Scratch("new.mbox"), false},
    };
    for (const auto& [target, refused] : cases)
        EXPECT_EQ(!mail::FolderFileInTheWay(target, read).empty(), refused) << target;
}

}  // namespace
