// Stand-ins for the controller's ports: a main loop driven by the fake
// clock, workers that run inline, questions answered by the test, a
// placement that only records, and a launcher that remembers what it was
// asked.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_ports.h"
#include "app/bar_placement.h"
#include "platform/clock.h"
#include "platform/midi_input.h"
#include "platform/serial_queue.h"

namespace crestline::testing {

class FakeLoop final : public MainLoop {
public:
    explicit FakeLoop(FakeClock& clock) : clock_(clock) {}

    // Any thread, as the real loop's.
    void post(std::function<void()> task) override {
        std::scoped_lock lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    int after(double seconds, std::function<void()> task) override {
        timers_[nextId_] = {clock_.now() + seconds, std::move(task)};
        return nextId_++;
    }
    void cancel(int id) override { timers_.erase(id); }
    void quit() override { ++quits; }

    // Runs posted tasks (and those they post) and every timer due now.
    void pump() {
        for (bool ran = true; ran;) {
            ran = false;
            for (;;) {
                std::function<void()> task;
                {
                    std::scoped_lock lock(postedMutex_);
                    if (posted_.empty()) break;
                    task = std::move(posted_.front());
                    posted_.erase(posted_.begin());
                }
                task();
                ran = true;
            }
            for (auto it = timers_.begin(); it != timers_.end(); ++it) {
                if (it->second.first <= clock_.now()) {
                    auto task = std::move(it->second.second);
                    timers_.erase(it);
                    task();
                    ran = true;
                    break;
                }
            }
        }
    }

    int quits = 0;

private:
    FakeClock& clock_;
    std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
    std::map<int, std::pair<double, std::function<void()>>> timers_;
    int nextId_ = 1;
};

// Runs each job at once on the calling thread; counts them.
class InlineBackground final : public Background {
public:
    void run(std::function<void()> work, std::function<void()> done) override {
        ++jobs;
        if (stopped) return;
        work();
        done();
    }
    void stop() override { stopped = true; }

    int jobs = 0;
    bool stopped = false;
};

// Runs each job on a worker thread of its own and hands `done` to the loop,
// as the application's workers do, but only while the test lets it:
// `runPending` lets every job given so far run and waits for them.
class ThreadedBackground final : public Background {
public:
    explicit ThreadedBackground(MainLoop& loop) : loop_(loop) {}
    void run(std::function<void()> work, std::function<void()> done) override {
        queue_.async([this, work = std::move(work), done = std::move(done)]() mutable {
            {
                std::unique_lock lock(mutex_);
                gate_.wait(lock, [this] { return open_; });
            }
            work();
            loop_.post(std::move(done));
        });
    }
    void stop() override {
        setOpen(true);
        queue_.stop();
    }
    void runPending() {
        setOpen(true);
        queue_.drain();
        setOpen(false);
    }

private:
    void setOpen(bool open) {
        {
            std::scoped_lock lock(mutex_);
            open_ = open;
        }
        gate_.notify_all();
    }

    MainLoop& loop_;
    std::mutex mutex_;
    std::condition_variable gate_;
    bool open_ = false;
    SerialQueue queue_{"test.worker"};  // last: stops first
};

class ScriptedQuestions final : public Questions {
public:
    struct Asked {
        Question question;
        std::function<void(bool)> answered;
    };
    void ask(const Question& question, std::function<void(bool)> answered) override {
        asked.push_back({question, std::move(answered)});
    }
    // Answers the last question asked.
    void answer(bool yes) {
        auto callback = std::move(asked.back().answered);
        asked.back().answered = nullptr;
        if (callback) callback(yes);
    }
    std::vector<Asked> asked;
};

class FakePlacement final : public Placement {
public:
    explicit FakePlacement(PlacementHost& host) : host_(host) {}

    void applyBarMode() override {}
    void layoutBar() override {}
    // The rule's core: shown while active (Live runs or standalone).
    void updateVisibility() override { shown = host_.standalone() || host_.livePid(); }
    void refreshFullScreen() override {}
    void fitStep() override {}
    void setFillPending() override {}
    void requestTrustIfNeeded() override {}
    void redraw() override {}
    void wakeDisplay() override {}
    void reopen() override {
        ++reopens;
        shown = true;
    }
    bool floating() const override { return host_.standalone(); }
    bool barShown() const override { return shown; }
    std::optional<DesktopFrame> barFrame() const override { return DesktopFrame{0, 0, 900, 36}; }
    std::optional<DesktopFrame> liveWindowFrame() const override { return std::nullopt; }
    std::uint64_t framesDrawn() const override { return 0; }
    std::optional<std::string> colourSpaceName() const override { return std::nullopt; }
    void shutDown() override { ++shutDowns; }

    bool shown = false;
    int shutDowns = 0;
    int reopens = 0;

private:
    PlacementHost& host_;
};

class FakeLauncher final : public LiveLauncher {
public:
    std::optional<LaunchRecord> record(int pid) override {
        if (pid <= 0) return std::nullopt;
        return LaunchRecord{{"/opt/live/Ableton Live 12", "--x"}, {"HOME=/home/u"}, "/home/u"};
    }
    bool requestQuit(int pid) override {
        quitRequests.push_back(pid);
        return true;
    }
    bool open(const LaunchRecord& record, const std::optional<std::string>& document) override {
        opened.emplace_back(record, document);
        return true;
    }
    std::vector<int> quitRequests;
    std::vector<std::pair<LaunchRecord, std::optional<std::string>>> opened;
};

// A MIDI service that is not there, as on a machine without a sequencer.
class AbsentMidi final : public MidiInput {
public:
    MidiOpenResult open(const std::string&, Handler) override { return {MidiOpenResult::Failure::client, -1}; }
    void close() override {}
    bool isOpen() const override { return false; }
};

}  // namespace crestline::testing
