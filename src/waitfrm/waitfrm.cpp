#include "waitfrm/waitfrm.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>

#include <algorithm>
#include <chrono>

// ---------------------------------------------------------------------------
// TProcessbar

TProcessbar::TProcessbar(QProgressBar* bar, TBarPace pace)
    : FProgressBar(bar), pace_(pace), shared_(std::make_shared<TShared>()) {}

TProcessbar::~TProcessbar() {
    Stop();
    wait();
}

void TProcessbar::Stop() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
    }
    shared_->wake.notify_all();
}

bool TProcessbar::StopRequested() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->stop;
}

bool TProcessbar::WaitUntilStepPosted() {
    std::unique_lock lock(shared_->mutex);
    shared_->wake.wait(lock, [&] { return shared_->ended || shared_->posted; });
    return !shared_->ended;
}

bool TProcessbar::WaitUntilPausing() {
    std::unique_lock lock(shared_->mutex);
    shared_->wake.wait(lock, [&] { return shared_->ended || shared_->pausing; });
    return !shared_->ended;
}

void TProcessbar::Advance() {
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->pausing) return;  // only a pause can be ended
        shared_->advance = true;
    }
    shared_->wake.notify_all();
}

void TProcessbar::StepBar() {
    // Runs on the user-interface thread, which is also the only one that sets
    // the stop flag; a step that was posted before the stop finds it here.
    if (StopRequested()) return;
    const int position = FProgressBar->value();
    const int maximum = FProgressBar->maximum();
    if (position < maximum) {
        FProgressBar->setValue(FProgressBar->value() + 1);
    } else {
        FProgressBar->setValue(FProgressBar->minimum());
    }
}

void TProcessbar::run() {
    const std::shared_ptr<TShared> shared = shared_;
    std::unique_lock lock(shared->mutex);
    while (!shared->stop) {
        shared->stepPending = true;
        lock.unlock();
        // The bar lives as long as this thread runs (the window joins the
        // thread before its children go), so posting to it is safe.
        QMetaObject::invokeMethod(
            FProgressBar,
            [this, shared] {
                StepBar();
                {
                    std::lock_guard done(shared->mutex);
                    shared->stepPending = false;
                    shared->posted = false;
                }
                shared->wake.notify_all();
            },
            Qt::QueuedConnection);
        lock.lock();
        if (shared->stepPending) {
            shared->posted = true;  // in the queue now, for whoever waits to see it
            shared->wake.notify_all();
        }
        // Wait until the step is carried out, as a sent window message would.
        shared->wake.wait(lock, [&] { return shared->stop || !shared->stepPending; });
        if (shared->stop) break;
        shared->pausing = true;
        shared->advance = false;
        shared->wake.notify_all();
        if (pace_.Manual)
            shared->wake.wait(lock, [&] { return shared->stop || shared->advance; });
        else
            shared->wake.wait_for(lock, pace_.Step, [&] { return shared->stop; });
        shared->pausing = false;
    }
    shared->ended = true;
    shared->wake.notify_all();
}

// ---------------------------------------------------------------------------
// TfrmWait

TfrmWait::TfrmWait(const QWidget* centreOver, TBarPace pace)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), pace_(pace) {
    setObjectName("frmWait");
    setWindowTitle("Please Wait.....");
    setAttribute(Qt::WA_DeleteOnClose, false);
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setFixedSize(504, 103);

    Label1 = new QLabel("Please Wait ......", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(16, 24, 78, 13);
    // The text needs a little more room than its box in most fonts.
    Label1->setMinimumWidth(78);
    Label1->adjustSize();
    Label1->move(16, 24);

    pbwait = new QProgressBar(this);
    pbwait->setObjectName("pbwait");
    pbwait->setGeometry(16, 48, 465, 17);
    pbwait->setRange(0, 100);
    pbwait->setValue(0);
    pbwait->setTextVisible(false);

    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(406, 72, 75, 23);
    btnCancel->setVisible(false);
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    QRect area;
    if (centreOver != nullptr) {
        area = centreOver->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));

    FormCreate();
}

TfrmWait::~TfrmWait() {
    FormClose();
    thread_.reset();  // wakes and joins the thread while the bar still exists
}

void TfrmWait::FormCreate() {
    thread_ = std::make_unique<TProcessbar>(pbwait, pace_);
    FProcessbar = thread_.get();
    FProcessbar->start();
}

void TfrmWait::FormClose() {
    if (FProcessbar == nullptr) return;
    FProcessbar->Stop();
    FProcessbar = nullptr;
}

void TfrmWait::SetCancellable(bool cancellable) {
    btnCancel->setVisible(cancellable);
    btnCancel->setEnabled(cancellable && !cancelRequested_);
}

void TfrmWait::btnCancelClick() {
    cancelRequested_ = true;
    btnCancel->setEnabled(false);
}

void TfrmWait::ShowShare(std::int64_t done, std::int64_t total) {
    FormClose();
    if (total <= 0) return;
    const std::int64_t range = pbwait->maximum() - pbwait->minimum();
    const std::int64_t share = std::clamp<std::int64_t>(done, 0, total) * range / total;
    const int value = pbwait->minimum() + static_cast<int>(share);
    if (value != pbwait->value()) pbwait->setValue(value);
}

void TfrmWait::closeEvent(QCloseEvent* event) {
    // The window offers the user no way to close it; only the program does.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}
