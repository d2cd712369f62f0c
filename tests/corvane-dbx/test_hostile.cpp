// corvane-dbx against hostile messages and names: whatever the header bytes,
// every listing is well-formed UTF-8 that a strict reader takes; a terminal
// is never sent a message's control sequences; wide characters are counted
// as the terminal shows them; a folder file's name that is no UTF-8 is given
// so that a program can still open the file.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "emailexport/emailexport.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/CliRun.h"
#include "support/DbxFixture.h"
#include "utf8/Utf8.h"

using namespace readertest;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;

namespace {

using TResult = corvane::testsupport::TCliResult;
using corvane::testsupport::Dbx;

const std::string kFffd = "\xEF\xBF\xBD";

class CliHostile : public ReaderTest {
protected:
    std::string Folder(const std::string& name, const std::vector<std::string>& messages) {
        TDbxWriter w(3);
        for (const std::string& m : messages) w.AddMessage(m);
        const std::string path = Scratch(name);
        w.Save(path);
        return path;
    }
};

// A character above U+10FFFF in an encoded word, and raw 8-bit header bytes
// with an overlong form and a surrogate: every format, decoded or raw, stays
// well-formed, the encoded word's bad sequence becomes U+FFFD (one per
// maximal subpart) and the raw bytes that form no UTF-8 are read as
// Windows-1252.
TEST_F(CliHostile, EveryListingIsWellFormedUtf8) {
    const std::string file = Folder(
        "u.dbx", {"From: a <a@example.org>\r\nSubject: =?utf-8?Q?big_=F4=90=80=80?=\r\n\r\nx\r\n",
                  "From: over \xE0\x80\xAF <b@example.org>\r\nSubject: sur \xED\xA0\x80 end\r\n\r\ny\r\n",
                  "From: c <c@example.org>\r\nSubject: =?utf-8?B?" "7aCA" "?= cut =?utf-8?Q?=F0=9F=98?=\r\n\r\nz\r\n"});
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--format", "json"}, {"--format", "csv"}, {"--format", "table"},
          {"--raw", "--format", "json"}, {"--raw", "--format", "csv"}, {"--raw"}}) {
        std::vector<std::string> arguments{"list"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(file);
        const TResult r = Dbx(arguments);
        ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
        EXPECT_TRUE(corvane::utf8::IsWellFormed(r.Out)) << options.back() << ":\n" << r.Out;
    }
    const TResult r = Dbx({"list", "--format", "json", file});
    const nlohmann::json rows = nlohmann::json::parse(r.Out);  // throws on ill-formed UTF-8
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]["subject"], "big " + kFffd + kFffd + kFffd + kFffd);
    EXPECT_EQ(rows[1]["from"], "over \xC3\xA0\xE2\x82\xAC\xC2\xAF <b@example.org>");  // à€¯
    EXPECT_EQ(rows[1]["subject"], "sur \xC3\xAD\xC2\xA0\xE2\x82\xAC end");          // í €
    EXPECT_EQ(rows[2]["subject"], kFffd + kFffd + kFffd + " cut " + kFffd);
}

