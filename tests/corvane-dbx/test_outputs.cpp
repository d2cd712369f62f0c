// What corvane-dbx leaves on the disk and on the terminal when things go
// wrong: links and folder files in the way, failed exports, output that cannot
// be written, files that are no folder files, hostile header bytes, long item
// lists.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "corvane-dbx/CommandLine.h"
#include "outlookfile/ReaderTestSupport.h"
#include "outlookfile/outlookfile.h"
#include "support/CliRun.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;

namespace {

using TResult = corvane::testsupport::TCliResult;
using corvane::testsupport::Dbx;

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The program run by the shell with the redirections given; its exit status.
int Shell(const std::string& line) {
    const int status = std::system(("bash -c " + Quoted(line)).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Program() { return Quoted(CORVANE_DBX_PROGRAM); }

// The names in a folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : stdfs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class CliOutputs : public ReaderTest {
protected:
    // A folder file of `count` live messages, tagged.
    std::string Folder(const std::string& name, const std::string& tag, int count = 3) {
        TDbxWriter w(static_cast<std::uint64_t>(count) + tag.size());
        for (int i = 0; i < count; ++i)
            w.AddMessage("From: " + tag + " <" + tag + "@example.org>\r\nSubject: " + tag + " " + std::to_string(i) +
                         "\r\n\r\n" + tag + " body " + std::to_string(i) + "\r\n");
        const std::string path = Scratch(name);
        w.Save(path);
        return path;
    }
};

// The .eml files replace what holds their names, never write through it: a
// symbolic link's and a hard link's other file keep their bytes, an earlier
// export's file is replaced whole, no temporary file stays, and the files
// are readable as the umask allows.
TEST_F(CliOutputs, EmlExportReplacesLinksAndFollowsTheUmask) {
    const std::string inbox = Folder("Inbox.dbx", "eml");
    const std::string out = Scratch("out");
    stdfs::create_directory(out);
    WriteAll(Scratch("victim-soft"), "soft victim");
    WriteAll(Scratch("victim-hard"), "hard victim");
    stdfs::create_symlink(Scratch("victim-soft"), out + "/RecoveredEmail0.eml");
    stdfs::create_hard_link(Scratch("victim-hard"), out + "/RecoveredEmail1.eml");
    WriteAll(out + "/RecoveredEmail2.eml", "an earlier export");
    for (const mode_t mask : {022, 077, 002}) {
        const mode_t before = ::umask(mask);
        const TResult r = Dbx({"export", "--overwrite", "--out", out, inbox});
        ::umask(before);
        ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
        EXPECT_EQ(ReadAll(Scratch("victim-soft")), "soft victim");
        EXPECT_EQ(ReadAll(Scratch("victim-hard")), "hard victim");
        EXPECT_EQ(Names(out), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml",
                                                        "RecoveredEmail2.eml"}));
        for (int i = 0; i < 3; ++i) {
            const std::string file = out + "/RecoveredEmail" + std::to_string(i) + ".eml";
            EXPECT_TRUE(stdfs::is_regular_file(stdfs::symlink_status(file))) << file;
            EXPECT_NE(ReadAll(file).find("eml body " + std::to_string(i)), std::string::npos) << file;
            struct stat st {};
            ASSERT_EQ(::stat(file.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << file << " umask " << mask;
        }
    }
}

// An mbox never replaces a folder file: not one of the call's (also under
// another name), not one named *.dbx, not one that begins with a folder
// file's signature; nothing is written and the status is 1.
TEST_F(CliOutputs, MboxNeverReplacesAFolderFile) {
    const std::string deleted = Folder("Deleted.dbx", "deleted"), inbox = Folder("Inbox.dbx", "inbox"),
                      sent = Folder("Sent.dbx", "sent");
    const std::string original = ReadAll(deleted);
    stdfs::create_hard_link(deleted, Scratch("deleted-mail"));
    WriteAll(Scratch("Old.DBX"), "not even a folder file, but named as one");
    stdfs::copy_file(sent, Scratch("copy-of-sent"));
    const std::vector<std::string> targets = {deleted, Scratch("deleted-mail"), Scratch("Old.DBX"),
                                              Scratch("copy-of-sent")};
    for (const std::string& target : targets) {
        const std::string before = ReadAll(target);
        // As the shell expands "--mbox *.dbx": the first folder file becomes the target.
        const TResult r = Dbx({"export", "--deleted", "--mbox", target, inbox, sent});
        EXPECT_EQ(r.Status, cli::kExitFailed) << target;
        EXPECT_NE(r.Err.find("Nothing was written"), std::string::npos) << r.Err;
        EXPECT_EQ(ReadAll(target), before) << target;
        const TResult self = Dbx({"export", "--mbox", target, deleted, inbox});
        EXPECT_EQ(self.Status, cli::kExitFailed) << target;
        EXPECT_EQ(ReadAll(target), before) << target;
    }
    EXPECT_EQ(ReadAll(deleted), original);
    for (const auto& name : Names(scratch_)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    // A new file of any name, and an existing mbox, are written.
    EXPECT_EQ(Dbx({"export", "--mbox", Scratch("new.mbox"), inbox}).Status, cli::kExitOk);
    EXPECT_EQ(Dbx({"export", "--mbox", Scratch("new.mbox"), sent}).Status, cli::kExitOk);
    EXPECT_NE(ReadAll(Scratch("new.mbox")).find("sent body"), std::string::npos);
}

// A failed mbox export keeps the file of the chosen name as it was: a folder
// file that cannot be read, or no message chosen (no failure when nothing
// else went wrong). A partial batch (some of
// the items asked for are missing) is written, and the missing ones reported.
TEST_F(CliOutputs, AFailedMboxExportKeepsTheExistingFile) {
    const std::string inbox = Folder("Inbox.dbx", "kept");
    const std::string archive = Scratch("archive.mbox");
    WriteAll(archive, "From a@b Mon Jan  1 00:00:00 2001\nSubject: old\n\nold\n\n");
    const std::vector<std::vector<std::string>> failures = {
        {"export", "--mbox", archive, Scratch("missing.dbx")},
        {"export", "--mbox", archive, "--items", "99", inbox},
        {"export", "--mbox", archive, Scratch("missing.dbx"), inbox},
        {"export", "--mbox", archive, "--filter", "no such words", inbox},
    };
    for (const auto& arguments : failures) {
        const TResult r = Dbx(arguments);
        const bool nothingChosen = arguments[3] == "--filter" || arguments[3] == "--items";
        EXPECT_EQ(r.Status, arguments[3] == "--filter" ? cli::kExitOk : cli::kExitFailed)
            << testing::PrintToString(arguments);
        EXPECT_NE(r.Err.find(nothingChosen ? "no message matched; " + archive + " not written"
                                           : archive + ": not written"),
                  std::string::npos)
            << r.Err;
        EXPECT_EQ(ReadAll(archive), "From a@b Mon Jan  1 00:00:00 2001\nSubject: old\n\nold\n\n");
    }
    const TResult partial = Dbx({"export", "--mbox", archive, "--items", "1,99", inbox});
    EXPECT_EQ(partial.Status, cli::kExitFailed);
    EXPECT_EQ(partial.Err, "corvane-dbx: " + inbox + ": item 99 not found\n");
    EXPECT_NE(ReadAll(archive).find("kept body 1"), std::string::npos);
    EXPECT_EQ(ReadAll(archive).find("old"), std::string::npos);
    for (const auto& name : Names(scratch_)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

// Temporary files left by runs that were killed do not stand in the way.
TEST_F(CliOutputs, LeftoverTemporaryFilesDoNotBlockAnExport) {
    const std::string inbox = Folder("Inbox.dbx", "stale");
    const std::string mbox = Scratch("all.mbox");
    WriteAll(mbox + ".part", "left by a killed run");
    for (int i = 1; i < 120; ++i) WriteAll(mbox + ".part" + std::to_string(i), "left");
    stdfs::create_directory(Scratch("out"));
    WriteAll(Scratch("out/RecoveredEmail0.eml.part"), "left by a killed run");
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"export", "--mbox", mbox, inbox},
                                                                       {"export", "--out", Scratch("out"), inbox}}) {
        const TResult r = Dbx(arguments);
        EXPECT_EQ(r.Status, cli::kExitOk) << r.Err;
    }
    EXPECT_NE(ReadAll(mbox).find("stale body 2"), std::string::npos);
    EXPECT_NE(ReadAll(Scratch("out/RecoveredEmail0.eml")).find("stale body 0"), std::string::npos);
    EXPECT_EQ(ReadAll(mbox + ".part"), "left by a killed run");  // another run's, perhaps: left alone
}

// A message whose header block was never closed is one message to every mbox
// reader: Python's mailbox and GNU Mailutils' messages.
TEST_F(CliOutputs, AHeaderOnlyRecordIsOneMessageToMboxReaders) {
    TDbxWriter w(3);
    w.AddMessage("From: a <a@example.org>\r\nSubject: headers only\r\nX-Cut: here\r\n");
    w.AddMessage("From: b <b@example.org>\r\nSubject: whole\r\n\r\nbody\r\n");
    w.AddMessage("From: c <c@example.org>\r\nSubject: headers only too\r\n");
    const std::string inbox = Scratch("Inbox.dbx");
    w.Save(inbox);
    const TResult listed = Dbx({"list", "--format", "json", inbox});
    ASSERT_NE(listed.Out.find("\"headerEnd\": 0"), std::string::npos) << listed.Out;
    const std::string mbox = Scratch("out.mbox");
    ASSERT_EQ(Dbx({"export", "--mbox", mbox, inbox}).Status, cli::kExitOk);

    EXPECT_EQ(Shell("test \"$(python3 -c 'import mailbox, sys; print(len(mailbox.mbox(sys.argv[1])))' " + Quoted(mbox) +
                    ")\" = 3"),
              0)
        << ReadAll(mbox);
    EXPECT_EQ(Shell("messages " + Quoted(mbox) + " | grep -q ': 3$'"), 0) << ReadAll(mbox);
    // The record's own bytes are kept; only the empty line that ends its headers is added.
    EXPECT_NE(ReadAll(mbox).find("Subject: headers only\nX-Cut: here\n\n\nFrom "), std::string::npos) << ReadAll(mbox);
}

// An output stream that takes nothing.
class TFullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

// Output that cannot be written is a failure (status 1, a message on the
// error stream): a full disk, a closed standard output; a closed pipe ends
// the program quietly, as SIGPIPE does.
TEST_F(CliOutputs, OutputThatCannotBeWrittenFails) {
    const std::string inbox = Folder("Inbox.dbx", "full", 1000);
    TFullBuffer full;
    std::ostream out(&full);
    std::ostringstream err;
    cli::TConsole console{out, err, 0, false};
    EXPECT_EQ(cli::RunCorvaneDbx({"list", "--format", "json", inbox}, console), cli::kExitFailed);
    EXPECT_NE(err.str().find("cannot write to standard output"), std::string::npos) << err.str();

    const std::string errFile = Scratch("err");
    for (const std::string& command : std::vector<std::string>{"list --format json " + Quoted(inbox), "show 3 " + Quoted(inbox),
                                                               "find " + Quoted(scratch_), "--help"}) {
        for (const char* redirection : {" > /dev/full", " >&-"}) {
            EXPECT_EQ(Shell(Program() + " " + command + redirection + " 2> " + Quoted(errFile)), 1)
                << command << redirection;
            EXPECT_NE(ReadAll(errFile).find("cannot write to standard output"), std::string::npos) << command;
        }
        EXPECT_EQ(Shell(Program() + " " + command + " > /dev/null"), 0) << command;
    }
    EXPECT_EQ(Shell("set -o pipefail; " + Program() + " list --format json " + Quoted(inbox) + " 2> " + Quoted(errFile) +
                    " | head -c 1 > /dev/null"),
              128 + SIGPIPE);
    EXPECT_EQ(ReadAll(errFile), "");
}

// The table: folder file names as UTF-8, no control byte of a header sent
// to the terminal, one set of widths over every folder file, COLUMNS honoured.
TEST_F(CliOutputs, TheTableIsCleanAndAligned) {
    TDbxWriter w(5);
    w.AddMessage("From: \x1B]0;title\x07 <e@example.org>\r\nSubject: C1 \x81\x8D\x8F\x90\x9D end\r\n\r\nx\r\n");
    w.AddMessage("From: someone with a much longer name than the others <long@example.org>\r\nSubject: s\r\n\r\nx\r\n");
    const std::string cafe = Scratch("caf\xC3\xA9.dbx");
    w.Save(cafe);
    const std::string other = Folder("b.dbx", "b");
    for (const int width : {0, 60}) {
        const TResult r = Dbx({"list", cafe, other}, width);
        ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
        std::vector<std::u32string> rows;
        std::u32string row;
        for (std::size_t i = 0; i < r.Out.size(); ++i) {
            const auto b = static_cast<unsigned char>(r.Out[i]);
            ASSERT_TRUE(b >= 0x20 || b == '\n') << "control byte " << int(b) << " in\n" << r.Out;
            ASSERT_FALSE(b == 0xC2 && i + 1 < r.Out.size() && static_cast<unsigned char>(r.Out[i + 1]) < 0xA0)
                << "C1 control in\n" << r.Out;
            if (b == '\n') {
                rows.push_back(row);
                row.clear();
            } else if ((b & 0xC0) != 0x80) {
                row += static_cast<char32_t>(b);  // one character per lead byte
            }
        }
        ASSERT_EQ(rows.size(), 1u + 2 + 3);
        if (width == 0) {
            EXPECT_NE(r.Out.find(cafe + "  "), std::string::npos) << r.Out;  // UTF-8, as it was given
        }
        // Every row's item number stands in the same column.
        const std::size_t column = rows[0].find(U"Item Num");
        for (std::size_t i = 1; i < rows.size(); ++i) {
            EXPECT_NE(rows[i][column], U' ') << i;
            EXPECT_EQ(rows[i][column - 1], U' ') << i;
            if (width > 0) {
                EXPECT_LE(rows[i].size(), static_cast<std::size_t>(width));
            }
        }
    }
    const std::string outFile = Scratch("table");
    EXPECT_EQ(Shell("COLUMNS=50 " + Program() + " list " + Quoted(other) + " " + Quoted(cafe) + " > " + Quoted(outFile)), 0);
    std::istringstream lines(ReadAll(outFile));
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        std::size_t characters = 0;
        for (const char c : line) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
        EXPECT_LE(characters, 50u) << line;
    }
    EXPECT_EQ(count, 6u);
}

// Item lists: one error line per run of missing items, whatever its length;
// a repeated single-valued option and --out with --mbox are usage errors.
TEST_F(CliOutputs, ItemListsReportMissingRangesOnce) {
    const std::string inbox = Folder("demo.dbx", "demo", 10);
    const TResult r = Dbx({"export", "--items", "2,5,10-9999998,12,11", "--out", Scratch("out"), inbox});
    EXPECT_EQ(r.Status, cli::kExitFailed);
    EXPECT_EQ(r.Err, "corvane-dbx: " + inbox + ": items 10-9999998 not found\n");
    EXPECT_EQ(Names(Scratch("out")), (std::vector<std::string>{"RecoveredEmail2.eml", "RecoveredEmail5.eml"}));
    const TResult gaps = Dbx({"export", "--items", "3,20,22-23", "--out", Scratch("out2"), inbox});
    EXPECT_EQ(gaps.Err, "corvane-dbx: " + inbox + ": item 20 not found\ncorvane-dbx: " + inbox + ": items 22-23 not found\n");

    const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
        {{"export", "--items", "1", "--items", "2", "--out", "d", "a.dbx"}, "--items given more than once"},
        {{"list", "--filter", "a", "--filter=b", "a.dbx"}, "--filter given more than once"},
        {{"list", "--format", "csv", "--format", "csv", "a.dbx"}, "--format given more than once"},
        {{"export", "--out", "d", "--out", "e", "a.dbx"}, "--out given more than once"},
        {{"export", "--mbox", "m", "--mbox", "n", "a.dbx"}, "--mbox given more than once"},
        {{"export", "--out", "x", "--mbox", "y", "a.dbx"}, "use either --out DIR or --mbox FILE, not both"},
    };
    for (const auto& [arguments, text] : usage) {
        const TResult u = Dbx(arguments);
        EXPECT_EQ(u.Status, cli::kExitUsage) << text;
        EXPECT_EQ(u.Err.rfind("corvane-dbx: " + text + "\n", 0), 0u) << u.Err;
    }
}

