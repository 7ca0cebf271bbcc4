// A scriptable accessibility layer for tests: applications, windows and
// controls are trees of elements whose attributes the test sets, breaks or
// slows down. Nothing sleeps: a process given a response delay answers every
// request whose time-out is shorter with `cannotComplete` at once, and
// counts the request.
//
// Notifications are delivered synchronously on the thread that posts them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.h"

namespace crestline {

class FakeAccessibility;

class FakeAXElement final : public AXElement, public std::enable_shared_from_this<FakeAXElement> {
public:
    AXError copyAttribute(std::string_view attribute, AXValue& out) override;
    AXError setAttribute(std::string_view attribute, const AXValue& value) override;
    void setMessagingTimeout(double seconds) override;

    // Script: a value, a failure, or nothing (then the attribute is
    // unsupported).
    void set(const std::string& attribute, AXValue value);
    void fail(const std::string& attribute, AXError error);
    void remove(const std::string& attribute);
    // Accept writes to this attribute (the value is stored and read back).
    void allowWrites(const std::string& attribute);
    // A window that will not become smaller than this: "AXSize" writes are
    // raised to it, as an application with a minimum size does.
    void setMinimumSize(AXSize size);
    // Writes are held back until `settle()`, as a window manager that moves
    // windows asynchronously; reads meanwhile answer the old values.
    void deferWrites(bool on);
    void settle();
    // Appends a child under "AXChildren" and returns it.
    std::shared_ptr<FakeAXElement> addChild();

    double messagingTimeout() const;
    int requests() const;
    std::vector<std::pair<std::string, AXValue>> writes() const;

private:
    friend class FakeAccessibility;
    struct Process;
    explicit FakeAXElement(std::shared_ptr<Process> process) : process_(std::move(process)) {}

    std::shared_ptr<Process> process_;
    mutable std::mutex mutex_;
    std::map<std::string, AXValue, std::less<>> values_;
    std::map<std::string, AXError, std::less<>> failures_;
    std::vector<std::string> writable_;
    std::vector<std::pair<std::string, AXValue>> writes_;
    std::vector<std::pair<std::string, AXValue>> pending_;  // deferred writes
    std::optional<AXSize> minimumSize_;
    bool deferred_ = false;
    double timeout_ = 0.0;  // 0: the application's, else the default
    bool isApplication_ = false;
    int requests_ = 0;
};

class FakeAccessibility final : public Accessibility {
public:
    bool isProcessTrusted() override;
    AXElementRef application(int pid) override;
    std::unique_ptr<AXObserver> createObserver(int pid, AXNotificationHandler handler) override;

    void setTrusted(bool trusted);
    // The application element of `pid`, created on first use.
    std::shared_ptr<FakeAXElement> app(int pid);
    // A new window appended to the application's "AXWindows", with a title.
    std::shared_ptr<FakeAXElement> addWindow(int pid, const std::string& title);
    // Every request to the process takes this long to answer (seconds).
    void setResponseDelay(int pid, double seconds);
    // Refuse observers (as an application that cannot be observed).
    void setObservable(bool observable);
    // Calls the handler of every live observer registered for this element
    // and notification. Returns how many handlers ran.
    int post(const std::shared_ptr<FakeAXElement>& element, const std::string& notification);
    // Observers created and not yet destroyed.
    int liveObservers() const;

private:
    struct Registration {
        std::weak_ptr<FakeAXElement> element;
        std::string notification;
    };
    struct ObserverState {
        AXNotificationHandler handler;
        std::vector<Registration> registrations;
        bool alive = true;
    };
    class Observer;

    mutable std::mutex mutex_;
    bool trusted_ = true;
    bool observable_ = true;
    std::map<int, std::shared_ptr<FakeAXElement>> apps_;
    std::vector<std::shared_ptr<ObserverState>> observers_;
};

}  // namespace crestline
