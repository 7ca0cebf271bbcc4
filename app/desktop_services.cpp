#include "app/desktop_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QUrl>

#include "platform/log.h"

namespace crestline {

MessageBoxAlerts::~MessageBoxAlerts() {
    if (open_) {
        open_->disconnect();
        delete open_.data();
    }
}

void MessageBoxAlerts::show(const Alert& alert, std::function<void(AlertAnswer)> answered) {
    auto* box = new QMessageBox();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Crestline"));
    box->setIcon(QMessageBox::Information);
    box->setText(QString::fromStdString(alert.message));
    box->setInformativeText(QString::fromStdString(alert.information));
    QPushButton* first = box->addButton(QString::fromStdString(alert.first), QMessageBox::AcceptRole);
    QPushButton* second = alert.second.empty()
                              ? nullptr
                              : box->addButton(QString::fromStdString(alert.second), QMessageBox::RejectRole);
    box->setDefaultButton(first);
    auto callback = std::make_shared<std::function<void(AlertAnswer)>>(std::move(answered));
    QObject::connect(box, &QMessageBox::finished, box, [box, first, second, callback] {
        const QAbstractButton* clicked = box->clickedButton();
        const AlertAnswer answer = clicked == first                        ? AlertAnswer::first
                                   : second != nullptr && clicked == second ? AlertAnswer::second
                                                                            : AlertAnswer::dismissed;
        if (*callback) (*callback)(answer);
        *callback = nullptr;
    });
    open_ = box;
    raiseAboveBar(*box);
    // open() shows the box without a nested event loop.
    box->open();
    box->raise();
    box->activateWindow();
}

bool DesktopWebPages::open(const std::string& url) {
    const bool opened = QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    if (!opened) log("Crestline: kon pagina niet openen: " + url);
    return opened;
}

NetworkCrashUpload::NetworkCrashUpload() : network_(std::make_unique<QNetworkAccessManager>()) {}

NetworkCrashUpload::~NetworkCrashUpload() = default;

void NetworkCrashUpload::post(const std::string& url, const std::string& body) {
    QNetworkRequest request{QUrl(QString::fromStdString(url))};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(kTimeoutMilliseconds);
    QNetworkReply* reply = network_->post(request, QByteArray::fromStdString(body));
    ++running_;
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
        --running_;
        reply->deleteLater();
    });
}

void raiseAboveBar(QWidget& window) {
    window.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

}  // namespace crestline