// On a terminal, show gives neither the message's escape sequences (OSC 52,
// a clipboard write) nor C1 controls nor ill-formed bytes, and keeps tabs
// and line ends; to a pipe, --raw is byte for byte.
TEST_F(CliHostile, ShowSendsNoControlsToATerminal) {
    const std::string body = "a\x1B]52;c;ZXZpbA==\x07 b\tc\x7F\xC2\x9B""31m d\x9B""2J\r\nend\r\n";
    const std::string file = Folder("s.dbx", {"From: a <a@example.org>\r\nSubject: s\r\n\r\n" + body});
    for (const bool raw : {false, true}) {
        std::vector<std::string> arguments{"show", "0", file};
        if (raw) arguments.insert(arguments.begin() + 1, "--raw");
        const TResult terminal = Dbx(arguments, 80);
        ASSERT_EQ(terminal.Status, cli::kExitOk) << terminal.Err;
        EXPECT_TRUE(corvane::utf8::IsWellFormed(terminal.Out));
        for (const char c : terminal.Out) {
            const auto b = static_cast<unsigned char>(c);
            EXPECT_TRUE(b >= 0x20 || c == '\t' || c == '\n' || c == '\r') << int(b);
            EXPECT_NE(b, 0x7F);
        }
        EXPECT_EQ(terminal.Out.find("\xC2\x9B"), std::string::npos);
        // Raw, the bytes are shown as UTF-8 where they form it (C2 9B is a C1
        // control); decoded, a body of no charset is Windows-1252 text.
        const std::string shown = raw ? "a ]52;c;ZXZpbA==  b\tc " + kFffd + "31m d" + kFffd + "2J\r\nend"
                                      : "a ]52;c;ZXZpbA==  b\tc \xC3\x82\xE2\x80\xBA" "31m d\xE2\x80\xBA" "2J\nend";
        EXPECT_NE(terminal.Out.find(shown), std::string::npos) << terminal.Out;
        const TResult pipe = Dbx(arguments, 0);
        ASSERT_EQ(pipe.Status, cli::kExitOk) << pipe.Err;
        if (raw) EXPECT_EQ(pipe.Out, "\r\n" + body);
        else EXPECT_NE(pipe.Out.find("\x1B]52;c;"), std::string::npos);
    }
}

// The columns a test terminal gives a character: two for the emoji and CJK
// ideographs these cases use, one for everything else.
std::size_t TerminalColumns(const std::string& line) {
    std::size_t columns = 0;
    for (std::size_t i = 0; i < line.size();) {
        const corvane::utf8::TStep step = corvane::utf8::Decode(line, i);
        const char32_t c = step.CodePoint;
        columns += (c >= 0x1F600 && c <= 0x1F64F) || (c >= 0x4E00 && c <= 0x9FFF) ? 2 : 1;
        i += step.Length;
    }
    return columns;
}

// 24 emoji in a subject, and CJK text, under 80 columns: no line is wider
// than the terminal, and a cut never splits a character.
TEST_F(CliHostile, WideCharactersTakeTwoColumns) {
    std::string emoji;
    for (int i = 0; i < 24; ++i) emoji += "\xF0\x9F\x98\x80";
    std::string cjk;
    for (int i = 0; i < 30; ++i) cjk += "\xE4\xB8\xAD";
    const std::string file = Folder("w.dbx", {"From: a <a@example.org>\r\nSubject: " + emoji + "\r\n\r\nx\r\n",
                                              "From: " + cjk + " <b@example.org>\r\nSubject: s\r\n\r\nx\r\n"});
    const TResult r = Dbx({"list", file}, 80);
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    EXPECT_TRUE(corvane::utf8::IsWellFormed(r.Out));
    std::size_t lines = 0, widest = 0;
    for (std::size_t at = 0; at < r.Out.size(); ++lines) {
        const std::size_t end = r.Out.find('\n', at);
        const std::size_t columns = TerminalColumns(r.Out.substr(at, end - at));
        EXPECT_LE(columns, 80u) << r.Out.substr(at, end - at);
        widest = std::max(widest, columns);
        at = end + 1;
    }
    EXPECT_EQ(lines, 3u);
    EXPECT_GE(widest, 70u);  // cut to fit, not far below the width
    // Unlimited, the subject keeps all 24.
    const TResult whole = Dbx({"list", file}, 0);
    EXPECT_NE(whole.Out.find(emoji), std::string::npos);
}

