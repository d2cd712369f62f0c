// The message list of the real main window: ticking every row, sorting by a
// heading click, and the preview of the clicked row's message.

#include <QTest>

#include <string>
#include <vector>

#include "MessageListFixture.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "platform/Files.h"

using fixture::TMessage;

namespace {

QStringList Lowered(QStringList texts) {
    for (QString& t : texts) t = t.toLower();
    return texts;
}

QStringList SortedLowered(QStringList texts, bool ascending) {
    texts = Lowered(texts);
    std::sort(texts.begin(), texts.end());
    if (!ascending) std::reverse(texts.begin(), texts.end());
    return texts;
}

QStringList Numbers(int from, int to, int step) {
    QStringList out;
    for (int i = from; i != to + step; i += step) out << QString::number(i);
    return out;
}

}  // namespace

class TestSelection : public QObject {
    Q_OBJECT

private:
    TfrmMain* w = nullptr;
    TEmailArray records;
    QStringList errors;

    // Clicks a row and waits for the preview to run.
    void Preview(int row) {
        fixture::ClickRow(*w, row);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase() {
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
        records = fixture::WriteMessageFile("msg0.tmp", corvane::testsupport::TwelveMessages());
    }

    void init() {
        errors.clear();
        w = new TfrmMain;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        delete w;
        w = nullptr;
    }

    // The sort rule is the session's; a heading click reaches it.
    void aHeadingClickSortsTheRows() {
        fixture::ShowRecords(*w, records, {5, 10, 0, 9, 11, 2, 7, 1, 3, 8, 4, 6});
        fixture::ClickHeading(*w, corvane::session::ColItemNum);
        QCOMPARE(fixture::Column(*w, 0), Numbers(0, 11, 1));
        QCOMPARE(w->Session.SortColumn(), int(corvane::session::ColItemNum));
        fixture::ClickHeading(*w, corvane::session::ColFrom);
        QCOMPARE(w->Session.SortColumn(), int(corvane::session::ColFrom));
        QCOMPARE(Lowered(fixture::Column(*w, corvane::session::ColFrom)),
                 SortedLowered(fixture::Column(*w, corvane::session::ColFrom), true));
    }

    void ticksAndSelectionMoveWithTheirRows() {
        fixture::ShowRecords(*w, records);
        fixture::SetCheckState(*w, fixture::RowNumbered(*w, 3), Qt::Checked);
        fixture::SetCheckState(*w, fixture::RowNumbered(*w, 10), Qt::Checked);
        Preview(fixture::RowNumbered(*w, 7));
        QCOMPARE(fixture::SelectedNumbers(*w), QStringList{"7"});
        const QString preview = w->txtmsgbody->toPlainText();

        fixture::ClickHeading(*w, corvane::session::ColFrom);
        QStringList ticked;
        for (int i = 0; i < fixture::RowCount(*w); ++i)
            if (fixture::CheckState(*w, i) == Qt::Checked) ticked << fixture::Text(*w, i, 0);
        ticked.sort();
        QCOMPARE(ticked, (QStringList{"10", "3"}));
        QCOMPARE(fixture::SelectedNumbers(*w), QStringList{"7"});
        QCOMPARE(fixture::Text(*w, w->lvFoundEmails->currentIndex().row(), 0), QString("7"));
        // A sort leaves the preview alone.
        QCOMPARE(w->txtmsgbody->toPlainText(), preview);
    }

    void selectAllAndDeselectAllTouchOnlyTheTicks() {
        // No rows: nothing happens.
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        QTest::mouseClick(w->sbDeselectAll, Qt::LeftButton);
        QCOMPARE(fixture::RowCount(*w), 0);

        fixture::ShowRecords(*w, records, {4, 1, 9, 0, 6});
        Preview(fixture::RowNumbered(*w, 9));
        const QString preview = w->txtmsgbody->toPlainText();
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        for (int i = 0; i < 5; ++i) QCOMPARE(fixture::CheckState(*w, i), Qt::Checked);
        QCOMPARE(fixture::Column(*w, 0), (QStringList{"4", "1", "9", "0", "6"}));
        QCOMPARE(fixture::SelectedNumbers(*w), QStringList{"9"});

        fixture::SetCheckState(*w, 2, Qt::Unchecked);
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        QCOMPARE(fixture::CheckState(*w, 2), Qt::Checked);

        QTest::mouseClick(w->sbDeselectAll, Qt::LeftButton);
        for (int i = 0; i < 5; ++i) QCOMPARE(fixture::CheckState(*w, i), Qt::Unchecked);
        QCOMPARE(fixture::Column(*w, 0), (QStringList{"4", "1", "9", "0", "6"}));
        QCOMPARE(fixture::SelectedNumbers(*w), QStringList{"9"});
        QCOMPARE(w->txtmsgbody->toPlainText(), preview);
        QVERIFY(errors.isEmpty());
    }

    void previewFindsTheRecordByItsNumber() {
        // Rows with gaps, as the keyword filter leaves them, then sorted.
        fixture::ShowRecords(*w, records, {2, 5, 7, 11});
        fixture::ClickHeading(*w, corvane::session::ColTo);  // descending, as at start
        fixture::ClickHeading(*w, corvane::session::ColTo);
        QCOMPARE(fixture::Column(*w, 0), (QStringList{"11", "7", "5", "2"}));

        for (int k : {7, 11, 2}) {
            Preview(fixture::RowNumbered(*w, k));
            const TEmail& r = records[k];
            // From the blank line that ends the header block to the message's end.
            QCOMPARE(w->txtmsgbody->toPlainText(), fixture::AsPreview(fixture::Stretch(r.FileName, r.HeaderEnd, r.MessageEnd)));
            QVERIFY(w->txtmsgbody->toPlainText().startsWith("\nBody of message number " + QString::number(k) + "."));
        }
        QVERIFY(errors.isEmpty());
    }

    void aClickBesideTheRowsChangesNothing() {
        fixture::ShowRecords(*w, records, {0, 1, 2});
        w->txtmsgbody->setPlainText("typed by the user");
        w->lvFoundEmails->clearSelection();
        // Below the last row the list is empty.
        QTest::mouseClick(w->lvFoundEmails->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(100, w->lvFoundEmails->viewport()->height() - 5));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(fixture::SelectedNumbers(*w).isEmpty());
        QCOMPARE(w->txtmsgbody->toPlainText(), QString("typed by the user"));
        QVERIFY(errors.isEmpty());
    }

    void aRemovedMessageFileIsReportedAndLeavesThePreviewEmpty() {
        std::vector<TMessage> m(1);
        m[0] = {"Fri, 6 Jan 2006", "gone@example.org", "x@example.org", "Gone", "Soon removed.\r\n", false, true};
        const TEmailArray gone = fixture::WriteMessageFile("msg2.tmp", m);
        fixture::ShowRecords(*w, gone);
        Preview(fixture::RowNumbered(*w, 0));
        QCOMPARE(w->txtmsgbody->toPlainText(), QString("\nSoon removed.\n\n"));

        QVERIFY(corvane::fs::RemoveFile(gone[0].FileName));
        Preview(fixture::RowNumbered(*w, 0));
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith("Cannot open file \"" + QString::fromStdString(gone[0].FileName) + "\". "),
                 qPrintable(errors.first()));
        QCOMPARE(w->txtmsgbody->toPlainText(), QString());
    }

