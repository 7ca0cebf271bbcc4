// The controller's ports over Qt and our serial queues, for the running
// application: the main loop (queued invocations and single-shot timers),
// background workers that hand their results back to it, and questions as
// message boxes that open without a nested event loop.
//
// Main thread, except `QtMainLoop::post` and the work of a worker.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>

#include "app/app_ports.h"
#include "platform/serial_queue.h"

class QMessageBox;
class QTimer;

namespace crestline {

class QtMainLoop final : public MainLoop {
public:
    QtMainLoop();
    ~QtMainLoop() override;
    void post(std::function<void()> task) override;
    int after(double seconds, std::function<void()> task) override;
    void cancel(int id) override;
    void quit() override;

private:
    // Owns the timers and receives posted calls; gone with the loop.
    std::unique_ptr<QObject> context_;
    std::map<int, QTimer*> timers_;
    int nextId_ = 1;
};

class QueueBackground final : public Background {
public:
    QueueBackground(std::string label, MainLoop& loop) : queue_(std::move(label)), loop_(loop) {}
    void run(std::function<void()> work, std::function<void()> done) override;
    void stop() override { queue_.stop(); }

private:
    SerialQueue queue_;
    MainLoop& loop_;
};

// Each question is a window-modal-free message box, raised above the bar
// and given the focus (it must be answerable from the keyboard); its first
// button is the default. One at a time is the caller's rule.
class MessageBoxQuestions final : public Questions {
public:
    ~MessageBoxQuestions() override;
    void ask(const Question& question, std::function<void(bool yes)> answered) override;

private:
    QPointer<QMessageBox> open_;
};

// Runs a function on the main thread when another thread signals, without
// the signalling thread allocating or blocking (an eventfd watched by the
// main loop): how the capture thread wakes the sleeping display link.
// Signals that come before the main thread got round to it count once.
class ThreadWake final {
public:
    explicit ThreadWake(std::function<void()> onWake);
    ~ThreadWake();
    ThreadWake(const ThreadWake&) = delete;
    ThreadWake& operator=(const ThreadWake&) = delete;
    void signal();  // any thread

private:
    int fd_ = -1;
    std::unique_ptr<QObject> notifier_;
    std::function<void()> onWake_;
};

// Whether a mouse button is held anywhere on the desktop: X11 when there is
// a display, else Qt's own view of its windows.
bool mouseButtonsHeld();

}  // namespace crestline

namespace crestline {

// Live's restart through /proc and the X11 window manager.
class SystemLiveLauncher final : public LiveLauncher {
public:
    std::optional<LaunchRecord> record(int pid) override { return readLaunchRecord(pid); }
    bool requestQuit(int pid) override { return requestWindowClose(pid); }
    bool open(const LaunchRecord& record, const std::optional<std::string>& document) override {
        return relaunch(record, document);
    }
};

}  // namespace crestline
