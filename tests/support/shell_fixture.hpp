#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "shell/app_delegate.hpp"
#include "support/fake_platform.hpp"

namespace brindlemar::testing {

inline const std::string readinessLine = "Brindlemar disponible en http://127.0.0.1:47874";

// A delegate on the fake platform, launched unless a test says otherwise.
class ShellTest : public ::testing::Test {
protected:
    FakePlatform platform;
    std::shared_ptr<AppDelegate> app = std::make_shared<AppDelegate>(platform);

    void launch() { app->applicationDidFinishLaunching(); }

    // A page message from the main frame of a document at host:port.
    void post(const std::string& handler, BodyValue body, std::string host = "127.0.0.1",
              std::int64_t port = 47874, bool mainFrame = true) {
        platform.webEvents.scriptMessage(PageMessage{handler, std::move(body), mainFrame, host, port});
    }
    void pressRetry() { post("brindlemarRetry", "go", "", 0); }
};

// A shell whose library page has loaded; the platform's records start empty.
class ReadyShellTest : public ShellTest {
protected:
    void SetUp() override {
        launch();
        platform.childWrites(0, readinessLine);
        platform.calls.clear();
        platform.scripts.clear();
    }
};

}  // namespace brindlemar::testing