    // Keyboard use of the list: moving the current row previews it, Space
    // ticks or clears it.
    void theKeyboardMovesPreviewsAndTicks() {
        fixture::ShowRecords(*w, records, {4, 1, 9});
        Preview(0);
        QVERIFY(w->txtmsgbody->toPlainText().contains("Body of message number 4."));
        w->lvFoundEmails->setFocus();
        QTest::keyClick(w->lvFoundEmails, Qt::Key_Down);
        QCOMPARE(fixture::SelectedNumbers(*w), QStringList{"1"});
        QVERIFY(w->txtmsgbody->toPlainText().contains("Body of message number 1."));
        QTest::keyClick(w->lvFoundEmails, Qt::Key_Space);
        QCOMPARE(fixture::CheckState(*w, 1), Qt::Checked);
        QVERIFY(w->Session.Ticked(1));
        QTest::keyClick(w->lvFoundEmails, Qt::Key_Space);
        QCOMPARE(fixture::CheckState(*w, 1), Qt::Unchecked);
        QTest::keyClick(w->lvFoundEmails, Qt::Key_End);
        QVERIFY(w->txtmsgbody->toPlainText().contains("Body of message number 9."));
        QTest::keyClick(w->lvFoundEmails, Qt::Key_Up);
        QVERIFY(w->txtmsgbody->toPlainText().contains("Body of message number 1."));
        QVERIFY(errors.isEmpty());
    }
};

CORVANE_WINDOW_TEST_MAIN(TestSelection)
#include "tst_selection.moc"
