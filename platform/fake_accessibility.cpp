#include "platform/fake_accessibility.h"

#include <algorithm>

namespace crestline {

struct FakeAXElement::Process {
    std::mutex mutex;
    double delay = 0.0;
    std::weak_ptr<FakeAXElement> application;
};

AXError FakeAXElement::copyAttribute(std::string_view attribute, AXValue& out) {
    const double limit = messagingTimeout();
    double delay = 0.0;
    {
        std::scoped_lock lock(process_->mutex);
        delay = process_->delay;
    }
    std::scoped_lock lock(mutex_);
    ++requests_;
    if (delay > limit) return AXError::cannotComplete;
    if (const auto failure = failures_.find(attribute); failure != failures_.end()) return failure->second;
    const auto found = values_.find(attribute);
    if (found == values_.end()) return AXError::attributeUnsupported;
    out = found->second;
    return AXError::success;
}

AXError FakeAXElement::setAttribute(std::string_view attribute, const AXValue& value) {
    std::scoped_lock lock(mutex_);
    ++requests_;
    if (std::find(writable_.begin(), writable_.end(), attribute) == writable_.end()) {
        return AXError::attributeUnsupported;
    }
    AXValue stored = value;
    if (minimumSize_ && attribute == "AXSize" && std::holds_alternative<AXSize>(value)) {
        const auto asked = std::get<AXSize>(value);
        stored = AXSize{std::max(asked.width, minimumSize_->width), std::max(asked.height, minimumSize_->height)};
    }
    writes_.emplace_back(std::string(attribute), value);
    if (deferred_) {
        pending_.emplace_back(std::string(attribute), std::move(stored));
    } else {
        values_.insert_or_assign(std::string(attribute), std::move(stored));
    }
    return AXError::success;
}

void FakeAXElement::setMinimumSize(AXSize size) {
    std::scoped_lock lock(mutex_);
    minimumSize_ = size;
}

void FakeAXElement::deferWrites(bool on) {
    std::scoped_lock lock(mutex_);
    deferred_ = on;
}

void FakeAXElement::settle() {
    std::scoped_lock lock(mutex_);
    for (auto& [attribute, value] : pending_) values_.insert_or_assign(attribute, std::move(value));
    pending_.clear();
}

void FakeAXElement::setMessagingTimeout(double seconds) {
    std::scoped_lock lock(mutex_);
    timeout_ = seconds > 0.0 ? seconds : 0.0;
}

double FakeAXElement::messagingTimeout() const {
    {
        std::scoped_lock lock(mutex_);
        if (timeout_ > 0.0 || isApplication_) return timeout_ > 0.0 ? timeout_ : kAXDefaultTimeoutSeconds;
    }
    std::shared_ptr<FakeAXElement> app;
    {
        std::scoped_lock lock(process_->mutex);
        app = process_->application.lock();
    }
    return app ? app->messagingTimeout() : kAXDefaultTimeoutSeconds;
}

void FakeAXElement::set(const std::string& attribute, AXValue value) {
    std::scoped_lock lock(mutex_);
    failures_.erase(attribute);
    values_.insert_or_assign(attribute, std::move(value));
}

void FakeAXElement::fail(const std::string& attribute, AXError error) {
    std::scoped_lock lock(mutex_);
    failures_.insert_or_assign(attribute, error);
}

void FakeAXElement::remove(const std::string& attribute) {
    std::scoped_lock lock(mutex_);
    failures_.erase(attribute);
    values_.erase(attribute);
}

void FakeAXElement::allowWrites(const std::string& attribute) {
    std::scoped_lock lock(mutex_);
    writable_.push_back(attribute);
}

std::shared_ptr<FakeAXElement> FakeAXElement::addChild() {
    std::shared_ptr<FakeAXElement> child(new FakeAXElement(process_));
    std::scoped_lock lock(mutex_);
    auto found = values_.find("AXChildren");
    if (found == values_.end() || !std::holds_alternative<AXElementList>(found->second)) {
        values_.insert_or_assign("AXChildren", AXElementList{});
        found = values_.find("AXChildren");
    }
    std::get<AXElementList>(found->second).push_back(child);
    return child;
}

int FakeAXElement::requests() const {
    std::scoped_lock lock(mutex_);
    return requests_;
}

std::vector<std::pair<std::string, AXValue>> FakeAXElement::writes() const {
    std::scoped_lock lock(mutex_);
    return writes_;
}

class FakeAccessibility::Observer final : public AXObserver {
public:
    Observer(FakeAccessibility& owner, std::shared_ptr<ObserverState> state)
        : owner_(owner), state_(std::move(state)) {}
    ~Observer() override {
        std::scoped_lock lock(owner_.mutex_);
        state_->alive = false;
        std::erase(owner_.observers_, state_);
    }
    AXError addNotification(const AXElementRef& element, std::string_view notification) override {
        auto fake = std::dynamic_pointer_cast<FakeAXElement>(element);
        if (!fake) return AXError::illegalArgument;
        std::scoped_lock lock(owner_.mutex_);
        state_->registrations.push_back({fake, std::string(notification)});
        return AXError::success;
    }

private:
    FakeAccessibility& owner_;
    std::shared_ptr<ObserverState> state_;
};

bool FakeAccessibility::isProcessTrusted() {
    std::scoped_lock lock(mutex_);
    return trusted_;
}

AXElementRef FakeAccessibility::application(int pid) { return app(pid); }

std::unique_ptr<AXObserver> FakeAccessibility::createObserver(int, AXNotificationHandler handler) {
    std::scoped_lock lock(mutex_);
    if (!observable_ || !trusted_) return nullptr;
    auto state = std::make_shared<ObserverState>();
    state->handler = std::move(handler);
    observers_.push_back(state);
    return std::make_unique<Observer>(*this, state);
}

void FakeAccessibility::setTrusted(bool trusted) {
    std::scoped_lock lock(mutex_);
    trusted_ = trusted;
}

std::shared_ptr<FakeAXElement> FakeAccessibility::app(int pid) {
    std::scoped_lock lock(mutex_);
    auto& slot = apps_[pid];
    if (!slot) {
        auto process = std::make_shared<FakeAXElement::Process>();
        slot.reset(new FakeAXElement(process));
        slot->isApplication_ = true;
        slot->values_.insert_or_assign("AXWindows", AXElementList{});
        process->application = slot;
    }
    return slot;
}

std::shared_ptr<FakeAXElement> FakeAccessibility::addWindow(int pid, const std::string& title) {
    auto application = app(pid);
    std::shared_ptr<FakeAXElement> window(new FakeAXElement(application->process_));
    window->set("AXTitle", title);
    std::scoped_lock lock(application->mutex_);
    auto& list = application->values_["AXWindows"];
    if (!std::holds_alternative<AXElementList>(list)) list = AXElementList{};
    std::get<AXElementList>(list).push_back(window);
    return window;
}

void FakeAccessibility::setResponseDelay(int pid, double seconds) {
    auto application = app(pid);
    std::scoped_lock lock(application->process_->mutex);
    application->process_->delay = seconds;
}

void FakeAccessibility::setObservable(bool observable) {
    std::scoped_lock lock(mutex_);
    observable_ = observable;
}

int FakeAccessibility::post(const std::shared_ptr<FakeAXElement>& element, const std::string& notification) {
    std::vector<AXNotificationHandler> handlers;
    {
        std::scoped_lock lock(mutex_);
        for (const auto& observer : observers_) {
            if (!observer->alive) continue;
            for (const auto& registration : observer->registrations) {
                if (registration.notification == notification && registration.element.lock() == element) {
                    handlers.push_back(observer->handler);
                    break;
                }
            }
        }
    }
    for (const auto& handler : handlers) handler(element, notification);
    return static_cast<int>(handlers.size());
}

int FakeAccessibility::liveObservers() const {
    std::scoped_lock lock(mutex_);
    return static_cast<int>(observers_.size());
}

}  // namespace crestline
