#include "app/about_window.h"

#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/app_version.h"
#include "app/desktop_services.h"

namespace crestline {

const std::vector<LibraryLicence>& shippedLibraries() {
    static const std::vector<LibraryLicence> libraries = {
        {"Qt 6", "GNU LGPL 3", "https://www.qt.io"},
        {"FFTW 3", "GNU GPL 2 or later", "https://www.fftw.org"},
        {"libsndfile", "GNU LGPL 2.1 or later", "https://libsndfile.github.io/libsndfile/"},
        {"FFmpeg (libavformat, libavcodec, libavutil, libswresample)", "GNU LGPL 2.1 or later", "https://ffmpeg.org"},
        {"PulseAudio client library", "GNU LGPL 2.1 or later", "https://www.freedesktop.org/wiki/Software/PulseAudio/"},
        {"RtMidi", "MIT", "https://github.com/thestk/rtmidi"},
        {"HarfBuzz", "Old MIT", "https://harfbuzz.github.io"},
        {"zlib", "zlib licence", "https://zlib.net"},
        {"Xlib and XTest", "MIT/X11", "https://www.x.org"},
        {"JSON for Modern C++", "MIT", "https://github.com/nlohmann/json"},
        {"Inter typeface", "SIL Open Font Licence 1.1", "https://rsms.me/inter/"},
    };
    return libraries;
}

namespace {

QString escaped(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toHtmlEscaped(); }

}  // namespace

AboutWindow::AboutWindow(const std::string& site) : QWidget(nullptr, Qt::Window) {
    setWindowTitle(QStringLiteral("About Crestline"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    const auto addLabel = [this, layout](const QString& text) {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignHCenter);
        label->setWordWrap(true);
        layout->addWidget(label);
        labels_.push_back(label);
        return label;
    };
    QLabel* name = addLabel(QStringLiteral("Crestline"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    addLabel(QStringLiteral("Version ") + QString::fromUtf8(kAppVersion.data(), static_cast<qsizetype>(kAppVersion.size())) +
             QStringLiteral(" (") + QString::fromUtf8(kAppBuild.data(), static_cast<qsizetype>(kAppBuild.size())) + ')');
    QLabel* link = addLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(escaped(site)));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    QLabel* notice = addLabel(QString::fromUtf8(kAboutNotice));
    QFont small = notice->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    notice->setFont(small);

    auto* button = new QPushButton(QStringLiteral("Licenses"), this);
    layout->addWidget(button, 0, Qt::AlignHCenter);
    connect(button, &QPushButton::clicked, this, [this] { toggleLicences(); });

    QString html = QStringLiteral("<p>Crestline uses these libraries, each under its own licence:</p><ul>");
    for (const LibraryLicence& library : shippedLibraries()) {
        html += QStringLiteral("<li><a href=\"%1\">%2</a>: %3</li>")
                    .arg(escaped(library.site), escaped(library.name), escaped(library.licence));
    }
    html += QStringLiteral("</ul><p>The full texts are in /usr/share/common-licenses and in each library's "
                           "package under /usr/share/doc.</p>");
    licences_ = new QTextBrowser(this);
    licences_->setOpenExternalLinks(true);
    licences_->setHtml(html);
    licences_->setMinimumHeight(200);
    licences_->hide();
    layout->addWidget(licences_);
    setMinimumWidth(380);
}

void AboutWindow::present() {
    raiseAboveBar(*this);
    show();
    raise();
    activateWindow();
}

void AboutWindow::toggleLicences() {
    licences_->setVisible(licences_->isHidden());
    adjustSize();
}

bool AboutWindow::licencesShown() const { return !licences_->isHidden(); }

QString AboutWindow::text() const {
    QString all;
    for (const QLabel* label : labels_) all += label->text() + '\n';
    return all + licences_->toPlainText();
}

}  // namespace crestline
