// What only Windows shows of the folder reader: the folder file is held
// without sharing while it is read, the message files are opened with all
// sharing by the parse and its line finder at once, and their names carry
// the doubled separator after the system's temporary folder.

#include <windows.h>

#include "ReaderTestSupport.h"
#include "emailparser/emailparser.h"
#include "platform/Errors.h"
#include "support/ProgressSpy.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::TDbxWriter;

namespace {

std::string Mail(const std::string& subject) {
    std::string body;
    for (int i = 0; i < 40; ++i) body += "line " + std::to_string(i) + " of " + subject + "\r\n";
    return "From: A <a@x>\r\nSubject: " + subject + "\r\n\r\n" + body;
}

// What the progress reports saw of the folder file while the read ran.
std::string g_folderFile;
int g_sharingViolations = 0;
int g_opened = 0;
void TryToOpenTheFolderFile() {
    HANDLE h = CreateFileA(g_folderFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ++g_opened;
        CloseHandle(h);
    } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
        ++g_sharingViolations;
    }
}

class WindowsReader : public ReaderTest {};

}  // namespace

TEST_F(WindowsReader, TheFolderFileIsHeldWithoutSharingWhileItIsRead) {
    TDbxWriter dbx;
    for (int i = 0; i < 30; ++i) dbx.AddMessage(Mail("message " + std::to_string(i)));
    g_folderFile = Scratch("folder.dbx");
    WriteAll(g_folderFile, dbx.Bytes());
    g_sharingViolations = g_opened = 0;

    corvane::testsupport::TProgressSpy progress;
    progress.OnReport = TryToOpenTheFolderFile;
    Toutlookfile reader;
    const TEmailArray emails = reader.GetEmails(g_folderFile, false, &progress);

    EXPECT_EQ(emails.size(), 30u);
    EXPECT_GT(g_sharingViolations, 0);  // the handler ran during the read, and was kept out
    EXPECT_EQ(g_opened, 0);
    TryToOpenTheFolderFile();  // afterwards it opens again
    EXPECT_EQ(g_opened, 1);
}

TEST_F(WindowsReader, AFolderFileHeldByAnotherProgramCannotBeRead) {
    TDbxWriter dbx;
    dbx.AddMessage(Mail("held"));
    const std::string path = Scratch("held.dbx");
    WriteAll(path, dbx.Bytes());
    // Another program reading it, but letting others read too: the reader
    // wants the file to itself and fails with the system's text.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Toutlookfile reader;
    try {
        reader.GetEmails(path, true);
        ADD_FAILURE() << "read a folder file held open elsewhere";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + path + "\". " + SystemErrorText(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(h);
    EXPECT_EQ(reader.GetEmails(path, true).size(), 1u);
}

TEST_F(WindowsReader, MessageFilesAreOpenedWithAllSharingByTheParseAndTheLineFinder) {
    TDbxWriter dbx;
    dbx.AddMessage(Mail("first"));
    const std::string path = Scratch("folder.dbx");
    WriteAll(path, dbx.Bytes());
    Toutlookfile reader;
    const TEmailArray emails = reader.GetEmails(path, false);
    ASSERT_EQ(emails.size(), 1u);
    // Someone else has the message file open for writing: every open of the
    // parse and of its line finder must share reading and writing to get in.
    HANDLE h = CreateFileA(emails[0].FileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ParseMessageFiles({emails[0].FileName}, false), emails);
    EXPECT_GT(FindLineEnd(emails[0].FileName, 0), 0);
    CloseHandle(h);
}

TEST_F(WindowsReader, MessageFileNamesHoldTheTemporaryFolderAndADoubledSeparator) {
    TDbxWriter dbx;
    const int gone = dbx.AddMessage(Mail("gone"));
    dbx.AddMessage(Mail("kept"));
    dbx.AddMessage(Mail("also kept"));
    dbx.DeleteMessage(gone);
    const std::string path = Scratch("folder.dbx");
    WriteAll(path, dbx.Bytes());

    char temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(MAX_PATH, temp);
    ASSERT_GT(n, 0u);
    const std::string folder(temp, n);
    ASSERT_EQ(folder.back(), '\\');

    Toutlookfile reader;
    const TEmailArray emails = reader.GetEmails(path, true);
    ASSERT_EQ(emails.size(), 3u);
    EXPECT_EQ(emails[0].FileName, folder + "\\msg1.tmp");
    EXPECT_EQ(emails[1].FileName, folder + "\\msg2.tmp");
    EXPECT_EQ(emails[2].FileName, folder + "\\delmsg1.tmp");
    // Read back under the single-separator name: the same files.
    EXPECT_EQ(ReadAll(folder + "msg2.tmp"), dbx.TextOf(2));
}
