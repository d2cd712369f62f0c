// The wait window and its progress thread: the bar moves only while the
// user-interface thread processes events, one step at a time; it wraps at its
// maximum; after the window is closed nothing reaches the bar, and the window
// can be destroyed at once. The thread's pauses are paced by the test
// (a manual pace: each pause lasts until the test ends it), so no clock is
// involved.

#include <QApplication>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

#include <memory>

#include "waitfrm/waitfrm.h"

namespace {

const TBarPace kManual{std::chrono::milliseconds(0), true};

// Lets the thread make its next step and carries it out: ends its pause,
// waits for the step to be posted and processes the events.
void Step(TfrmWait& wait) {
    QVERIFY(wait.FProcessbar->WaitUntilPausing());
    wait.FProcessbar->Advance();
    QVERIFY(wait.FProcessbar->WaitUntilStepPosted());
    QCoreApplication::processEvents();
}

// The first step, which the thread posts as it starts.
void FirstStep(TfrmWait& wait) {
    QVERIFY(wait.FProcessbar->WaitUntilStepPosted());
    QCoreApplication::processEvents();
}

void ProcessEvents(int times) {
    for (int i = 0; i < times; ++i) QCoreApplication::processEvents();
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
        TfrmWait wait(nullptr, kManual);
        wait.show();
        // The first step is posted at once, and carried out only by the
        // user-interface thread's event processing.
        QVERIFY(wait.FProcessbar->WaitUntilStepPosted());
        QCOMPARE(wait.pbwait->value(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(wait.pbwait->value(), 1);
        // In a pause nothing moves, however many events are processed.
        QVERIFY(wait.FProcessbar->WaitUntilPausing());
        ProcessEvents(5);
        QCOMPARE(wait.pbwait->value(), 1);

        // A long piece of work without event processing: the thread waits
        // for its step to be carried out, so the pauses that would have
        // passed meanwhile count for nothing; the bar moves on by one step.
        wait.FProcessbar->Advance();
        QVERIFY(wait.FProcessbar->WaitUntilStepPosted());
        for (int i = 0; i < 5; ++i) wait.FProcessbar->Advance();
        QCOMPARE(wait.pbwait->value(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(wait.pbwait->value(), 2);
        QVERIFY(wait.FProcessbar->WaitUntilPausing());
        ProcessEvents(5);
        QCOMPARE(wait.pbwait->value(), 2);
        Step(wait);
        QCOMPARE(wait.pbwait->value(), 3);
    }

    void theBarWrapsToItsMinimumAfterTheMaximum() {
        TfrmWait wait(nullptr, kManual);
        wait.show();
        FirstStep(wait);
        wait.pbwait->setValue(99);
        for (const int expected : {100, 0, 1}) {
            Step(wait);
            QCOMPARE(wait.pbwait->value(), expected);
        }
        // The minimum is the bar's, whatever its range.
        wait.pbwait->setRange(40, 60);
        wait.pbwait->setValue(60);
        Step(wait);
        QCOMPARE(wait.pbwait->value(), 40);
    }

    void afterClosingNoStepReachesTheBar() {
        TfrmWait wait(nullptr, kManual);
        wait.show();
        FirstStep(wait);
        TProcessbar* thread = wait.FProcessbar;
        // Closed while a step is queued: it must find the stop.
        QVERIFY(thread->WaitUntilPausing());
        thread->Advance();
        QVERIFY(thread->WaitUntilStepPosted());
        QVERIFY(wait.close());
        QVERIFY(!wait.isVisible());
        QVERIFY(wait.FProcessbar == nullptr);
        ProcessEvents(5);
        QCOMPARE(wait.pbwait->value(), 1);
        QVERIFY(thread->wait());

        // A second close finds no thread and changes nothing.
        wait.FormClose();
        QVERIFY(wait.close());
        QVERIFY(wait.FProcessbar == nullptr);
        QCOMPARE(wait.pbwait->value(), 1);
    }

    void closingEndsTheThreadInAPauseAndWhileItsStepWaits() {
        // Waiting for its first step to be carried out, which never happens:
        // the stop must still end it.
        {
            TfrmWait wait(nullptr, kManual);
            TProcessbar* thread = wait.FProcessbar;
            QVERIFY(thread->WaitUntilStepPosted());
            wait.close();
            QVERIFY(thread->wait());
            QCoreApplication::processEvents();
            QCOMPARE(wait.pbwait->value(), 0);
        }
        // In the middle of a pause that nothing else would end.
        TfrmWait wait(nullptr, kManual);
        FirstStep(wait);
        TProcessbar* thread = wait.FProcessbar;
        QVERIFY(thread->WaitUntilPausing());
        wait.close();
        QVERIFY(thread->wait());
    }

    void destroyingRightAfterClosingIsSafe() {
        // Many windows whose threads step as fast as they can, closed and
        // destroyed after differing amounts of event processing (so at every
        // point of their cycle); some destroyed without being closed first.
        for (int i = 0; i < 40; ++i) {
            auto wait = std::make_unique<TfrmWait>(nullptr, TBarPace{std::chrono::milliseconds(0), false});
            wait->show();
            ProcessEvents(i % 7);
            if (i % 3 != 0) wait->close();
            wait.reset();
        }
        ProcessEvents(5);  // steps still queued for destroyed bars are dropped
    }

    void eachOperationGetsItsOwnWindowAndThread() {
        auto first = std::make_unique<TfrmWait>(nullptr, kManual);
        first->show();
        FirstStep(*first);
        Step(*first);
        QCOMPARE(first->pbwait->value(), 2);
        TProcessbar* firstThread = first->FProcessbar;
        first->close();
        QVERIFY(firstThread->wait());
        first.reset();

        TfrmWait second(nullptr, kManual);
        second.show();
        QCOMPARE(second.pbwait->value(), 0);
        QVERIFY(second.FProcessbar != nullptr);
        QVERIFY(second.FProcessbar->isRunning());
        FirstStep(second);
        QCOMPARE(second.pbwait->value(), 1);
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
        TfrmWait wait(nullptr, kManual);
        wait.show();
        FirstStep(wait);
        TProcessbar* thread = wait.FProcessbar;
        QVERIFY(thread->WaitUntilPausing());
        thread->Advance();
        QVERIFY(thread->WaitUntilStepPosted());  // a step waits in the queue
        struct {
            std::int64_t done, total;
            int bar;
        } const cases[] = {{0, 1000, 0}, {1, 3, 33}, {250, 1000, 25}, {999, 1000, 99}, {1000, 1000, 100},
                           {5000, 1000, 100}, {-4, 1000, 0}, {3000000000000, 6000000000000, 50}};
        for (const auto& c : cases) {
            wait.ShowShare(c.done, c.total);
            QCOMPARE(wait.pbwait->value(), c.bar);
        }
        // The thread no longer steps the bar: the queued step finds it stopped.
        QVERIFY(wait.FProcessbar == nullptr);
        wait.ShowShare(40, 100);
        ProcessEvents(5);
        QCOMPARE(wait.pbwait->value(), 40);
        QVERIFY(thread->wait());
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
