#include "support/fake_platform.hpp"

#include <algorithm>

#include "shell/resources.hpp"

namespace brindlemar::testing {

namespace {

class FakeWebView final : public WebView {
public:
    explicit FakeWebView(FakePlatform& p) : p_(p) {}
    void setInspectable(bool inspectable) override {
        p_.calls.push_back(std::string("web.setInspectable ") + (inspectable ? "true" : "false"));
    }
    void loadHtml(const std::string& html) override {
        p_.calls.push_back("web.loadHtml");
        p_.loads.push_back("html:" + html);
    }
    void loadRequest(const std::string& url, std::chrono::seconds timeout) override {
        p_.calls.push_back("web.loadRequest " + url + " " + std::to_string(timeout.count()) + "s");
        p_.loads.push_back("url:" + url);
    }
    void evaluateScript(const std::string& script) override {
        p_.calls.push_back("web.evaluateScript");
        p_.scripts.push_back(script);
    }
    void performEdit(MenuAction action) override {
        p_.calls.push_back("web.performEdit " + std::to_string(static_cast<int>(action)));
    }

private:
    FakePlatform& p_;
};

class FakeWindow final : public Window {
public:
    explicit FakeWindow(FakePlatform& p) : p_(p) {}
    void setTitle(const std::string& title) override {
        p_.calls.push_back("window.setTitle " + title);
        p_.windowTitle = title;
    }
    std::string title() const override { return p_.windowTitle; }
    void setMinSize(int w, int h) override {
        p_.calls.push_back("window.setMinSize " + std::to_string(w) + "x" + std::to_string(h));
    }
    void setContentView(WebView&) override { p_.calls.push_back("window.setContentView web"); }
    void center() override { p_.calls.push_back("window.center"); }
    void makeKeyAndOrderFront() override {
        p_.calls.push_back("window.makeKeyAndOrderFront");
        p_.windowVisible = true;
    }

private:
    FakePlatform& p_;
};

class FakeChild final : public ChildProcess {
public:
    FakeChild(FakePlatform& p, std::shared_ptr<ChildRecord> record) : p_(p), record_(std::move(record)) {}
    bool isRunning() const override { return record_->running; }
    void terminate() override {
        p_.calls.push_back("child.terminate");
        ++record_->terminations;
    }

private:
    FakePlatform& p_;
    std::shared_ptr<ChildRecord> record_;
};

}  // namespace

void FakePlatform::advance(std::chrono::milliseconds by) {
    const auto target = now + by;
    for (;;) {
        auto next = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (next == timers_.end() || next->due > target) break;
        now = next->due;
        auto work = std::move(next->work);
        timers_.erase(next);
        work();
    }
    now = target;
}

void FakePlatform::childWrites(std::size_t child, const std::string& bytes) {
    children.at(child)->events.output(bytes);
}

void FakePlatform::childExits(std::size_t child) {
    children.at(child)->running = false;
    children.at(child)->events.exited();
}

std::string FakePlatform::statusMessage() const {
    if (loads.empty() || !loads.back().starts_with("html:")) return "";
    std::string page = loads.back().substr(5);
    std::size_t start = resources::statusPageTemplate.size();
    std::size_t end = page.find("</p>\n  ", start);
    return end == std::string::npos ? "" : page.substr(start, end - start);
}

bool FakePlatform::statusRetry() const {
    return !loads.empty() && loads.back().find(std::string(resources::retryButton)) != std::string::npos;
}

std::size_t FakePlatform::urlLoads() const {
    return std::count_if(loads.begin(), loads.end(), [](const std::string& l) { return l.starts_with("url:"); });
}

void FakePlatform::closeMainWindow() {
    windowVisible = false;
    windowClosed();
}

void FakePlatform::setMainMenu(const std::vector<Menu>& m, std::function<void(MenuAction)> chosen) {
    calls.push_back("setMainMenu");
    menus = m;
    menuChosen = std::move(chosen);
}

std::unique_ptr<WebView> FakePlatform::createWebView(const WebViewConfig& config, WebViewEvents events) {
    calls.push_back("createWebView");
    webConfig = config;
    webEvents = std::move(events);
    return std::make_unique<FakeWebView>(*this);
}

std::unique_ptr<Window> FakePlatform::createWindow(int width, int height, std::function<void()> closed) {
    calls.push_back("createWindow " + std::to_string(width) + "x" + std::to_string(height));
    windowClosed = std::move(closed);
    return std::make_unique<FakeWindow>(*this);
}

void FakePlatform::activate() { calls.push_back("activate"); }

void FakePlatform::quit() {
    calls.push_back("quit");
    ++quitCalls;
}

std::optional<std::string> FakePlatform::resourcesDirectory() { return resources; }
std::string FakePlatform::userDataDirectory() { return dataHome; }
Environment FakePlatform::environment() { return env; }

std::unique_ptr<ChildProcess> FakePlatform::launch(const ChildSpec& spec, ChildEvents events) {
    calls.push_back("launch " + spec.executable);
    if (launchFails) return nullptr;
    auto record = std::make_shared<ChildRecord>();
    record->spec = spec;
    record->events = std::move(events);
    children.push_back(record);
    return std::make_unique<FakeChild>(*this, record);
}

std::unique_ptr<Player> FakePlatform::createPlayer(const std::string& url, std::chrono::seconds) {
    calls.push_back("createPlayer " + url);
    return nullptr;
}

void FakePlatform::post(std::function<void()> work) {
    calls.push_back("post");
    timers_.push_back(Timer{now, timerOrder_++, std::move(work)});
}

void FakePlatform::after(std::chrono::milliseconds delay, std::function<void()> work) {
    calls.push_back("after " + std::to_string(delay.count()) + "ms");
    timers_.push_back(Timer{now + delay, timerOrder_++, std::move(work)});
}

}  // namespace brindlemar::testing
