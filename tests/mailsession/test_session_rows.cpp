// The session's rows once listed: ticks, the sort rule with its remembered
// column and direction, decoded texts and their dates by instant, the
// preview, and the settings it keeps.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "SessionTestSupport.h"
#include "emailexport/emailexport.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "progress/Progress.h"
#include "support/ProgressSpy.h"

namespace {

using corvane::session::ColDate;
using corvane::session::ColFrom;
using corvane::session::ColItemNum;
using corvane::session::ColSubject;
using corvane::session::ColTo;
using corvane::testsupport::SessionTest;
using corvane::testsupport::TMessage;
using Texts = std::vector<std::string>;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The texts ordered as a case-blind sort orders them.
bool SortedIgnoringCase(const Texts& texts, bool ascending) {
    for (std::size_t i = 1; i < texts.size(); ++i) {
        const std::string a = Lower(texts[i - 1]), b = Lower(texts[i]);
        if (ascending ? b < a : a < b) return false;
    }
    return true;
}

class RowsTest : public SessionTest {
protected:
    RowsTest() { records = corvane::testsupport::WriteMessageFile(Path("msg0.tmp"), corvane::testsupport::TwelveMessages()); }
    TEmailArray records;
};

// The sort state is the session's, from its start to its end: the first
// click on "Item Num" ascends, another column keeps the direction, the same
// column turns it.
TEST_F(RowsTest, HeadingClicksFollowTheSortState) {
    session.ShowRecords(records, {5, 10, 0, 9, 11, 2, 7, 1, 3, 8, 4, 6});
    EXPECT_EQ(session.SortColumn(), ColItemNum);
    EXPECT_FALSE(session.SortAscending());
    struct TStep {
        int column;
        bool ascending;
        std::string first;  // column's text in the first row afterwards
    };
    const TStep steps[] = {
        {ColItemNum, true, "0"},
        {ColItemNum, false, "11"},
        {ColDate, false, " Wed, 4 Jan 2006 09:00:00 +0100"},  // as text, not as dates
        {ColDate, true, " Fri, 13 Jan 2006 19:00:00 +0100"},
        {ColFrom, true, " alice@example.org"},  // letter case plays no part
        {ColTo, true, " mike@example.org"},
        {ColTo, false, " Xavier@example.org"},
        {ColSubject, false, " ZOO trip"},
        {ColSubject, true, ""},  // no Subject sorts before every other
    };
    for (const TStep& step : steps) {
        session.SortByColumn(step.column);
        EXPECT_EQ(session.SortColumn(), step.column);
        EXPECT_EQ(session.SortAscending(), step.ascending) << step.column;
        const Texts texts = Column(step.column);
        EXPECT_EQ(texts.front(), step.first) << step.column;
        if (step.column != ColItemNum) {
            EXPECT_TRUE(SortedIgnoringCase(texts, step.ascending)) << step.column;
        }
    }
    EXPECT_EQ(Column(ColFrom).size(), 12u);
    EXPECT_EQ((Texts{Column(ColSubject)[1], Column(ColSubject)[2]}), (Texts{" agenda", " Budget"}));
    // By number, not as text: 9 before 10.
    session.SortByColumn(ColItemNum);
    EXPECT_EQ(Numbers(), (Texts{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}));
    // Every row keeps its record.
    for (int k = 0; k < 12; ++k) EXPECT_EQ(session.CellText(RowNumbered(k), ColFrom), records[k].From);
}

TEST_F(RowsTest, TheSortStateSurvivesARefillAndAnEmptyList) {
    session.SortByColumn(ColSubject);  // descending
    session.ShowRecords(records);
    EXPECT_EQ(Numbers().front(), "0");  // a refill brings index order back
    session.SortByColumn(ColSubject);   // the same column: ascending now
    EXPECT_EQ(Column(ColSubject).front(), "");
    // On an empty list a click only changes the state.
    session.ShowRecords({}, {});
    EXPECT_TRUE(session.SortByColumn(ColItemNum).empty());
    EXPECT_EQ(session.SortColumn(), ColItemNum);
    EXPECT_TRUE(session.SortAscending());
    session.ShowRecords(records, {3, 0, 11, 7});
    session.SortByColumn(ColItemNum);
    EXPECT_EQ(Numbers(), (Texts{"11", "7", "3", "0"}));
    EXPECT_TRUE(session.SortByColumn(7).empty());  // no such column
    EXPECT_EQ(session.SortColumn(), ColItemNum);
}

TEST_F(RowsTest, TicksGoWithTheirRowsAndTheSortTellsWhereEachRowWent) {
    session.ShowRecords(records);
    session.SetTicked(RowNumbered(3), true);
    session.SetTicked(RowNumbered(10), true);
    const std::vector<std::size_t> moved = session.SortByColumn(ColFrom);
    ASSERT_EQ(moved.size(), 12u);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(session.RecordAt(moved[static_cast<std::size_t>(k)]), k);
    Texts ticked;
    for (std::size_t row = 0; row < 12; ++row)
        if (session.Ticked(row)) ticked.push_back(session.CellText(row, ColItemNum));
    std::sort(ticked.begin(), ticked.end());
    EXPECT_EQ(ticked, (Texts{"10", "3"}));
    EXPECT_EQ(session.TickedCount(), 2u);

    session.SetAllTicks(true);
    EXPECT_EQ(session.TickedCount(), 12u);
    const std::vector<corvane::mail::TExportItem> items = session.TickedItems();
    ASSERT_EQ(items.size(), 12u);
    for (std::size_t p = 0; p < 12; ++p) {
        EXPECT_EQ(items[p].Position, p);
        EXPECT_EQ(items[p].Email, &session.Emails()[static_cast<std::size_t>(session.RecordAt(p))]);
    }
    session.SetAllTicks(false);
    EXPECT_EQ(session.TickedCount(), 0u);
    session.ShowRecords({}, {});
    session.SetAllTicks(true);  // no rows: nothing
    EXPECT_EQ(session.TickedCount(), 0u);
}

TEST_F(RowsTest, ThePreviewShowsTheBodyOfTheRowsRecord) {
    session.ShowRecords(records, {2, 5, 7, 11});
    session.SortByColumn(ColTo);
    for (int k : {7, 11, 2}) {
        const TEmail& r = records[static_cast<std::size_t>(k)];
        EXPECT_EQ(session.PreviewText(RowNumbered(k)),
                  corvane::testsupport::Stretch(r.FileName, r.HeaderEnd, r.MessageEnd) + "\n");
        EXPECT_EQ(session.PreviewText(RowNumbered(k)).rfind("\r\nBody of message number " + std::to_string(k) + ".", 0), 0u);
    }

    std::vector<TMessage> m(4);
    m[0] = {"Mon, 2 Jan 2006", "first@example.org", "x@example.org", "One", "First body.\r\n", false, true};
    m[1] = {"Tue, 3 Jan 2006", "second@example.org", "x@example.org", "Two", "[??]Deleted body.\r\n", true, true};
    m[2] = {"Wed, 4 Jan 2006", "third@example.org", "x@example.org", "Three", "", false, true};
    m[3] = {"Thu, 5 Jan 2006", "fourth@example.org", "x@example.org", "Four", "X-Trailer: cut short\r\n", false, false};
    const TEmailArray unusual = corvane::testsupport::WriteMessageFile(Path("msg1.tmp"), m);
    session.ShowRecords(unusual);
    const Texts previews = {session.PreviewText(1), session.PreviewText(2), session.PreviewText(3)};
    EXPECT_EQ(previews[0], "\r\n[??]Deleted body.\r\n\n");  // deleted ones preview alike
    EXPECT_EQ(previews[1], "\r\n\n");                       // only the blank line
    // A header block never closed: the record's own text, nothing before it.
    EXPECT_EQ(previews[2], "From: fourth@example.org\r\nTo: x@example.org\r\nSubject: Four\r\nDate: Thu, 5 Jan 2006\r\n"
                           "X-Trailer: cut short\r\n\n");

    ASSERT_TRUE(corvane::fs::RemoveFile(unusual[0].FileName));
    EXPECT_THROW(session.PreviewText(0), EFOpenError);
}

TEST_F(SessionTest, DecodedTextsReplaceTheRawOnesWhileTheBoxIsTicked) {
    std::vector<corvane::testsupport::TMail> mails = {corvane::testsupport::Mail(0), corvane::testsupport::Mail(1)};
    mails[0].Subject = "=?iso-8859-1?Q?Caf=E9_cr=E8me?=";
    mails[0].From = "=?utf-8?B?w4lsaXNl?= <elise@example.org>";
    mails[1].Body =
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
        "The text.\r\n--b\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "QUJD\r\n--b--\r\n";
    mails[1].HeaderClosed = false;
    session.Load(Folder("Coded.dbx", mails), nullptr);
    EXPECT_EQ(session.CellText(0, ColSubject), " =?iso-8859-1?Q?Caf=E9_cr=E8me?=");
    const std::uint64_t texts = session.TextsVersion(), rows = session.RowsVersion();

    session.SetDecodeTexts(true, nullptr);
    EXPECT_TRUE(session.Options().DecodeTexts);
    EXPECT_EQ(settings.values["Settings/DecodeTexts"], "true");
    EXPECT_NE(session.TextsVersion(), texts);
    EXPECT_EQ(session.RowsVersion(), rows);  // the same rows, other texts
    EXPECT_EQ(session.CellText(0, ColSubject), "Caf\u00e9 cr\u00e8me");
    EXPECT_EQ(session.CellText(0, ColFrom), "\u00c9lise <elise@example.org>");
    EXPECT_EQ(session.CellText(0, ColDate), "Mon, 0 Jan 2007 10:00:00 +0100");  // no such day: the text as written
    EXPECT_EQ(session.CellText(1, ColDate), "2007-01-01T10:00:00+01:00");
    EXPECT_EQ(session.PreviewText(1), "The text.\n\nAttachments:\n  a.pdf  (application/pdf, 3 bytes)\n");

    session.SetDecodeTexts(false, nullptr);
    EXPECT_EQ(session.CellText(0, ColSubject), " =?iso-8859-1?Q?Caf=E9_cr=E8me?=");
    EXPECT_TRUE(session.Decoded().empty());

    // Stopped while decoding: the box stays unticked, and so remembered.
    corvane::testsupport::TProgressSpy stop;
    stop.StopAt = 2;
    EXPECT_THROW(session.SetDecodeTexts(true, &stop), corvane::ECancelled);
    EXPECT_FALSE(session.Options().DecodeTexts);
    EXPECT_EQ(settings.values["Settings/DecodeTexts"], "false");
    EXPECT_EQ(session.CellText(0, ColSubject), " =?iso-8859-1?Q?Caf=E9_cr=E8me?=");
}

// Decoded dates name instants: they sort by the instant, whatever the zone
// they were written in, and rows without a readable date come after the
// dated ones in either direction, in their order. Raw dates sort as text.
TEST_F(SessionTest, DecodedDatesSortByTheInstantTheyName) {
    const char* dates[] = {
        "Fri, 26 Nov 2004 19:41:44 -0800",  // 2004-11-27 03:41:44 UTC
        "Sat, 27 Nov 2004 03:35:30 +0000",  // six minutes earlier
        "not a date at all",
        "Sat, 27 Nov 2004 12:00:00 +0900",  // 03:00:00 UTC, earliest
        "",                                 // no Date header
        "Sat, 27 Nov 2004 03:41:44 GMT",    // the same instant as the first
    };
    std::vector<corvane::testsupport::TMail> mails;
    for (int i = 0; i < 6; ++i) {
        corvane::testsupport::TMail m = corvane::testsupport::Mail(i);
        m.Date = dates[i];
        mails.push_back(m);
    }
    session.Load(Folder("Dates.dbx", mails), nullptr);
    session.SetDecodeTexts(true, nullptr);
    EXPECT_EQ(session.CellText(0, ColDate), "2004-11-26T19:41:44-08:00");

    session.SortByColumn(ColDate);  // another column: the direction stays descending
    EXPECT_EQ(Numbers(), (Texts{"0", "5", "1", "3", "2", "4"}));
    session.SortByColumn(ColDate);
    EXPECT_EQ(Numbers(), (Texts{"3", "1", "0", "5", "2", "4"}));  // equal instants keep their order

    session.SetDecodeTexts(false, nullptr);
    session.SortByColumn(ColDate);  // as text again
    EXPECT_TRUE(SortedIgnoringCase(Column(ColDate), false));
}

TEST_F(SessionTest, TheBoxesAreRememberedAndReadBack) {
    session.Load(ThreeLiveTwoDeleted(), nullptr);
    session.SetWholeMessages(true, nullptr);
    session.SetDecodeTexts(true, nullptr);
    EXPECT_EQ(settings.values["Settings/WholeMessages"], "true");
    EXPECT_EQ(settings.values["Settings/DecodeTexts"], "true");

    corvane::session::TMailSession next(collation, &settings);
    EXPECT_FALSE(next.Options().DecodeTexts);
    next.LoadSettings(nullptr);
    EXPECT_TRUE(next.Options().DecodeTexts);
    EXPECT_TRUE(next.Options().WholeMessages);
    EXPECT_FALSE(next.Options().IncludeDeleted);  // not remembered

    // Folders: kept made absolute, given back while they exist.
    next.RememberFolder(corvane::session::kExportFolderSetting, Path("out"));
    EXPECT_EQ(next.RememberedFolder(corvane::session::kExportFolderSetting, "fallback"), "fallback");
    std::filesystem::create_directories(Path("out"));
    EXPECT_EQ(next.RememberedFolder(corvane::session::kExportFolderSetting, "fallback"), Path("out"));
    corvane::session::TMailSession forgetful(collation);
    forgetful.RememberFolder(corvane::session::kExportFolderSetting, Path("elsewhere"));
    EXPECT_EQ(forgetful.RememberedFolder(corvane::session::kExportFolderSetting, "fallback"), "fallback");
}

}  // namespace
