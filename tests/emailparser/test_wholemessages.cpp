// The parse with whole messages: each file one message, one record at most,
// whatever header blocks its text holds further on.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "emailparser/emailparser.h"
#include "support/NestedHeaderMail.h"
#include "support/RandomFolders.h"
#include "support/TestFiles.h"

namespace {

namespace support = corvane::testsupport;

class WholeMessages : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

private:
    support::TScratchFolder folder_{"corvane-whole"};
};

// The parse of one text fed byte by byte and in pieces of a few bytes, as a
// chain arrives from the folder reader.
TEmailArray Fed(const std::string& name, const std::string& text, bool whole, std::size_t piece) {
    TMessageParser parser(false, whole);
    parser.BeginFile(name);
    for (std::size_t at = 0; at < text.size(); at += piece) parser.Feed(text.data() + at, std::min(piece, text.size() - at));
    parser.EndFile();
    return parser.Take();
}

}  // namespace

TEST_F(WholeMessages, EachMessageWithEmbeddedHeaderBlocksIsOneRecordOverAllOfItsText) {
    for (const support::TNestedHeaderMail& mail : support::NestedHeaderMails()) {
        SCOPED_TRACE(mail.Name);
        const std::string file = Write("msg1.tmp", mail.Text);
        const TEmailArray split = ParseMessageFiles({file}, false);
        ASSERT_EQ(split.size(), mail.HeaderBlocks);
        const TEmailArray whole = ParseMessageFiles({file}, false, true);
        if (mail.HeaderBlocks == 0) {
            EXPECT_TRUE(whole.empty());
            continue;
        }
        ASSERT_EQ(whole.size(), 1u);
        const TEmail& e = whole[0];
        EXPECT_EQ(e.FileName, file);
        EXPECT_EQ(e.Deleted, 0);
        EXPECT_EQ(e.From, mail.From);
        EXPECT_EQ(e.To, mail.To);
        EXPECT_EQ(e.Subject, mail.Subject);
        EXPECT_EQ(e.Date, mail.Date);
        // The whole text: from the header's first line to the file's last
        // byte, the body after the header's blank line.
        EXPECT_EQ(e.MessageStart, 0);
        EXPECT_EQ(e.HeaderEnd, static_cast<std::int64_t>(mail.Text.find("\r\n\r\n") + 2));
        EXPECT_EQ(e.MessageEnd, static_cast<std::int64_t>(mail.Text.size()));
        // By default the first record is the same header block, cut short.
        EXPECT_EQ(split[0].Subject, e.Subject);
        EXPECT_EQ(split[0].HeaderEnd, e.HeaderEnd);
        EXPECT_LT(split[0].MessageEnd, e.MessageEnd);

        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{512}})
            EXPECT_EQ(Fed(file, mail.Text, true, piece), whole) << piece;
    }
}

TEST_F(WholeMessages, TheHeaderLinesBeforeTheFirstRecognisedOneBelongToTheMessage) {
    struct TCase {
        std::string text;
        std::int64_t start, headerEnd;
        std::string from;
    };
    const TCase cases[] = {
        // Unrecognised fields of any length, with or without a space after the
        // colon, and a folded one.
        {"X-UIDL: 1\r\nX-A-Very-Long-Field-Name-Indeed:v\r\n\tfolded\r\nFrom: A\r\n\r\nb\r\n", 0, 64, " A"},
        // Text that is no header line ends the run before it.
        {"garbage\r\nX-A: 1\r\nFrom: A\r\n\r\nb\r\n", 9, 26, " A"},
        {"Bad name: 1\r\nFrom: A\r\n\r\nb\r\n", 13, 22, " A"},
        {"X-A: 1\r\n\r\nFrom: A\r\n\r\nb\r\n", 10, 19, " A"},
        {"X-A: 1\r\n----- Original Message -----\r\n\r\nReturn-Path: <r>\r\nTo: T\r\n\r\n", 40, 65, ""},
        // A continuation line opens no run of its own.
        {"\tfolded\r\nFrom: A\r\n\r\nb\r\n", 9, 18, " A"},
        // A header block that no blank line closes runs to the end of the
        // file, later recognised lines overwriting its fields, as by default.
        {"X-A: 1\r\nFrom: A\r\nbody: x\r\nFrom: B\r\ntail", 0, 0, " B"},
        {"From: A\r\n\r\nFrom: B\r\n", 0, 9, " A"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string file = Write("msg1.tmp", c.text);
        const TEmailArray whole = ParseMessageFiles({file}, true, true);
        ASSERT_EQ(whole.size(), 1u);
        EXPECT_EQ(whole[0].MessageStart, c.start);
        EXPECT_EQ(whole[0].HeaderEnd, c.headerEnd);
        EXPECT_EQ(whole[0].MessageEnd, static_cast<std::int64_t>(c.text.size()));
        EXPECT_EQ(whole[0].From, c.from);
        EXPECT_EQ(whole[0].Deleted, 1);
        TEmail live = whole[0];
        live.Deleted = 0;
        EXPECT_EQ(Fed(file, c.text, true, 1), TEmailArray{live});
    }
}

// Random texts: the record is the default parse's first one, stretched over
// the whole file; a file without one stays without.
TEST_F(WholeMessages, RandomFilesGiveTheFirstRecordOfEachFileOverTheWholeFile) {
    std::mt19937_64 random(2121);
    std::size_t records = 0, empty = 0;
    for (int round = 0; round < 30; ++round) {
        TMessageFiles files;
        std::vector<std::string> texts;
        for (int f = 0; f < 5; ++f) {
            texts.push_back(support::RandomMessage(random, f));
            if (random() % 6 == 0) texts.back() = "no header\r\n" + texts.back().substr(texts.back().size() / 2);
            files.push_back(Write("msg" + std::to_string(f + 1) + ".tmp", texts.back()));
        }
        const TEmailArray whole = ParseMessageFiles(files, false, true);
        std::size_t next = 0;
        for (std::size_t f = 0; f < files.size(); ++f) {
            const TEmailArray split = ParseMessageFiles({files[f]}, false);
            if (split.empty()) {
                ++empty;
                continue;
            }
            ASSERT_LT(next, whole.size());
            const TEmail& e = whole[next++];
            EXPECT_EQ(e.FileName, files[f]);
            EXPECT_EQ(e.From, split[0].From);
            EXPECT_EQ(e.To, split[0].To);
            EXPECT_EQ(e.Subject, split[0].Subject);
            EXPECT_EQ(e.Date, split[0].Date);
            EXPECT_EQ(e.HeaderEnd, split[0].HeaderEnd);
            EXPECT_LE(e.MessageStart, split[0].MessageStart);
            EXPECT_EQ(e.MessageEnd, static_cast<std::int64_t>(texts[f].size()));
            EXPECT_EQ(Fed(files[f], texts[f], true, 1 + random() % 600), TEmailArray{e});
        }
        EXPECT_EQ(next, whole.size()) << "round " << round;
        records += whole.size();
    }
    EXPECT_GT(records, 60u);
    EXPECT_GT(empty, 3u);
}
