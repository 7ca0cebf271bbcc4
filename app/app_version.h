// The application's version and build, as the package and the crash reports
// name them. Both come from the build: the version from the project, the
// build from the source tree's commit at configure time ("?" outside git).
#pragma once

#include <string_view>

#ifndef CRESTLINE_VERSION
#define CRESTLINE_VERSION "?"
#endif
#ifndef CRESTLINE_BUILD
#define CRESTLINE_BUILD "?"
#endif

namespace crestline {

inline constexpr std::string_view kAppName = "Crestline";
inline constexpr std::string_view kAppVersion = CRESTLINE_VERSION;
inline constexpr std::string_view kAppBuild = CRESTLINE_BUILD;

}  // namespace crestline
