// The message list's rows over the window's records: the sort against the
// comparison it stands for (in the C locale, where the texts are folded once
// into keys of their own, and in a German one, where the collator compares
// them), the ticks, the export's walk over them, and the view over the rows.

#include <QCollator>
#include <QLocale>
#include <QProcess>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "MessageListFixture.h"
#include "frmMainWindow/EmailListModel.h"
#include "frmMainWindow/frmMainWindow.h"

namespace {

// Header texts as a record holds them (ANSI bytes, Windows-1252 here): letter
// case, accents, sharp s, punctuation, digits, shared beginnings, blanks, the
// empty text, and every single byte from the blank up.
std::vector<std::string> TrickyTexts() {
    std::vector<std::string> texts = {"", " ", " a", " A", " b", " B", " abc", " ABC", " aBc", " ab", " abd", " a-b",
                                      " a b", " a_b", " ab-", " 1", " 9", " 10", " 09", " Zoo", " zoo", " ZOO trip",
                                      " \xE9t\xE9", " ETE", " \xC9T\xC9", " ete", " \xDF", " ss", " SS", " \xE4", " \xC4",
                                      " ae", " AE", " z", " \xFF", " \x80 5", " Re: x", " RE: X", " re:x", " Re:  x",
                                      " [??]", "  two blanks", "\tTab", " Caf\xE9", " CAF\xC9", " cafe", " caf\xE9s"};
    for (int byte = 0x20; byte <= 0xFF; ++byte) {
        std::string text(2, ' ');
        text[1] = static_cast<char>(byte);
        texts.push_back(text);
    }
    return texts;
}

// Records whose four texts come from the table in differing orders; each text
// appears in more than one record, so every column has ties.
TEmailArray TrickyRecords() {
    const std::vector<std::string> texts = TrickyTexts();
    const auto t = texts.size();
    TEmailArray records(2 * t + 3);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].Date = texts[(i * 5) % t];
        records[i].From = texts[(i * 7) % t];
        records[i].To = texts[(i * 13) % t];
        records[i].Subject = texts[i % t];
        records[i].Deleted = i % 3 == 0 ? 1 : 0;
    }
    return records;
}

std::vector<int> RowsOf(const TEmailListModel& model) {
    std::vector<int> rows;
    for (int i = 0; i < model.Count(); ++i) rows.push_back(model.RecordAt(i));
    return rows;
}

}  // namespace

class TestListModel : public QObject {
    Q_OBJECT

    TfrmMain* w = nullptr;

private slots:
    void init() {
        w = new TfrmMain;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        delete w;
        w = nullptr;
    }

    // Every column in both directions, each sort starting from the order the
    // one before left: the rows come out as a stable sort by
    // compareEmailItems puts them, ties in their previous order.
    void sortedAsCompareEmailItemsOrders() {
        const TEmailArray records = TrickyRecords();
        std::vector<int> start(records.size());
        for (std::size_t i = 0; i < start.size(); ++i) start[i] = static_cast<int>(i);
        std::shuffle(start.begin(), start.end(), std::mt19937(2006));

        TEmailListModel model(records, QIcon(), QIcon());
        model.SetRows(start);
        const bool savedDirection = SortAscending;
        for (const bool ascending : {true, false}) {
            for (int column = TfrmMain::ColItemNum; column < TfrmMain::ColumnCount; ++column) {
                std::vector<int> expected = RowsOf(model);
                SortAscending = ascending;
                std::stable_sort(expected.begin(), expected.end(), [&records, column](int a, int b) {
                    return compareEmailItems(records, a, b, column) < 0;
                });
                model.Sort(column, ascending);
                QVERIFY2(RowsOf(model) == expected,
                         qPrintable(QString("column %1 %2").arg(column).arg(ascending ? "ascending" : "descending")));
            }
        }
        SortAscending = savedDirection;

        // The comparison itself: letter case plays no part, and "Item Num" is a number.
        SortAscending = true;
        TEmailArray pair(11);
        pair[0].Subject = " Budget";
        pair[1].Subject = " bUDGET";
        pair[2].Subject = " agenda";
        QCOMPARE(compareEmailItems(pair, 0, 1, TfrmMain::ColSubject), 0);
        QVERIFY(compareEmailItems(pair, 2, 0, TfrmMain::ColSubject) < 0);
        QVERIFY(compareEmailItems(pair, 9, 10, TfrmMain::ColItemNum) < 0);
        SortAscending = false;
        QVERIFY(compareEmailItems(pair, 2, 0, TfrmMain::ColSubject) > 0);
        QVERIFY(compareEmailItems(pair, 9, 10, TfrmMain::ColItemNum) > 0);
        SortAscending = savedDirection;
    }

