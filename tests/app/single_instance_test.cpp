// The single-instance guard over its socket, and what the controller does
// when it is launched again.
#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

namespace crestline {
namespace {

namespace fs = std::filesystem;
using Request = SingleInstance::Request;

// Runs `tell` on another thread while the main loop serves the guard.
bool tellWhileServing(const std::string& path, Request request) {
    auto told = std::async(std::launch::async, [&] { return SingleInstance::tellRunning(path, request); });
    while (told.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return told.get();
}

TEST(SingleInstance, ASecondLaunchReachesTheFirstWhichShowsItsBar) {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);  // until exit
    }
    const fs::path folder = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "instance";
    fs::create_directories(folder);
    const std::string path = (folder / "crestline-test.socket").string();

    // Nobody runs yet: the launch goes on and becomes the instance.
    EXPECT_FALSE(SingleInstance::tellRunning(path, Request::reopen));
    int reopened = 0;
    {
        SingleInstance first(path, [&] { ++reopened; });
        ASSERT_TRUE(first.listening());
        EXPECT_TRUE(tellWhileServing(path, Request::reopen));
        EXPECT_TRUE(tellWhileServing(path, Request::reopen));
        EXPECT_EQ(reopened, 2);
        // A login launch only learns that one runs; garbage is ignored.
        EXPECT_TRUE(tellWhileServing(path, Request::none));
        EXPECT_EQ(reopened, 2);
    }
    EXPECT_FALSE(fs::exists(path));  // gone with its instance

    // A crashed run's socket answers nobody: the next launch takes its place.
    {
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(stale);
    }
    EXPECT_FALSE(SingleInstance::tellRunning(path, Request::reopen));
    SingleInstance next(path, [&] { ++reopened; });
    EXPECT_TRUE(next.listening());
    EXPECT_TRUE(tellWhileServing(path, Request::reopen));
    EXPECT_EQ(reopened, 3);

    // One per display, in the runtime folder.
    EXPECT_NE(SingleInstance::socketPath(":1"), SingleInstance::socketPath(":2"));
    EXPECT_EQ(fs::path(SingleInstance::socketPath(":1")).parent_path(), fs::path(std::getenv("XDG_RUNTIME_DIR")));
    // A path too long for a socket address: no guard, no crash.
    EXPECT_FALSE(SingleInstance(std::string(200, 'x'), nullptr).listening());
}

}  // namespace
}  // namespace crestline
