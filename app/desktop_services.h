// The small services' ports over Qt: alerts as message boxes that open
// without a nested event loop and stay above the pinned bar, web pages in
// the desktop's browser, and the crash upload over QtNetwork.
//
// Main thread only; needs a QApplication.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <memory>

#include "app/service_ports.h"

class QNetworkAccessManager;
class QWidget;

namespace crestline {

class MessageBoxAlerts final : public Alerts {
public:
    ~MessageBoxAlerts() override;
    void show(const Alert& alert, std::function<void(AlertAnswer)> answered) override;
    // The alert on screen, if any (tests answer it).
    QMessageBox* current() const { return open_.data(); }

private:
    QPointer<QMessageBox> open_;
};

class DesktopWebPages final : public WebPages {
public:
    bool open(const std::string& url) override;
};

// POSTs with "content-type: application/json" and a 60 s transfer timeout;
// the reply is read and dropped. Uploads still running when this object
// goes are abandoned.
class NetworkCrashUpload final : public CrashUpload {
public:
    static constexpr int kTimeoutMilliseconds = 60'000;

    NetworkCrashUpload();
    ~NetworkCrashUpload() override;
    void post(const std::string& url, const std::string& body) override;
    // Uploads not yet finished.
    int running() const { return running_; }

private:
    std::unique_ptr<QNetworkAccessManager> network_;
    int running_ = 0;
};

// Keeps a top-level window of ours above the pinned bar (a dock window) and
// brings it forward.
void raiseAboveBar(QWidget& window);

}  // namespace crestline