    // The same under other locales, in child processes of this program (the
    // locale is read once per process).
    void sortedAsCompareEmailItemsOrdersInOtherLocales() {
        if (qEnvironmentVariableIsSet("CORVANE_LIST_SORT_CHILD")) QSKIP("runs in the parent only");
        for (const char* locale : {"C", "de_DE.UTF-8"}) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LC_ALL", locale);
            env.insert("LANG", locale);
            env.insert("CORVANE_LIST_SORT_CHILD", locale);
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(), {"sortedAsCompareEmailItemsOrders", "localeOfTheChild"});
            QVERIFY(child.waitForFinished(120000));
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                     qPrintable(QString(locale) + ":\n" + QString::fromLocal8Bit(child.readAll())));
        }
    }

    // In a child, the locale it was started with is the one its sort used.
    void localeOfTheChild() {
        const QByteArray locale = qgetenv("CORVANE_LIST_SORT_CHILD");
        if (locale.isEmpty()) QSKIP("runs in the child processes only");
        const QLocale::Language expected = locale.startsWith("de") ? QLocale::German : QLocale::C;
        QCOMPARE(QLocale().language(), expected);
    }

    void theViewShowsTheRowsAsTheListDid() {
        const TEmailArray records = TrickyRecords();
        fixture::ShowRecords(*w, records, {4, 0, 9});
        QTreeView* view = w->lvFoundEmails;
        QCOMPARE(view->model(), static_cast<QAbstractItemModel*>(w->FoundEmails));
        const int widths[] = {65, 150, 200, 200, 500};
        for (int c = 0; c < TfrmMain::ColumnCount; ++c) QCOMPARE(view->columnWidth(c), widths[c]);
        QVERIFY(view->header()->sectionsClickable());
        QVERIFY(!view->isSortingEnabled());
        QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!view->rootIsDecorated());

        // Number, icon of its kind, texts as held; only the first column ticks.
        QCOMPARE(fixture::Column(*w, 0), (QStringList{"4", "0", "9"}));
        QCOMPARE(fixture::Text(*w, 2, TfrmMain::ColTo), TfrmMain::AnsiToDisplay(records[9].To));
        QVERIFY(fixture::RowIcon(*w, 0).cacheKey() == w->ilIcons[TfrmMain::IconLiveMessage].cacheKey());
        QVERIFY(fixture::RowIcon(*w, 1).cacheKey() == w->ilIcons[TfrmMain::IconDeletedMessage].cacheKey());
        QVERIFY(w->FoundEmails->flags(fixture::Cell(*w, 0, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(!(w->FoundEmails->flags(fixture::Cell(*w, 0, 1)) & Qt::ItemIsUserCheckable));
        QVERIFY(!(w->FoundEmails->flags(fixture::Cell(*w, 0, 1)) & Qt::ItemIsEditable));
        QVERIFY(!fixture::Cell(*w, 0, 1).data(Qt::CheckStateRole).isValid());

        // Rows whose records are gone (Emails replaced behind the list) show nothing.
        w->Emails.resize(5);
        QCOMPARE(fixture::Text(*w, 2, 0), QString());
        QCOMPARE(w->RowIndex(fixture::Cell(*w, 2, 0)), 9);
        QCOMPARE(w->RowIndex(QModelIndex()), -1);
        // ... and sort as empty texts: record 0's Subject is empty as well and
        // stays before it, record 4's (" b") goes after both.
        w->FoundEmails->Sort(TfrmMain::ColSubject, true);
        QCOMPARE(fixture::Column(*w, 0), (QStringList{"0", "", "4"}));
        QCOMPARE(w->FoundEmails->RecordAt(1), 9);
    }

    void aClickOnTheTickBoxTicksTheRow() {
        fixture::ShowRecords(*w, TrickyRecords(), {3, 1, 2});
        QTreeView* view = w->lvFoundEmails;
        QStyleOptionViewItem option;
        option.initFrom(view->viewport());
        option.rect = view->visualRect(fixture::Cell(*w, 1, 0));
        option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
                          QStyleOptionViewItem::HasDisplay;
        option.decorationSize = view->iconSize();
        const QRect box = view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
        QVERIFY(!box.isEmpty());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
        QCOMPARE(fixture::CheckState(*w, 1), Qt::Checked);
        QCOMPARE(fixture::CheckState(*w, 0), Qt::Unchecked);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
        QCOMPARE(fixture::CheckState(*w, 1), Qt::Unchecked);
    }

    void selectAllIsOneChangeOfTheTickColumn() {
        QSignalSpy changes(w->FoundEmails, &QAbstractItemModel::dataChanged);
        w->sbSelectAllClick();
        QCOMPARE(changes.size(), 0);  // no rows: nothing to change

        fixture::ShowRecords(*w, TrickyRecords());
        const int rows = fixture::RowCount(*w);
        w->sbSelectAllClick();
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes[0][0].value<QModelIndex>(), fixture::Cell(*w, 0, 0));
        QCOMPARE(changes[0][1].value<QModelIndex>(), fixture::Cell(*w, rows - 1, 0));
        QCOMPARE(changes[0][2].value<QList<int>>(), QList<int>{Qt::CheckStateRole});
        QCOMPARE(static_cast<int>(w->FoundEmails->TickedRows().size()), rows);
        w->sbDeselectAllClick();
        QCOMPARE(changes.size(), 2);
        QVERIFY(w->FoundEmails->TickedRows().empty());
    }

    // What the export walks: the ticked rows in their present order, each with
    // its position and its record; a sort moves the ticks with their rows.
    void theTickedRowsInDisplayOrder() {
        const TEmailArray records = TrickyRecords();
        fixture::ShowRecords(*w, records, {5, 2, 9, 0});
        fixture::SetCheckState(*w, 0, Qt::Checked);
        fixture::SetCheckState(*w, 2, Qt::Checked);
        auto pairs = [this] {
            std::vector<std::pair<int, int>> out;
            for (const auto& row : w->FoundEmails->TickedRows()) out.emplace_back(row.Position, row.Record);
            return out;
        };
        QCOMPARE(pairs(), (std::vector<std::pair<int, int>>{{0, 5}, {2, 9}}));
        w->FoundEmails->Sort(TfrmMain::ColItemNum, true);
        QCOMPARE(fixture::Column(*w, 0), (QStringList{"0", "2", "5", "9"}));
        QCOMPARE(pairs(), (std::vector<std::pair<int, int>>{{2, 5}, {3, 9}}));
        w->FoundEmails->Sort(TfrmMain::ColItemNum, false);
        QCOMPARE(pairs(), (std::vector<std::pair<int, int>>{{0, 9}, {1, 5}}));

        // A refill clears them.
        std::vector<int> again = {5, 2, 9, 0};
        w->listEmails(again);
        QVERIFY(w->FoundEmails->TickedRows().empty());
    }
};

CORVANE_WINDOW_TEST_MAIN(TestListModel)
#include "tst_listmodel.moc"
