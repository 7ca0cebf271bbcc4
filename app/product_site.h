// The product site: one setting, "productSite", with a default. It serves
// the Help menu's pages, the what's-new page, the About window's link, the
// download page and the crash endpoint.
#pragma once

#include <string>

#include "settings/settings.h"

namespace crestline {

inline constexpr const char* kProductSiteKey = "productSite";
inline constexpr const char* kDefaultProductSite = "https://crestline.app";

// The stored address when it is an http(s) URL, without a trailing slash;
// else the default.
inline std::string productSite(const Settings& settings) {
    std::string site = settings.string(kProductSiteKey).value_or("");
    const bool web = site.rfind("https://", 0) == 0 || site.rfind("http://", 0) == 0;
    if (!web || site.find_first_of(" \t\r\n\"<>") != std::string::npos) site = kDefaultProductSite;
    while (site.size() > 8 && site.back() == '/') site.pop_back();
    return site;
}

inline std::string crashEndpoint(const Settings& settings) { return productSite(settings) + "/api/crash"; }

}  // namespace crestline
