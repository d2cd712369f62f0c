// The session's exports of the ticked rows and what they end with for the
// user: .eml files named by the rows' positions, one mbox file, and the
// texts of the message boxes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "SessionTestSupport.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "progress/Progress.h"
#include "support/ProgressSpy.h"

namespace {

namespace stdfs = std::filesystem;
using corvane::session::ColFrom;
using corvane::session::TOutcome;
using corvane::testsupport::SessionTest;
using corvane::testsupport::TMessage;
using corvane::testsupport::WriteFolderFile;

const TOutcome kExported{TOutcome::Information, "Emails Succesfully Exported To Folder"};
const TOutcome kNotWriteable{TOutcome::Error, "Cannot Write To Output Folder ,Please Select A Writeable Folder"};

// Bytes that a conversion would change: bare LF, CR, NUL turned space,
// 8-bit characters, and no line break at the very end.
std::vector<TMessage> SomeMessages(int n, const std::string& tag) {
    return corvane::testsupport::SomeMessages(n, tag, "\r\nbare\nLF and a lone \r CR \xE9\xFC\x80.\r\n-- \r\nend");
}

using corvane::testsupport::NamesIn;

class ExportTest : public SessionTest {
protected:
    std::string NewFolder(const std::string& name) {
        stdfs::create_directories(Path(name));
        return Path(name);
    }
    std::string ExportFile(const std::string& folder, std::size_t position) const {
        return folder + corvane::fs::kPathSeparator + "RecoveredEmail" + std::to_string(position) + ".eml";
    }
    // Each row position's file holds the message of that row's record.
    void ExpectExported(const std::string& folder, const std::vector<std::size_t>& positions) {
        for (std::size_t p : positions)
            EXPECT_EQ(corvane::testsupport::ReadWholeFile(ExportFile(folder, p)),
                      corvane::testsupport::MessageOf(session.RecordOfRow(p)))
                << p;
    }
};

TEST_F(ExportTest, TickedRowsGoToFilesNamedByTheirPositions) {
    session.ShowRecords(corvane::testsupport::WriteMessageFile(Path("msg0.tmp"), SomeMessages(8, "first")),
                        {0, 1, 3, 4, 6, 7});
    session.SortByColumn(ColFrom);
    for (std::size_t p : {0, 2, 5}) session.SetTicked(p, true);
    const std::string out = NewFolder("out");
    EXPECT_EQ(session.ExportEml(out, nullptr), kExported);
    EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail2.eml", "RecoveredEmail5.eml"}));
    ExpectExported(out, {0, 2, 5});
    EXPECT_TRUE(session.Ticked(2));  // the export changes nothing in the list
    EXPECT_EQ(settings.values["Folders/Export"], out);

    // Sorted the other way, the same messages take other numbers; files of
    // the same name are replaced, the others stay.
    session.SortByColumn(ColFrom);
    EXPECT_EQ(session.ExportEml(out, nullptr), kExported);
    EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail2.eml", "RecoveredEmail3.eml",
                                                      "RecoveredEmail5.eml"}));
    ExpectExported(out, {0, 3, 5});
}

