// The About window: the name, "Version <version> (<build>)", a link to the
// product site, the licences of the libraries the program ships with, and a
// short notice about Live. Made on first use and brought to the front above
// the bar. Main thread only.
#pragma once

#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

class QLabel;
class QTextBrowser;

namespace crestline {

struct LibraryLicence {
    std::string_view name;
    std::string_view licence;
    std::string_view site;
};

// The libraries the package depends on at run time, with their licences.
const std::vector<LibraryLicence>& shippedLibraries();

inline constexpr const char* kAboutNotice =
    "Crestline is an independent product. Ableton and Ableton Live are trademarks of Ableton AG; Crestline is "
    "neither made nor endorsed by Ableton.";

class AboutWindow final : public QWidget {
public:
    explicit AboutWindow(const std::string& site);
    // Shows the window above the bar and gives it the focus.
    void present();
    // Shows or hides the licences below the notice.
    void toggleLicences();
    bool licencesShown() const;
    QString text() const;  // everything the window says, for tests

private:
    std::vector<QLabel*> labels_;
    QTextBrowser* licences_;
};

}  // namespace crestline
