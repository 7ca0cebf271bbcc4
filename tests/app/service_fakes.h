// Stand-ins for the desktop that the small services talk to: alerts that
// the test answers, and recorders for web pages and uploads.
#pragma once

#include <QApplication>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "app/service_ports.h"

namespace crestline::test {

class ScriptedAlerts final : public Alerts {
public:
    void show(const Alert& alert, std::function<void(AlertAnswer)> answered) override {
        shown.push_back(alert);
        waiting.push_back(std::move(answered));
    }
    // Answers the oldest alert still open.
    void answer(AlertAnswer answer) {
        ASSERT_FALSE(waiting.empty());
        auto callback = std::move(waiting.front());
        waiting.pop_front();
        callback(answer);
    }
    std::vector<Alert> shown;
    std::deque<std::function<void(AlertAnswer)>> waiting;
};

class RecordingPages final : public WebPages {
public:
    bool open(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    std::vector<std::string> opened;
};

class RecordingUpload final : public CrashUpload {
public:
    void post(const std::string& url, const std::string& body) override { posts.emplace_back(url, body); }
    std::vector<std::pair<std::string, std::string>> posts;
};

// The process's QApplication, made on first use and kept until exit.
inline QApplication& application() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    return *new QApplication(argc, argv);
}

}  // namespace crestline::test