TEST_F(ExportTest, WhatEachExportEndsWith) {
    session.ShowRecords(corvane::testsupport::WriteMessageFile(Path("msg1.tmp"), SomeMessages(4, "partly")));
    // A cancelled chooser: nothing at all.
    EXPECT_EQ(session.ExportEml("", nullptr), TOutcome{});
    // Nothing ticked: the folder is tested and the export reported.
    const std::string empty = NewFolder("nothing");
    EXPECT_EQ(session.ExportEml(empty, nullptr), kExported);
    EXPECT_TRUE(NamesIn(empty).empty());

    session.SetAllTicks(true);
    // A "folder" below a regular file: nothing can be made in it, not even by root.
    corvane::testsupport::WriteWholeFile(Path("plain-file"), "not a folder");
    EXPECT_EQ(session.ExportEml(Path("plain-file/inside"), nullptr), kNotWriteable);
    EXPECT_EQ(corvane::testsupport::ReadWholeFile(Path("plain-file")), "not a folder");

    // A folder without write permission (where the bits keep this user out).
    if (corvane::testsupport::PermissionBitsApply()) {
        const std::string readOnly = NewFolder("read-only");
        stdfs::permissions(readOnly, stdfs::perms::owner_read | stdfs::perms::owner_exec);
        EXPECT_EQ(session.ExportEml(readOnly, nullptr), kNotWriteable);
        stdfs::permissions(readOnly, stdfs::perms::owner_all);
        EXPECT_TRUE(NamesIn(readOnly).empty());
    }

    // A file that cannot be written is named and the others are written.
    const std::string partly = NewFolder("partly");
    stdfs::create_directory(ExportFile(partly, 1));
    const TOutcome failed = session.ExportEml(partly, nullptr);
    EXPECT_EQ(failed.Box, TOutcome::Error);
    EXPECT_EQ(failed.Text.rfind("1 of 4 ticked emails could not be exported. The first: ", 0), 0u) << failed.Text;
    EXPECT_NE(failed.Text.find(ExportFile(partly, 1)), std::string::npos) << failed.Text;
    ExpectExported(partly, {0, 2, 3});

    // Stopped at its third message: the two written stay whole.
    const std::string stopped = NewFolder("stopped");
    corvane::testsupport::TProgressSpy stop;
    stop.StopAt = 3;
    EXPECT_EQ(session.ExportEml(stopped, &stop),
              (TOutcome{TOutcome::Information, "Export cancelled: 2 of 4 ticked emails were written to the folder."}));
    EXPECT_EQ(NamesIn(stopped), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml"}));
    ExpectExported(stopped, {0, 1});
}

TEST_F(ExportTest, AMessageFileThatIsGoneEndsTheExportWithItsError) {
    TEmailArray records = corvane::testsupport::WriteMessageFile(Path("msg2.tmp"), SomeMessages(2, "kept"));
    const TEmailArray second = corvane::testsupport::WriteMessageFile(Path("msg3.tmp"), SomeMessages(2, "removed"));
    records.insert(records.end(), second.begin(), second.end());
    session.ShowRecords(records);
    session.SetAllTicks(true);
    ASSERT_TRUE(corvane::fs::RemoveFile(second[0].FileName));
    const std::string out = NewFolder("gone");
    EXPECT_THROW(session.ExportEml(out, nullptr), EFOpenError);
    EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml"}));
}

TEST_F(ExportTest, TheUsersFilesInTheFolderAreReplacedWholeOrLeftAlone) {
    session.ShowRecords(corvane::testsupport::WriteMessageFile(Path("msg4.tmp"), SomeMessages(2, "probe")));
    session.SetAllTicks(true);
    const std::string out = NewFolder("probe");
    corvane::testsupport::WriteWholeFile(out + corvane::fs::kPathSeparator + "check.DAT", "the user's own data");
    corvane::testsupport::WriteWholeFile(ExportFile(out, 1), std::string(100000, 'x'));  // longer than the message
    EXPECT_EQ(session.ExportEml(out, nullptr), kExported);
    EXPECT_EQ(corvane::testsupport::ReadWholeFile(out + corvane::fs::kPathSeparator + "check.DAT"), "the user's own data");
    EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml", "check.DAT"}));
    ExpectExported(out, {0, 1});
}

// Links at the files' names are replaced, never written through: the files
// they lead to keep their bytes.
TEST_F(ExportTest, LinksInTheWayAreReplacedNotWrittenThrough) {
    session.ShowRecords(corvane::testsupport::WriteMessageFile(Path("msg5.tmp"), SomeMessages(2, "links")));
    session.SetAllTicks(true);
    const std::string out = NewFolder("links");
    corvane::testsupport::WriteWholeFile(Path("soft"), "soft victim");
    if (!corvane::testsupport::MakeSymlink(Path("soft"), ExportFile(out, 0))) GTEST_SKIP() << "no symbolic links here";
    EXPECT_EQ(session.ExportEml(out, nullptr), kExported);
    ExpectExported(out, {0, 1});
    EXPECT_FALSE(stdfs::is_symlink(ExportFile(out, 0)));
    EXPECT_EQ(corvane::testsupport::ReadWholeFile(Path("soft")), "soft victim");
}

TEST_F(ExportTest, TheMboxHoldsTheTickedRowsInTheirPresentOrder) {
    session.ShowRecords(corvane::testsupport::WriteMessageFile(
                            Path("msg6.tmp"), corvane::testsupport::SomeMessages(8, "first", "\r\nFrom the garden\r\n>From a reply\r\nend\r\n")),
                        {0, 1, 3, 4, 6, 7});
    session.SortByColumn(ColFrom);
    for (std::size_t p : {0, 2, 5}) session.SetTicked(p, true);
    const auto expected = [this](std::initializer_list<std::size_t> positions) {
        std::string mbox;
        for (std::size_t p : positions) mbox += corvane::testsupport::MboxEntry(session.RecordOfRow(p));
        return mbox;
    };
    const std::string mbox = Path("out.mbox");
    EXPECT_EQ(session.ExportMbox(mbox, 0, nullptr), (TOutcome{TOutcome::Information, "3 emails exported to " + mbox}));
    EXPECT_EQ(corvane::testsupport::ReadWholeFile(mbox), expected({0, 2, 5}));
    EXPECT_EQ(settings.values["Folders/Export"], scratch_.Path());
    // Sorted the other way, the same messages in the other order; replaced.
    session.SortByColumn(ColFrom);
    EXPECT_EQ(session.ExportMbox(mbox, 0, nullptr).Box, TOutcome::Information);
    EXPECT_EQ(corvane::testsupport::ReadWholeFile(mbox), expected({0, 3, 5}));
    // Nothing ticked: an empty file.
    session.SetAllTicks(false);
    EXPECT_EQ(session.ExportMbox(Path("none.mbox"), 0, nullptr), (TOutcome{TOutcome::Information, "0 emails exported to " + Path("none.mbox")}));
    EXPECT_EQ(corvane::testsupport::ReadWholeFile(Path("none.mbox")), "");
}

TEST_F(ExportTest, WhatTheMboxExportEndsWithWhenItCannot) {
    const std::string folderFile = ThreeLiveTwoDeleted();
    session.Load(folderFile, nullptr);
    session.SetAllTicks(true);
    EXPECT_EQ(session.ExportMbox("", 0, nullptr), TOutcome{});  // the dialog cancelled

    // Stopped: a file of that name stays as it was.
    const std::string mbox = Path("All.mbox");
    const std::string old = "From old Mon Jan  2 15:04:05 2006\nold mail\n\n";
    corvane::testsupport::WriteWholeFile(mbox, old);
    corvane::testsupport::TProgressSpy stop;
    stop.StopAt = 2;
    EXPECT_EQ(session.ExportMbox(mbox, 0, &stop), (TOutcome{TOutcome::Information, "Export cancelled: " + mbox + " was not written."}));
    EXPECT_EQ(corvane::testsupport::ReadWholeFile(mbox), old);

    // The folder file the list came from, another folder file or a file
    // named *.dbx is never replaced.
    corvane::testsupport::WriteWholeFile(Path("Named.DBX"), "named as a folder file");
    WriteFolderFile(Path("other-folder"), {corvane::testsupport::Mail(9)});
    for (const std::string& target : {folderFile, Path("Named.DBX"), Path("other-folder")}) {
        const std::string before = corvane::testsupport::ReadWholeFile(target);
        const TOutcome refused = session.ExportMbox(target, 0, nullptr);
        EXPECT_EQ(refused.Box, TOutcome::Error) << target;
        EXPECT_NE(refused.Text.find("Nothing was written."), std::string::npos) << refused.Text;
        EXPECT_EQ(corvane::testsupport::ReadWholeFile(target), before) << target;
    }

    // A folder that cannot be written, and a message file gone: the errors
    // leave as they are; the existing file stays whole.
    corvane::testsupport::WriteWholeFile(Path("plain-file"), "not a folder");
    EXPECT_THROW(session.ExportMbox(Path("plain-file/out.mbox"), 0, nullptr), EFCreateError);
    ASSERT_TRUE(corvane::fs::RemoveFile(session.RecordOfRow(1).FileName));
    EXPECT_THROW(session.ExportMbox(mbox, 0, nullptr), EFOpenError);
    EXPECT_EQ(corvane::testsupport::ReadWholeFile(mbox), old);
}

TEST_F(ExportTest, EveryMessageOfTheSampleFolderFileByteForByte) {
    const std::string demo = CORVANE_SOURCE_DIR "/samples/demo.dbx";
    session.SetIncludeDeleted(true, nullptr);
    session.Load(demo, nullptr);
    ASSERT_GT(session.RowCount(), 0u);
    ASSERT_EQ(session.RowCount(), session.Emails().size());
    session.SortByColumn(corvane::session::ColSubject);
    session.SetAllTicks(true);
    const std::string out = NewFolder("demo");
    EXPECT_EQ(session.ExportEml(out, nullptr), kExported);
    std::vector<std::size_t> all(session.RowCount());
    for (std::size_t p = 0; p < all.size(); ++p) all[p] = p;
    EXPECT_EQ(NamesIn(out).size(), all.size());
    ExpectExported(out, all);
}

}  // namespace