// A file that is no folder file is scanned all the same, with a warning;
// when nothing is found in it the status is 1. A folder file whose header
// was lost still gives its messages.
TEST_F(CliOutputs, AFileThatIsNoFolderFileIsNamed) {
    const std::string text = Scratch("passwd");
    WriteAll(text, "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n");
    const TResult r = Dbx({"list", text});
    EXPECT_EQ(r.Status, cli::kExitFailed);
    EXPECT_NE(r.Err.find("corvane-dbx: " + text + ": does not begin as a folder file does"), std::string::npos) << r.Err;

    const std::string damaged = Folder("damaged.dbx", "damaged");
    std::string bytes = ReadAll(damaged);
    ASSERT_EQ(bytes.compare(0, 4, reinterpret_cast<const char*>(corvane::testsupport::kDbxSignature), 4), 0);
    ASSERT_TRUE(BeginsWithFolderFileSignature(damaged));
    bytes.replace(0, 4, 4, '\0');
    WriteAll(damaged, bytes);
    const TResult found = Dbx({"list", "--format", "csv", damaged});
    EXPECT_EQ(found.Status, cli::kExitOk) << found.Err;
    EXPECT_NE(found.Err.find("does not begin as a folder file does"), std::string::npos);
    EXPECT_NE(found.Out.find("damaged 2"), std::string::npos);
    EXPECT_EQ(Dbx({"list", Folder("whole.dbx", "whole")}).Err, "");
}

}  // namespace
