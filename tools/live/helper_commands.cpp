// crestline-live register / install: the helper script's registration in
// Live's preferences and its installation into the User Library.
#include <iostream>
#include <ostream>

#include "live/live_helper.h"
#include "platform/log.h"
#include "platform/running_processes.h"
#include "tools/live/commands.h"
#include "tools/live/daw_file_options.h"

namespace crestline::live_tool {
namespace {

bool onlyRoot(const std::vector<std::string>& given, std::ostream& err, std::string_view name) {
    std::vector<std::string> args = given;
    if (!takeRootOption(args, err)) return false;
    if (!args.empty()) {
        fail(err, kExitBadInput, "usage: crestline-live " + std::string(name) + " [--root DIR]");
        return false;
    }
    return true;
}

int runRegister(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!onlyRoot(args, err, "register")) return kExitBadInput;
    // Live writes its preferences back as it quits: an edit made while it
    // runs is lost then, and the user should know before relying on it.
    if (const auto live = findLive()) {
        fail(err, kExitOk,
             "Live is running (pid " + std::to_string(live->pid) +
                 "): it rewrites Preferences.cfg as it quits; quit Live and register again");
    }
    const auto registration = LiveHelper::registerIn(std::nullopt);
    out << registration.text() << '\n';
    using Kind = LiveHelper::Registration::Kind;
    return registration.kind == Kind::added || registration.kind == Kind::present ? kExitOk : kExitFailed;
}

int runInstall(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!onlyRoot(args, err, "install")) return kExitBadInput;
    LogCapture log;
    const auto outcome = LiveHelper::installOrUpdate();
    const auto where = LiveHelper::installedScript().string();
    switch (outcome) {
    case LiveHelper::InstallOutcome::installed: out << "installed " << where << '\n'; return kExitOk;
    case LiveHelper::InstallOutcome::updated: out << "updated " << where << '\n'; return kExitOk;
    case LiveHelper::InstallOutcome::unchanged: out << "unchanged " << where << '\n'; return kExitOk;
    case LiveHelper::InstallOutcome::nothingToCompare:
        out << "kept " << where << " (no readable copy to compare with)\n";
        return kExitOk;
    case LiveHelper::InstallOutcome::installFailed:
    case LiveHelper::InstallOutcome::updateFailed:
        out << "failed " << where << '\n';
        for (const auto& line : log.lines()) err << line << '\n';
        return kExitFailed;
    }
    return kExitFailed;
}

}  // namespace

int registerHelper(std::span<const std::string> args) {
    return runRegister({args.begin(), args.end()}, std::cout, std::cerr);
}
int install(std::span<const std::string> args) {
    return runInstall({args.begin(), args.end()}, std::cout, std::cerr);
}

}  // namespace crestline::live_tool
