// The interfaces through which the core reaches the desktop: windows, the web view,
// the library service's child process, delayed work. The GTK backend implements them
// for real; the tests implement them with a recording fake and a manual clock.
// Every call and every callback happens on the main loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/page_message.hpp"

namespace brindlemar {

using Environment = std::vector<std::pair<std::string, std::string>>;

// ---- menus ---------------------------------------------------------------

enum class MenuAction { Quit, Copy, Paste, Cut, SelectAll };

struct MenuItem {
    std::string title;
    MenuAction action;
    std::string key;  // a lower-case letter taken with the primary modifier (Ctrl)
};

struct Menu {
    std::string itemTitle;  // title of the menu bar entry (may be empty)
    std::string title;      // title of the menu itself (may be empty)
    std::vector<MenuItem> items;
};

// ---- web view --------------------------------------------------------------

struct UserScript {
    std::string source;
    bool atDocumentEnd = true;
    bool mainFrameOnly = true;
};

struct WebViewConfig {
    bool mediaRequiresUserAction = true;
    std::vector<std::string> messageHandlers;  // in the order registered
    std::vector<UserScript> userScripts;
};

// Callbacks a web view delivers to its owner.
struct WebViewEvents {
    std::function<void(const PageMessage&)> scriptMessage;
};

class WebView {
public:
    virtual ~WebView() = default;
    virtual void setInspectable(bool inspectable) = 0;
    // Loads a document from a string, with no base URL (about:blank, no host).
    virtual void loadHtml(const std::string& html) = 0;
    // Loads a URL; the request uses the protocol's cache policy and the timeout given.
    virtual void loadRequest(const std::string& url, std::chrono::seconds timeout) = 0;
    virtual void evaluateScript(const std::string& script) = 0;
    virtual void performEdit(MenuAction action) = 0;
};

// ---- windows ---------------------------------------------------------------

class Window {
public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual std::string title() const = 0;
    virtual void setMinSize(int width, int height) = 0;
    virtual void setContentView(WebView& view) = 0;
    virtual void center() = 0;
    virtual void makeKeyAndOrderFront() = 0;
};

// ---- library service child process -----------------------------------------

struct ChildSpec {
    std::string executable;
    std::vector<std::string> arguments;
    std::string workingDirectory;
    Environment environment;
};

// Delivered on the main loop, in order. `output` carries raw bytes exactly as
// read (stdout and stderr share one pipe); `exited` comes once, after the
// child has exited.
struct ChildEvents {
    std::function<void(const std::string& bytes)> output;
    std::function<void()> exited;
};

// A launched child. Dropping the handle neither stops nor waits for the child:
// its output and exit keep being delivered to the events it was launched with.
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    virtual bool isRunning() const = 0;
    virtual void terminate() = 0;  // SIGTERM, without waiting
};

// ---- native playback and mini-player (filled in by their own subsystems) ----

class Player {
public:
    virtual ~Player() = default;
};

class PlayerView {
public:
    virtual ~PlayerView() = default;
};

class Spinner {
public:
    virtual ~Spinner() = default;
};

class Panel {
public:
    virtual ~Panel() = default;
};

// An observation that stops when invalidated (or destroyed).
class Observation {
public:
    virtual ~Observation() = default;
    virtual void invalidate() = 0;
};

// An opaque token handed out by a platform service and handed back to it.
struct Token {
    std::uint64_t id = 0;
    bool operator==(const Token&) const = default;
};

// ---- the platform ------------------------------------------------------------

class Platform {
public:
    virtual ~Platform() = default;

    // Installs the menu bar; choosing an item (or its key) calls `chosen`.
    virtual void setMainMenu(const std::vector<Menu>& menus,
                             std::function<void(MenuAction)> chosen) = 0;
    virtual std::unique_ptr<WebView> createWebView(const WebViewConfig& config,
                                                   WebViewEvents events) = 0;
    // A main window with room for `width` x `height` of content. When the user
    // closes it, it is hidden (never destroyed) and `closed` is called.
    virtual std::unique_ptr<Window> createWindow(int width, int height,
                                                 std::function<void()> closed) = 0;
    virtual void activate() = 0;  // bring the application to the front
    virtual void quit() = 0;      // leave the main loop; the process then exits

    // <directory of the executable>/../share/brindlemar, when it exists.
    virtual std::optional<std::string> resourcesDirectory() = 0;
    // The per-user data directory (XDG data home).
    virtual std::string userDataDirectory() = 0;
    virtual Environment environment() = 0;

    // Launches a child; nothing when the launch fails.
    virtual std::unique_ptr<ChildProcess> launch(const ChildSpec& spec, ChildEvents events) = 0;

    // Runs `work` on the main loop once `delay` has passed. Never cancelled.
    virtual void after(std::chrono::milliseconds delay, std::function<void()> work) = 0;
};

}  // namespace brindlemar
