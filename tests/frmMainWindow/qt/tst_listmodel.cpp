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
#include "frmMainWindow/qt/EmailListModel.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "platform/AnsiText.h"
#include "platform/qt/LocaleCompare.h"

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

std::vector<int> RowsOf(const corvane::session::TMailSession& session) {
    std::vector<int> rows;
    for (std::size_t i = 0; i < session.RowCount(); ++i) rows.push_back(session.RecordAt(i));
    return rows;
}

// Clicks the column once first when the next click on it would not sort in
// the wanted direction.
void PrepareClick(corvane::session::TMailSession& session, int column, bool ascending) {
    const bool next = session.SortColumn() == column ? !session.SortAscending() : session.SortAscending();
    if (next != ascending) session.SortByColumn(column);
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
    // one before left: the window's collation puts the rows as a stable sort
    // by CompareLocaleTextIgnoreCase of the texts shown, ties in their
    // previous order.
    void sortedAsCompareEmailItemsOrders() {
        const TEmailArray records = TrickyRecords();
        std::vector<int> start(records.size());
        for (std::size_t i = 0; i < start.size(); ++i) start[i] = static_cast<int>(i);
        std::shuffle(start.begin(), start.end(), std::mt19937(2006));

        const corvane::gui::TLocaleCollation collation;
        corvane::session::TMailSession session(collation);
        session.ShowRecords(records, start);
        const auto shown = [&records](int k, int column) {
            return QString::fromStdString(corvane::ansi::ToUtf8(column == corvane::session::ColDate   ? records[k].Date
                                                                : column == corvane::session::ColFrom ? records[k].From
                                                                : column == corvane::session::ColTo   ? records[k].To
                                                                                                      : records[k].Subject));
        };
        for (const bool ascending : {true, false}) {
            for (int column = corvane::session::ColDate; column < corvane::session::ColumnCount; ++column) {
                PrepareClick(session, column, ascending);
                std::vector<int> expected = RowsOf(session);
                std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
                    const int c = corvane::gui::CompareLocaleTextIgnoreCase(shown(a, column), shown(b, column));
                    return ascending ? c < 0 : c > 0;
                });
                session.SortByColumn(column);
                QVERIFY2(RowsOf(session) == expected,
                         qPrintable(QString("column %1 %2").arg(column).arg(ascending ? "ascending" : "descending")));
            }
        }
        // Letter case plays no part.
        QCOMPARE(corvane::gui::CompareLocaleTextIgnoreCase(" Budget", " bUDGET"), 0);
        QVERIFY(corvane::gui::CompareLocaleTextIgnoreCase(" agenda", " Budget") < 0);
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
        for (int c = 0; c < corvane::session::ColumnCount; ++c) QCOMPARE(view->columnWidth(c), widths[c]);
        QVERIFY(view->header()->sectionsClickable());
        QVERIFY(!view->isSortingEnabled());
        QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!view->rootIsDecorated());

        // Number, icon of its kind, texts as held; only the first column ticks.
        QCOMPARE(fixture::Column(*w, 0), (QStringList{"4", "0", "9"}));
        QCOMPARE(fixture::Text(*w, 2, corvane::session::ColTo), QString::fromStdString(corvane::ansi::ToUtf8(records[9].To)));
        QVERIFY(fixture::RowIcon(*w, 0).cacheKey() == w->ilIcons[corvane::session::IconLiveMessage].cacheKey());
        QVERIFY(fixture::RowIcon(*w, 1).cacheKey() == w->ilIcons[corvane::session::IconDeletedMessage].cacheKey());
        QVERIFY(w->FoundEmails->flags(fixture::Cell(*w, 0, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(!(w->FoundEmails->flags(fixture::Cell(*w, 0, 1)) & Qt::ItemIsUserCheckable));
        QVERIFY(!(w->FoundEmails->flags(fixture::Cell(*w, 0, 1)) & Qt::ItemIsEditable));
        QVERIFY(!fixture::Cell(*w, 0, 1).data(Qt::CheckStateRole).isValid());

        QCOMPARE(w->FoundEmails->RecordOf(fixture::Cell(*w, 2, 0)), 9);
        QCOMPARE(w->FoundEmails->RecordOf(QModelIndex()), -1);
        QVERIFY(!w->FoundEmails->index(3, 0).data().isValid());  // no such row
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
        QCOMPARE(static_cast<int>(w->Session.TickedCount()), rows);
        w->sbDeselectAllClick();
        QCOMPARE(changes.size(), 2);
        QCOMPARE(w->Session.TickedCount(), std::size_t{0});
    }

    // A sort through the heading: the ticks the view shows go with their rows,
    // and a refill clears them.
    void theTicksShownFollowTheSort() {
        fixture::ShowRecords(*w, TrickyRecords(), {5, 2, 9, 0});
        fixture::SetCheckState(*w, 0, Qt::Checked);
        fixture::SetCheckState(*w, 2, Qt::Checked);
        w->lvFoundEmailsColumnClick(corvane::session::ColItemNum);  // ascending at start
        QCOMPARE(fixture::Column(*w, 0), (QStringList{"0", "2", "5", "9"}));
        QStringList ticked;
        for (int row = 0; row < 4; ++row)
            if (fixture::CheckState(*w, row) == Qt::Checked) ticked << fixture::Text(*w, row, 0);
        QCOMPARE(ticked, (QStringList{"5", "9"}));
        fixture::ShowRecords(*w, TrickyRecords(), {5, 2, 9, 0});
        QCOMPARE(w->Session.TickedCount(), std::size_t{0});
        QCOMPARE(fixture::CheckState(*w, 0), Qt::Unchecked);
    }
};

CORVANE_WINDOW_TEST_MAIN(TestListModel)
#include "tst_listmodel.moc"
