#include "app/qt_services.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>

#include "platform/desktop_pointer.h"

namespace crestline {

QtMainLoop::QtMainLoop() : context_(std::make_unique<QObject>()) {}

QtMainLoop::~QtMainLoop() = default;  // the context deletes its timers

void QtMainLoop::post(std::function<void()> task) {
    QMetaObject::invokeMethod(context_.get(), std::move(task), Qt::QueuedConnection);
}

int QtMainLoop::after(double seconds, std::function<void()> task) {
    const int id = nextId_++;
    auto* timer = new QTimer(context_.get());
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, context_.get(), [this, id, timer, task = std::move(task)] {
        timers_.erase(id);
        timer->deleteLater();
        task();
    });
    timers_[id] = timer;
    timer->start(static_cast<int>(std::lround(std::max(0.0, seconds) * 1000.0)));
    return id;
}

void QtMainLoop::cancel(int id) {
    const auto found = timers_.find(id);
    if (found == timers_.end()) return;
    found->second->stop();
    found->second->deleteLater();
    timers_.erase(found);
}

void QtMainLoop::quit() { QCoreApplication::quit(); }

void QueueBackground::run(std::function<void()> work, std::function<void()> done) {
    MainLoop* loop = &loop_;
    queue_.async([loop, work = std::move(work), done = std::move(done)]() mutable {
        work();
        loop->post(std::move(done));
    });
}

MessageBoxQuestions::~MessageBoxQuestions() {
    if (open_) delete open_.data();
}

void MessageBoxQuestions::ask(const Question& question, std::function<void(bool yes)> answered) {
    auto* box = new QMessageBox();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Crestline"));
    box->setIcon(QMessageBox::Question);
    box->setText(QString::fromStdString(question.message));
    box->setInformativeText(QString::fromStdString(question.information));
    QPushButton* yes = box->addButton(QString::fromStdString(question.yes), QMessageBox::AcceptRole);
    box->addButton(QString::fromStdString(question.no), QMessageBox::RejectRole);
    box->setDefaultButton(yes);
    // Above the pinned bar, which is a dock window.
    box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // Closing the box by the window manager counts as the second answer.
    auto reported = std::make_shared<bool>(false);
    QObject::connect(box, &QMessageBox::finished, box, [box, yes, reported, answered] {
        if (*reported) return;
        *reported = true;
        answered(box->clickedButton() == yes);
    });
    open_ = box;
    box->open();
    box->raise();
    box->activateWindow();
}

ThreadWake::ThreadWake(std::function<void()> onWake)
    : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), onWake_(std::move(onWake)) {
    if (fd_ < 0) return;  // no wake: the periodic tick still restarts the display
    auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read);
    notifier_.reset(notifier);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] {
        std::uint64_t count = 0;
        if (::read(fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count) && onWake_) onWake_();
    });
}

ThreadWake::~ThreadWake() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
}

void ThreadWake::signal() {
    if (fd_ < 0) return;
    const std::uint64_t one = 1;
    // Only a counter at its maximum refuses; then a wake is pending anyway.
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

bool mouseButtonsHeld() {
    if (const auto held = desktopMouseButtonsHeld()) return *held;
    return QGuiApplication::mouseButtons() != Qt::NoButton;
}

}  // namespace crestline
