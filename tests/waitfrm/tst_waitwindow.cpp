// The wait window and its progress thread: the bar moves only while the
// user-interface thread processes events, one step at a time; it wraps at its
// maximum; after the window is closed nothing reaches the bar, and the window
// can be destroyed at once.

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

#include <chrono>
#include <memory>
#include <thread>

#include "waitfrm/waitfrm.h"

namespace {

// Processes events for the given time.
void ProcessFor(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

class TestWaitWindow : public QObject {
    Q_OBJECT

private slots:
    void isABorderlessTopWindowCentredOverItsCaller() {
        QWidget caller;
        caller.setGeometry(200, 150, 900, 600);
        caller.show();
        TfrmWait wait(&caller);
        wait.show();
        QVERIFY(wait.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(wait.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(wait.parentWidget() == nullptr);
        QCOMPARE(wait.size(), QSize(504, 103));
        const QPoint offset = wait.geometry().center() - caller.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, "not centred over the caller");
        QCOMPARE(wait.Label1->text(), QString("Please Wait ......"));
        QCOMPARE(wait.pbwait->objectName(), QString("pbwait"));
        QCOMPARE(wait.pbwait->minimum(), 0);
        QCOMPARE(wait.pbwait->maximum(), 100);
        QCOMPARE(wait.pbwait->value(), 0);
        QVERIFY(wait.FProcessbar != nullptr);
        QVERIFY(wait.FProcessbar->isRunning());
    }

    void theBarStepsOnlyWhileEventsAreProcessed() {
        TfrmWait wait;
        wait.show();
        // Steps come every 150 ms: a few of them in about a second.
        QTRY_VERIFY_WITH_TIMEOUT(wait.pbwait->value() >= 3, 3000);
        const int before = wait.pbwait->value();
        QVERIFY(before <= 10);

        // A long step without event processing: the thread waits for its
        // step to be carried out, so afterwards the bar moves on by one step,
        // not by the number of 150 ms periods that passed.
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        QCOMPARE(wait.pbwait->value(), before);
        QCoreApplication::processEvents();
        const int after = wait.pbwait->value();
        QVERIFY2(after == before || after == before + 1,
                 qPrintable(QString("from %1 to %2").arg(before).arg(after)));
        QTRY_VERIFY_WITH_TIMEOUT(wait.pbwait->value() > after, 3000);
    }

    void theBarWrapsToItsMinimumAfterTheMaximum() {
        TfrmWait wait;
        wait.show();
        wait.pbwait->setValue(99);
        QTRY_COMPARE_WITH_TIMEOUT(wait.pbwait->value(), 100, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(wait.pbwait->value(), 0, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(wait.pbwait->value(), 1, 3000);

        // The minimum is the bar's, whatever its range.
        wait.pbwait->setRange(40, 60);
        wait.pbwait->setValue(60);
        QTRY_COMPARE_WITH_TIMEOUT(wait.pbwait->value(), 40, 3000);
    }

    void afterClosingNoStepReachesTheBar() {
        TfrmWait wait;
        wait.show();
        QTRY_VERIFY_WITH_TIMEOUT(wait.pbwait->value() >= 1, 3000);
        TProcessbar* thread = wait.FProcessbar;
        // Close while a step may already be queued: it must find the stop.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QVERIFY(wait.close());
        QVERIFY(!wait.isVisible());
        QVERIFY(wait.FProcessbar == nullptr);
        const int stood = wait.pbwait->value();
        ProcessFor(500);
        QCOMPARE(wait.pbwait->value(), stood);
        // The thread ends at once, even in the middle of its pause.
        QVERIFY(thread->wait(1000));

        // A second close finds no thread and changes nothing.
        wait.FormClose();
        QVERIFY(wait.close());
        QVERIFY(wait.FProcessbar == nullptr);
        QCOMPARE(wait.pbwait->value(), stood);
    }

    void closingWithoutProcessingEventsEndsTheThreadAtOnce() {
        // The thread is waiting for its first step to be carried out, which
        // never happens: the stop must still end it.
        TfrmWait wait;
        TProcessbar* thread = wait.FProcessbar;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wait.close();
        QVERIFY(thread->wait(1000));
        QCoreApplication::processEvents();
        QCOMPARE(wait.pbwait->value(), 0);
    }

    void destroyingRightAfterClosingIsSafe() {
        // Many windows, closed and destroyed at every moment of their
        // thread's cycle; some destroyed without being closed first.
        for (int i = 0; i < 40; ++i) {
            auto wait = std::make_unique<TfrmWait>();
            wait->show();
            ProcessFor(i % 7 * 25);
            if (i % 3 != 0) wait->close();
            wait.reset();
        }
        ProcessFor(300);  // steps still queued for destroyed bars are dropped
    }

    void eachOperationGetsItsOwnWindowAndThread() {
        auto first = std::make_unique<TfrmWait>();
        first->show();
        QTRY_VERIFY_WITH_TIMEOUT(first->pbwait->value() >= 2, 3000);
        TProcessbar* firstThread = first->FProcessbar;
        first->close();
        QVERIFY(firstThread->wait(1000));
        first.reset();

        TfrmWait second;
        second.show();
        QCOMPARE(second.pbwait->value(), 0);
        QVERIFY(second.FProcessbar != nullptr);
        QVERIFY(second.FProcessbar->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(second.pbwait->value() >= 1, 3000);
    }

    void onlyTheProgramClosesIt() {
        TfrmWait wait;
        wait.show();
        // A close asked for by the window system (Alt+F4) is refused.
        QCloseEvent byUser;
        QSpontaneKeyEvent::setSpontaneous(&byUser);
        QCoreApplication::instance()->notify(&wait, &byUser);
        QVERIFY(!byUser.isAccepted());
        QVERIFY(wait.isVisible());
        QVERIFY(wait.FProcessbar != nullptr);
        QVERIFY(wait.close());
        QVERIFY(!wait.isVisible());
        QVERIFY(wait.FProcessbar == nullptr);
    }

    void cancelIsOfferedOnlyToWorkThatCanStop() {
        TfrmWait wait;
        wait.show();
        QCOMPARE(wait.btnCancel->objectName(), QString("btnCancel"));
        QCOMPARE(wait.btnCancel->text(), QString("Cancel"));
        QVERIFY(!wait.btnCancel->isVisible());
        wait.SetCancellable(true);
        QVERIFY(wait.btnCancel->isVisible() && wait.btnCancel->isEnabled());
        QVERIFY(wait.rect().contains(wait.btnCancel->geometry()));
        QVERIFY(!wait.btnCancel->geometry().intersects(wait.pbwait->geometry()));
        QVERIFY(!wait.CancelRequested());
        // A press is kept for the work to find; the button cannot be pressed twice.
        QTest::mouseClick(wait.btnCancel, Qt::LeftButton);
        QVERIFY(wait.CancelRequested());
        QVERIFY(!wait.btnCancel->isEnabled());
        QVERIFY(wait.isVisible());  // the work closes the window, not the button
    }

    void theShareDoneReplacesTheMovingSteps() {
        TfrmWait wait;
        wait.show();
        QTRY_VERIFY_WITH_TIMEOUT(wait.pbwait->value() >= 1, 3000);
        struct {
            std::int64_t done, total;
            int bar;
        } const cases[] = {{0, 1000, 0}, {1, 3, 33}, {250, 1000, 25}, {999, 1000, 99}, {1000, 1000, 100},
                           {5000, 1000, 100}, {-4, 1000, 0}, {3000000000000, 6000000000000, 50}};
        for (const auto& c : cases) {
            wait.ShowShare(c.done, c.total);
            QCOMPARE(wait.pbwait->value(), c.bar);
        }
        // The thread no longer steps the bar.
        QVERIFY(wait.FProcessbar == nullptr);
        wait.ShowShare(40, 100);
        ProcessFor(400);
        QCOMPARE(wait.pbwait->value(), 40);
        // Nothing to share of: the bar stays.
        wait.ShowShare(0, 0);
        QCOMPARE(wait.pbwait->value(), 40);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestWaitWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_waitwindow.moc"
