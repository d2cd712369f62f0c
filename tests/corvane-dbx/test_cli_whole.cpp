// corvane-dbx --whole-messages on a folder file of forwards, quoted replies,
// a bounce and a digest: one row per live message, exported and shown whole.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "emailexport/emailexport.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/NestedHeaderMail.h"

using namespace readertest;
namespace cli = corvane::cli;
namespace support = corvane::testsupport;

namespace {

struct TRun {
    int Status;
    std::string Out;
    std::string Err;
};

TRun Dbx(const std::vector<std::string>& arguments) {
    std::ostringstream out, err;
    cli::TConsole console{out, err, 0, false};
    const int status = cli::RunCorvaneDbx(arguments, console);
    return {status, out.str(), err.str()};
}

// A message as an mbox holds it: line ends as LF, a last line end added.
std::string AsMboxText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    if (!out.empty() && out.back() != '\n') out += '\n';
    return out;
}

class CliWhole : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        path_ = Scratch("Nested.dbx");
        support::NestedHeaderFolder().Save(path_);
    }
    // The mails that give a record.
    static std::vector<support::TNestedHeaderMail> Listed() {
        std::vector<support::TNestedHeaderMail> mails = support::NestedHeaderMails();
        mails.erase(std::remove_if(mails.begin(), mails.end(), [](const auto& m) { return m.HeaderBlocks == 0; }), mails.end());
        return mails;
    }
    std::string path_;
};

}  // namespace

TEST(CliWholeArguments, TheOptionReadsForListExportAndShowOnly) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"list", "--whole-messages", "a.dbx"},
             {"export", "a.dbx", "--mbox", "m", "--whole-messages"},
             {"show", "--whole-messages", "--deleted", "3", "a.dbx"}}) {
        const cli::TParsed parsed = cli::ParseArguments(arguments);
        EXPECT_EQ(parsed.Error, "") << arguments[0];
        EXPECT_TRUE(parsed.Options.WholeMessages) << arguments[0];
        EXPECT_NE(cli::HelpText(parsed.Options.Command).find("--whole-messages"), std::string::npos) << arguments[0];
    }
    EXPECT_FALSE(cli::ParseArguments({"list", "a.dbx"}).Options.WholeMessages);
    EXPECT_EQ(Dbx({"list", "--whole-messages=yes", "a.dbx"}).Status, cli::kExitUsage);
    EXPECT_EQ(Dbx({"find", "--whole-messages"}).Status, cli::kExitUsage);
    // The program's help tells the difference by a forwarded message.
    EXPECT_NE(cli::HelpText(cli::TCommand::None).find("forward"), std::string::npos);
}

TEST_F(CliWhole, ListGivesTheRecordsOfTheWholeRead) {
    for (const bool deleted : {false, true}) {
        std::vector<std::string> arguments{"list", "--whole-messages", "--format", "json", path_};
        if (deleted) arguments.insert(arguments.begin() + 1, "--deleted");
        const TRun r = Dbx(arguments);
        ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
        const TEmailArray emails = Toutlookfile().GetEmails(path_, deleted, nullptr, true);
        const auto json = nlohmann::json::parse(r.Out);
        ASSERT_EQ(json.size(), emails.size());
        for (std::size_t i = 0; i < emails.size(); ++i) {
            EXPECT_EQ(json[i]["deleted"], emails[i].Deleted != 0);
            EXPECT_EQ(json[i]["messageStart"], emails[i].MessageStart);
            EXPECT_EQ(json[i]["headerEnd"], emails[i].HeaderEnd);
            EXPECT_EQ(json[i]["messageEnd"], emails[i].MessageEnd);
        }
        if (!deleted) {
            EXPECT_EQ(json.size(), Listed().size());
        }
    }
    // Without the option the embedded header blocks are rows of their own.
    const auto split = nlohmann::json::parse(Dbx({"list", "--format", "json", path_}).Out);
    EXPECT_GT(split.size(), Listed().size());
}

TEST_F(CliWhole, ExportWritesEachMessageAsStored) {
    const std::string out = Scratch("out");
    const TRun r = Dbx({"export", "--whole-messages", "--out", out, path_});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    std::vector<std::string> written, expected;
    for (std::size_t n = 0; stdfs::exists(corvane::mail::ExportFileName(out, n)); ++n)
        written.push_back(ReadAll(corvane::mail::ExportFileName(out, n)));
    for (const auto& mail : Listed()) expected.push_back(mail.Text);
    std::sort(written.begin(), written.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(written, expected);

    // The mbox holds the same messages whole, one after the other.
    const std::string mbox = Scratch("whole.mbox");
    ASSERT_EQ(Dbx({"export", "--mbox", mbox, "--whole-messages", path_}).Status, cli::kExitOk);
    const std::string box = ReadAll(mbox);
    for (const auto& mail : Listed()) {
        std::string framed(1, '\n');  // after its separator line, before the empty line
        framed += AsMboxText(mail.Text);
        framed += '\n';
        EXPECT_NE(box.find(framed), std::string::npos) << mail.Name;
    }
    std::size_t separators = box.rfind("From ", 0) == 0 ? 1 : 0;
    for (std::size_t at = box.find("\n\nFrom "); at != std::string::npos; at = box.find("\n\nFrom ", at + 1)) ++separators;
    EXPECT_EQ(separators, Listed().size());
}

TEST_F(CliWhole, ShowWritesTheBodyToTheMessagesEnd) {
    // "Minutes" holds a body line that reads as a header line; its body goes
    // on after it, up to the signature without a line end.
    const auto itemOf = [&](const TEmailArray& emails) {
        const auto it = std::find_if(emails.begin(), emails.end(), [](const TEmail& e) { return e.Subject == " Minutes"; });
        return std::to_string(it - emails.begin());
    };
    const TRun whole = Dbx({"show", "--whole-messages", itemOf(Toutlookfile().GetEmails(path_, false, nullptr, true)), path_});
    ASSERT_EQ(whole.Status, cli::kExitOk) << whole.Err;
    EXPECT_NE(whole.Out.find("Subject: Budget"), std::string::npos);
    EXPECT_NE(whole.Out.find("The budget stays as it is."), std::string::npos);
    EXPECT_NE(whole.Out.find("Ann"), std::string::npos);

    const TRun split = Dbx({"show", itemOf(Toutlookfile().GetEmails(path_, false)), path_});
    ASSERT_EQ(split.Status, cli::kExitOk) << split.Err;
    EXPECT_NE(split.Out.find("Minutes of the meeting follow."), std::string::npos);
    EXPECT_EQ(split.Out.find("The budget stays as it is."), std::string::npos);
}
