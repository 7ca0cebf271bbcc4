// One Crestline per desktop. The running application listens on a Unix
// socket in $XDG_RUNTIME_DIR (one per X display); a second launch connects,
// says what it was asked for and ends, and the running one shows its bar
// (`applicationShouldHandleReopen`). A socket left by a crashed run answers
// nobody: the next launch takes its place.
//
// `tellRunning` before the QApplication exists; the guard itself on the main
// thread, its messages arrive through the main loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QObject;

namespace crestline {

class SingleInstance {
public:
    // What a second launch asks of the running one.
    enum class Request { reopen, none };

    // $XDG_RUNTIME_DIR/crestline-<display>.socket (/tmp/crestline-<uid>/…
    // without a runtime folder); `display` is $DISPLAY when empty.
    static std::string socketPath(const std::string& display = {});
    // True when an instance answered at `path` and took the request.
    static bool tellRunning(const std::string& path, Request request);

    // Listens at `path`; `onReopen` runs on the main thread for each
    // reopen request. `listening()` is false when the socket could not be
    // made (the application then runs without the guard).
    SingleInstance(const std::string& path, std::function<void()> onReopen);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    bool listening() const { return fd_ >= 0; }

private:
    void accept();

    std::string path_;
    int fd_ = -1;
    std::function<void()> onReopen_;
    std::unique_ptr<QObject> notifier_;
};

}  // namespace crestline
