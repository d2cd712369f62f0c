// What list's CSV and JSON say of where each message lies: the first block of
// its chain in the folder file, its stretch in the chain's text and the SHA-1
// of its bytes, each checked against the folder file as written and against
// the files an export writes.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/Sha1.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/CliRun.h"
#include "support/DbxFixture.h"
#include "support/ShellRun.h"

using namespace readertest;
using corvane::testsupport::Dbx;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;

namespace {

std::string Sha1(const std::string& bytes) {
    cli::TSha1 sha;
    sha.Add(bytes);
    return sha.HexDigest();
}

// The published test vectors, and the same bytes fed in uneven pieces.
TEST(Sha1, GivesTheStandardDigests) {
    EXPECT_EQ(Sha1(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha1("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(Sha1(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    cli::TSha1 pieces;
    const std::string text(1000000, 'a');
    for (std::size_t at = 0, n = 1; at < text.size(); at += n, n = n * 3 % 997 + 1)
        pieces.Add(std::string_view(text).substr(at, n));
    EXPECT_EQ(pieces.HexDigest(), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

class CliPlaces : public ReaderTest {
protected:
    // Four live messages (some over several blocks, some scattered), two of
    // them deleted later.
    std::string Folder(const std::string& name, TDbxWriter& w) {
        w.ReserveScatteredSlots(10);
        for (int i = 0; i < 6; ++i)
            w.AddMessage("From: P" + std::to_string(i) + " <p@example.org>\r\nSubject: Place " + std::to_string(i) +
                             "\r\nDate: Tue, " + std::to_string(i + 1) + " May 2003 10:0" + std::to_string(i) +
                             ":00 +0200\r\n\r\nbody " + std::string(static_cast<std::size_t>(i) * 400, 'p') + "\r\n",
                         i % 2 == 0 ? TBlockOrder::Scattered : TBlockOrder::Ascending);
        w.DeleteMessage(2);
        w.DeleteMessage(5);
        const std::string path = Scratch(name);
        w.Save(path);
        return path;
    }
};

// Every JSON record against the folder file and against the export: the
// chain whose first block chainOffset names holds, between messageStart and
// messageEnd, the exported file's bytes, whose sha1sum is the record's sha1;
// headerEnd is where the first blank line ends. Deleted records name a block
// of the freed list.
TEST_F(CliPlaces, JsonRecordsNameTheBytesAnExportWrites) {
    TDbxWriter w(3);
    const std::string path = Folder("Inbox.dbx", w);
    std::map<std::uint32_t, int> messageAt;  // first block: message
    for (int m = 0; m < static_cast<int>(w.MessageCount()); ++m) messageAt[w.BlocksOf(m).front()] = m;

    const auto list = Dbx({"list", "--deleted", "--format", "json", path});
    ASSERT_EQ(list.Status, cli::kExitOk) << list.Err;
    const auto json = nlohmann::json::parse(list.Out);
    const std::string out = Scratch("out");
    const auto exported = Dbx({"export", "--deleted", "--names", "item", "--out", out, path});
    ASSERT_EQ(exported.Status, cli::kExitOk) << exported.Err;

    ASSERT_EQ(json.size(), 6u);
    std::size_t live = 0;
    for (const auto& row : json) {
        EXPECT_FALSE(row.contains("messageFile")) << row;
        const std::string file = out + "/RecoveredEmail" + std::to_string(row["item"].get<int>()) + ".eml";
        const std::string bytes = ReadAll(file);
        EXPECT_EQ(row["sha1"], Sha1(bytes));
        const std::string sum = corvane::testsupport::ShellOutput("sha1sum " + corvane::testsupport::ShellQuoted(file));
        EXPECT_EQ(sum.substr(0, 40), row["sha1"].get<std::string>());
        const auto start = row["messageStart"].get<std::int64_t>();
        const auto headerEnd = row["headerEnd"].get<std::int64_t>();
        const auto end = row["messageEnd"].get<std::int64_t>();
        const auto chain = row["chainOffset"].get<std::int64_t>();
        EXPECT_EQ(end - start, static_cast<std::int64_t>(bytes.size()));
        if (!row["deleted"].get<bool>()) {
            ++live;
            ASSERT_EQ(messageAt.count(static_cast<std::uint32_t>(chain)), 1u) << row;
            const int m = messageAt[static_cast<std::uint32_t>(chain)];
            EXPECT_FALSE(w.IsDeleted(m));
            const std::string text = w.LiveChainText(w.BlocksOf(m));
            EXPECT_EQ(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)), bytes);
            // The body begins with the line end of the blank line.
            EXPECT_EQ(text.find("\r\n\r\n") + 2, static_cast<std::size_t>(headerEnd));
        } else {
            const auto& freed = w.FreeList();
            EXPECT_NE(std::find(freed.begin(), freed.end(), static_cast<std::uint32_t>(chain)), freed.end()) << row;
        }
    }
    EXPECT_EQ(live, 4u);
}

// CSV has the same places as JSON, the date in ISO 8601 beside the date as
// written, and with several folder files the folder file on every row.
TEST_F(CliPlaces, CsvHasTheIsoDateThePlacesAndTheFolderFile) {
    TDbxWriter w(4);
    const std::string path = Folder("Inbox.dbx", w);
    const auto json = nlohmann::json::parse(Dbx({"list", "--format", "json", path}).Out);
    for (const bool raw : {false, true}) {
        std::vector<std::string> arguments{"list", "--format", "csv", path};
        if (raw) arguments.insert(arguments.begin() + 1, "--raw");
        const auto csv = Dbx(arguments);
        ASSERT_EQ(csv.Status, cli::kExitOk) << csv.Err;
        std::istringstream lines(csv.Out);
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, "Item Num,Deleted,Date,Date ISO,From,To,Subject,Chain Offset,Message Start,Header End,"
                        "Message End,SHA-1,Flags,Received,Message-ID,In Index\r");
        for (const auto& row : json) {
            ASSERT_TRUE(std::getline(lines, line));
            const std::string expected =
                std::to_string(row["item"].get<int>()) + ",no,\"" + (raw ? row["raw"]["date"] : row["date"]).get<std::string>() + '"' +
                ',' + row["dateIso"].get<std::string>() + ',' + (raw ? row["raw"]["from"] : row["from"]).get<std::string>() +
                ",," + (raw ? row["raw"]["subject"] : row["subject"]).get<std::string>() + ',' +
                std::to_string(row["chainOffset"].get<std::int64_t>()) + ',' +
                std::to_string(row["messageStart"].get<std::int64_t>()) + ',' +
                std::to_string(row["headerEnd"].get<std::int64_t>()) + ',' +
                std::to_string(row["messageEnd"].get<std::int64_t>()) + ',' + row["sha1"].get<std::string>() +
                ",,,,\r";  // no index in this file: its four columns stay empty
            EXPECT_EQ(line, expected);
        }
        EXPECT_FALSE(std::getline(lines, line));
    }
    for (const auto& row : json) {
        const std::string n = row["subject"].get<std::string>().substr(6);  // "Place N"
        EXPECT_EQ(row["dateIso"], "2003-05-0" + std::to_string(std::stoi(n) + 1) + "T10:0" + n + ":00+02:00");
    }

    TDbxWriter other(5);
    const std::string second = Folder("Sent.dbx", other);
    const auto both = Dbx({"list", "--format", "csv", path, second});
    std::istringstream lines(both.Out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("Folder File,Item Num,", 0), 0u) << line;
    std::size_t rows = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(line.rfind(path + ",", 0) == 0 || line.rfind(second + ",", 0) == 0) << line;
        ++rows;
    }
    EXPECT_EQ(rows, 8u);
}

}  // namespace