// A name that is UTF-8 is given as it is; one that is not gets U+FFFD for
// its bad bytes and, beside it, its exact bytes.
TEST_F(CliHostile, JsonNamesAFolderFileExactly) {
    const std::string message = "From: a <a@example.org>\r\nSubject: s\r\n\r\nx\r\n";
    const std::string latin = Folder("caf\xE9.dbx", {message});
    const std::string utf8 = Folder("caf\xC3\xA9.dbx", {message});
    const TResult r = Dbx({"list", "--format", "json", latin, utf8});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    const nlohmann::json rows = nlohmann::json::parse(r.Out);
    ASSERT_EQ(rows.size(), 2u);
    const std::string shown = rows[0]["folderFile"];
    EXPECT_EQ(shown, latin.substr(0, latin.size() - 5) + kFffd + ".dbx");
    const std::string hex = rows[0]["folderFileBytes"];
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    EXPECT_EQ(bytes, latin);
    EXPECT_TRUE(stdfs::exists(bytes));
    EXPECT_EQ(rows[1]["folderFile"], utf8);
    EXPECT_FALSE(rows[1].contains("folderFileBytes"));
}

// More rows than wait in memory (about 20 MB of JSON): they wait in a
// scratch file, and come out whole and in order; the table of the same
// file is as wide as its widest cells.
TEST_F(CliHostile, AListingOfManyRowsIsWholeAndInOrder) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "From: a\r\n\r\n";
    const std::string file = Folder("many.dbx", {text, "From: someone much longer <x@example.org>\r\n\r\nz\r\n"});
    const TResult json = Dbx({"list", "--raw", "--format", "json", file});
    ASSERT_EQ(json.Status, cli::kExitOk) << json.Err;
    ASSERT_GT(json.Out.size(), std::size_t{16} << 20);
    const nlohmann::json rows = nlohmann::json::parse(json.Out);
    ASSERT_EQ(rows.size(), 100001u);
    for (std::size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i]["item"], i);
    EXPECT_EQ(rows[100000]["from"], " someone much longer <x@example.org>");
    const TResult table = Dbx({"list", file});
    ASSERT_EQ(table.Status, cli::kExitOk) << table.Err;
    std::istringstream lines(table.Out);
    std::string line, last;
    std::size_t count = 0;
    std::getline(lines, line);
    const std::size_t width = line.size();
    while (std::getline(lines, line)) {
        ++count;
        last = line;
    }
    EXPECT_EQ(count, 100001u);
    EXPECT_EQ(last.substr(0, 6), "100000");
    EXPECT_NE(last.find("someone much longer <x@example.org>"), std::string::npos) << last;
    EXPECT_GE(width, last.size());
}

// Every file below a folder, by name, with its bytes.
std::map<std::string, std::string> Files(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& e : stdfs::directory_iterator(folder, ec)) files[e.path().filename().string()] = ReadAll(e.path().string());
    return files;
}

// A run with the console's seams.
TResult DbxWith(const std::vector<std::string>& arguments, const std::function<int(const char*, std::int64_t)>& stopAt,
            const std::function<void(const std::string&)>& afterScan = {}) {
    std::ostringstream out, err;
    cli::TConsole console{out, err, 0, false, 2};
    console.StopAt = stopAt;
    console.AfterScan = afterScan;
    const int status = cli::RunCorvaneDbx(arguments, console);
    return {status, out.str(), err.str()};
}

class CliChanging : public CliHostile {
protected:
    void SetUp() override {
        CliHostile::SetUp();
        TDbxWriter w(11);
        for (int i = 0; i < 300; ++i)
            w.AddMessage("From: m" + std::to_string(i) + " <m@example.org>\r\nSubject: " + std::to_string(i) + "\r\n\r\n" +
                         std::string(static_cast<std::size_t>(300 + i * 7), 'a' + static_cast<char>(i % 26)) + "\r\n");
        for (int i = 0; i < 300; i += 3) w.DeleteMessage(i);
        bytes_ = w.Bytes();
        file_ = Scratch("f.dbx");
        w.Save(file_);
        const TResult solo = Dbx({"export", "--deleted", "--out", Scratch("solo"), file_});
        ASSERT_EQ(solo.Status, cli::kExitOk) << solo.Err;
        solo_ = Files(Scratch("solo"));
        ASSERT_EQ(solo_.size(), 300u);  // 200 live, 100 deleted
    }
    // Every file in the folder is one of a whole run's, byte for byte.
    void ExpectWholeFiles(const std::string& folder, std::size_t& count) {
        const auto files = Files(folder);
        count = files.size();
        for (const auto& [name, bytes] : files) {
            ASSERT_EQ(solo_.count(name), 1u) << name;
            EXPECT_EQ(bytes, solo_.at(name)) << name;
        }
    }
    std::string bytes_, file_;
    std::map<std::string, std::string> solo_;
};

