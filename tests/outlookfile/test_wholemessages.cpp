// GetEmails with whole messages, on a folder file of messages that carry
// header blocks in their text: one record per live message, its stretch the
// message as stored; the deleted records as without the option.

#include <algorithm>
#include <map>

#include "ReaderTestSupport.h"
#include "emailparser/emailparser.h"
#include "support/NestedHeaderMail.h"

using namespace readertest;
namespace support = corvane::testsupport;

namespace {

class WholeMessagesRead : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        path_ = Scratch("nested.dbx");
        support::NestedHeaderFolder().Save(path_);
    }
    static std::string Stretch(const TEmail& e) {
        return ReadAll(e.FileName).substr(static_cast<std::size_t>(e.MessageStart),
                                          static_cast<std::size_t>(e.MessageEnd - e.MessageStart));
    }
    static std::size_t LiveCount(const TEmailArray& emails) {
        return static_cast<std::size_t>(std::count_if(emails.begin(), emails.end(), [](const TEmail& e) { return e.Deleted == 0; }));
    }
    std::string path_;
};

}  // namespace

TEST_F(WholeMessagesRead, EachLiveMessageIsOneRecordWhoseStretchIsTheMessageStored) {
    const std::vector<support::TNestedHeaderMail> mails = support::NestedHeaderMails();
    const TEmailArray whole = Toutlookfile().GetEmails(path_, false, nullptr, true);
    std::map<std::string, int> seen;
    for (const TEmail& e : whole) {
        const auto mail = std::find_if(mails.begin(), mails.end(), [&](const auto& m) { return m.Text == Stretch(e); });
        ASSERT_NE(mail, mails.end()) << e.FileName << " holds no whole message at " << e.MessageStart;
        ++seen[mail->Name];
        EXPECT_EQ(ReadAll(e.FileName), mail->Text);  // the message file holds the message and nothing else
        EXPECT_EQ(e.From, mail->From);
        EXPECT_EQ(e.Subject, mail->Subject);
        EXPECT_EQ(e.Date, mail->Date);
        EXPECT_EQ(e.Deleted, 0);
    }
    for (const auto& mail : mails) EXPECT_EQ(seen[mail.Name], mail.HeaderBlocks > 0 ? 1 : 0) << mail.Name;

    // Without the option each embedded header block is a record of its own.
    std::size_t blocks = 0;
    for (const auto& mail : mails) blocks += mail.HeaderBlocks;
    EXPECT_EQ(Toutlookfile().GetEmails(path_, false).size(), blocks);
}

TEST_F(WholeMessagesRead, DeletedRecordsAndMessageFilesAreTheSameEitherWay) {
    const TEmailArray split = Toutlookfile().GetEmails(path_, true);
    std::map<std::string, std::string> files;
    for (const TEmail& e : split) files[e.FileName] = ReadAll(e.FileName);
    const TEmailArray whole = Toutlookfile().GetEmails(path_, true, nullptr, true);
    for (const TEmail& e : whole) EXPECT_EQ(ReadAll(e.FileName), files[e.FileName]) << e.FileName;

    const std::size_t splitLive = LiveCount(split), wholeLive = LiveCount(whole);
    EXPECT_EQ(wholeLive, 6u);
    const TEmailArray splitDeleted(split.begin() + static_cast<std::ptrdiff_t>(splitLive), split.end());
    const TEmailArray wholeDeleted(whole.begin() + static_cast<std::ptrdiff_t>(wholeLive), whole.end());
    EXPECT_EQ(wholeDeleted, splitDeleted);
    // The three deleted messages (a forward, a digest, a note) stay split
    // at their embedded header blocks.
    EXPECT_GT(wholeDeleted.size(), 3u);
}

TEST_F(WholeMessagesRead, TheRecordsAreThoseOfTheParseOfTheMessageFilesWritten) {
    const TEmailArray whole = Toutlookfile().GetEmails(path_, false, nullptr, true);
    TMessageFiles names;
    for (std::size_t n = 1; MessageFileExists("msg" + std::to_string(n) + ".tmp"); ++n)
        names.push_back(MessageFile("msg" + std::to_string(n) + ".tmp"));
    EXPECT_EQ(names.size(), support::NestedHeaderMails().size());
    EXPECT_EQ(whole, ParseMessageFiles(names, false, true));
}