// Cut to a third between the scan and the walk: the export stops, says the
// file changed, fails, and every file it leaves is whole and right; the
// listings list nothing of the file.
TEST_F(CliChanging, AFolderFileCutWhileReadFailsTheRun) {
    const auto cut = [&](const std::string& path) { stdfs::resize_file(path, bytes_.size() / 3); };
    const TResult r = DbxWith({"export", "--deleted", "--out", Scratch("cut"), file_}, {}, cut);
    EXPECT_EQ(r.Status, cli::kExitFailed);
    EXPECT_NE(r.Err.find("corvane-dbx: " + file_ + ": changed while it was read\n"), std::string::npos) << r.Err;
    std::size_t count = 0;
    ExpectWholeFiles(Scratch("cut"), count);
    EXPECT_LT(count, solo_.size());
    for (const char* format : {"csv", "json"}) {
        corvane::testsupport::WriteWholeFile(file_, bytes_);
        const TResult list = DbxWith({"list", "--deleted", "--format", format, file_}, {}, cut);
        EXPECT_EQ(list.Status, cli::kExitFailed);
        EXPECT_EQ(list.Out.find("m1 <"), std::string::npos) << list.Out;
    }
    corvane::testsupport::WriteWholeFile(file_, bytes_);
    const TResult mbox = DbxWith({"export", "--deleted", "--mbox", Scratch("cut.mbox"), file_}, {}, cut);
    EXPECT_EQ(mbox.Status, cli::kExitFailed);
    EXPECT_FALSE(stdfs::exists(Scratch("cut.mbox")));
}

// A stop in every phase (the scan, the walk, the writing of the files, once
// the read is done), delivered at a chosen progress report: the run ends
// with 128 + the signal, leaves only whole files and no temporary one.
TEST_F(CliChanging, AStopEndsEveryPhase) {
    struct TCase {
        const char* Stage;
        std::int64_t Done;
        int Signal;
    };
    const TCase cases[] = {
        {"Scanning blocks", 0, 2},
        {"Writing messages", 1, 15},
        {"Writing deleted messages", 1, 15},
        {corvane::mail::kExportStage, 20, 15},
        {corvane::mail::kExportStage, 250, 2},
    };
    int round = 0;
    for (const TCase& c : cases) {
        const std::string out = Scratch("stop" + std::to_string(round++));
        bool asked = false;
        const auto stopAt = [&](const char* stage, std::int64_t done) {
            if (std::string(stage) != c.Stage || done < c.Done) return 0;
            asked = true;
            return c.Signal;
        };
        const TResult r = DbxWith({"export", "--deleted", "--out", out, file_}, stopAt);
        EXPECT_TRUE(asked) << c.Stage;
        EXPECT_EQ(r.Status, 128 + c.Signal) << c.Stage << ": " << r.Err;
        std::size_t count = 0;
        ExpectWholeFiles(out, count);
        EXPECT_LT(count, solo_.size()) << c.Stage;
        for (const auto& [name, bytes] : Files(out)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;

        const std::string mbox = Scratch("stop.mbox");
        const TResult m = DbxWith({"export", "--deleted", "--mbox", mbox, file_}, stopAt);
        if (std::string(c.Stage) != corvane::mail::kExportStage) {
            EXPECT_EQ(m.Status, 128 + c.Signal) << c.Stage;
        }
        EXPECT_EQ(stdfs::exists(mbox), m.Status == 0);
        for (const auto& e : stdfs::directory_iterator(scratch_))
            EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
        stdfs::remove(mbox);
    }
}

}  // namespace
