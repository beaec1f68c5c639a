// The interfaces through which the core reaches the desktop: windows, the web view,
// the library service's child process, delayed work. The GTK backend implements them
// for real; the tests implement them with a recording fake and a manual clock.
// Every call and every callback happens on the main loop.
#pragma once

#include <chrono>
#include <cstddef>
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

// ---- cookies -----------------------------------------------------------------

// A session cookie (gone when the process ends) for the host of `origin`.
struct HttpCookie {
    std::string name;
    std::string value;
    std::string origin;  // "http://127.0.0.1:47874": sent only to this host
    std::string path = "/";
    bool httpOnly = true;        // never readable by page script
    bool sameSiteStrict = true;  // never sent with a request another site starts
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

// A navigation or new-window request as the web view reports it.
struct NavigationAction {
    std::optional<std::string> url;  // nothing when the request has no URL
    bool linkActivated = false;      // the user activated a link
};

// Callbacks a web view delivers to its owner.
struct WebViewEvents {
    std::function<void(const PageMessage&)> scriptMessage;
    // Navigation in any frame: true allows it, false cancels it.
    std::function<bool(const NavigationAction&)> decidePolicy;
    // A document asked for a new window; none is ever created.
    std::function<void(const NavigationAction&)> createWebView;
    std::function<void()> webProcessTerminated;
};

// Something a window can show as its content, and over which native playback can
// be laid.
class View {
public:
    virtual ~View() = default;
};

class WebView : public virtual View {
public:
    virtual void setInspectable(bool inspectable) = 0;
    // Loads a document from a string, with no base URL (about:blank, no host).
    virtual void loadHtml(const std::string& html) = 0;
    // Loads a URL; the request uses the protocol's cache policy and the timeout given.
    virtual void loadRequest(const std::string& url, std::chrono::seconds timeout) = 0;
    virtual void evaluateScript(const std::string& script) = 0;
    virtual void performEdit(MenuAction action) = 0;
    // Puts a cookie in the view's cookie jar. The store is asynchronous: requests made
    // before `done` runs may go without it. `done` comes on a later turn of the main
    // loop, with whether the cookie was stored; never after the view is destroyed.
    virtual void addCookie(const HttpCookie& cookie, std::function<void(bool stored)> done) = 0;
};

// ---- windows ---------------------------------------------------------------

class Window {
public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setMinSize(int width, int height) = 0;
    virtual void setContentView(View& view) = 0;
    // Shows a view that the window alone keeps, until the next content replaces it.
    virtual void setContentView(std::unique_ptr<View> view) = 0;
    virtual View* contentView() const = 0;
    virtual void center() = 0;
    virtual void makeKeyAndOrderFront() = 0;
};

// ---- library service child process -----------------------------------------

struct ChildCommand {
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

// ---- native playback ------------------------------------------------------------

// The item's readiness: unknown until the media could be opened, failed when it
// never could (missing file, 404, unsupported format).
enum class ItemStatus { Unknown, ReadyToPlay, Failed };

// Paused (also stopped), waiting to play (buffering or prerolling before it can
// play at the requested rate), playing.
enum class TimeControlStatus { Paused, WaitingToPlay, Playing };

enum class MediaCharacteristic { Audible, Legible };

// One audio or subtitle stream as a language choice sees it.
struct MediaOption {
    std::optional<std::string> extendedLanguageTag;  // the stream's language tag
    std::optional<std::string> localeIdentifier;
    // A subtitle read from the separate file given to createPlayer, not from the media.
    bool external = false;
    bool operator==(const MediaOption&) const = default;
};

enum class ItemNotification { PlayedToEnd, FailedToPlayToEnd, PlaybackStalled };

// Why an item could not be played, as far as the player can tell. The numbers are
// what the page receives as the "code" of an "error" event.
enum class PlaybackError {
    Unknown = 0,
    UnrecognisedFormat = 1,  // not a media file the player knows
    NotFound = 2,            // missing, unreadable, or refused by the service
    Network = 3,             // the connection failed or broke off
    NoDecoder = 4,           // a stream in a format the player cannot decode
    OutputFailed = 5,        // no audio or video output could be opened
};

// A chapter of the media: where it starts, in seconds, and its title ("" when it has none).
struct Chapter {
    double start = 0;
    std::string title;
    bool operator==(const Chapter&) const = default;
};

// The media a player plays. Its identity (the object) tells a current item from a
// stale one.
class PlayerItem {
public:
    virtual ~PlayerItem() = default;
    virtual ItemStatus status() const = 0;
    // The duration in seconds when it is known and numeric.
    virtual std::optional<double> duration() const = 0;
    // The options of the item's group for a characteristic, in a stable order;
    // nothing when the item has no such group.
    virtual std::optional<std::vector<MediaOption>> mediaSelectionOptions(
        MediaCharacteristic characteristic) const = 0;
    // Selects option `index` of that group, or no option at all (for subtitles: none shown).
    virtual void selectMediaOption(std::optional<std::size_t> index,
                                   MediaCharacteristic characteristic) = 0;
    // Why the item failed; Unknown while it has not failed.
    virtual PlaybackError error() const = 0;
    // The chapters, in order of their start; empty when it has none or they are not known yet.
    virtual std::vector<Chapter> chapters() const = 0;
};

// A player of one item. Every callback comes on the main loop, and never from
// inside the call that registered it.
class Player {
public:
    virtual ~Player() = default;
    virtual std::shared_ptr<PlayerItem> currentItem() const = 0;
    virtual TimeControlStatus timeControlStatus() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void seek(double seconds) = 0;  // at a timescale of 600 per second

    // After every change of the current item's status.
    virtual std::unique_ptr<Observation> observeStatus(std::function<void()> changed) = 0;
    // After every change of the time-control status.
    virtual std::unique_ptr<Observation> observeTimeControlStatus(std::function<void()> changed) = 0;
    // Every `interval` of playback time, with the current time in seconds.
    virtual Token addPeriodicTimeObserver(std::chrono::milliseconds interval,
                                          std::function<void(double seconds)> tick) = 0;
    virtual void removeTimeObserver(Token token) = 0;
    // Each time the current item posts the notification.
    virtual Token addItemObserver(ItemNotification notification, std::function<void()> posted) = 0;
    virtual void removeItemObserver(Token token) = 0;
    // Once, when the item's audio and subtitle streams are known (or can never be).
    virtual void loadMediaSelectionOptions(std::function<void()> completion) = 0;

    // What the player's own controls show and change.
    // The volume, linear: 1 is the media's own level, up to maxVolume (boosted);
    // nothing while it is not known.
    static constexpr double maxVolume = 1.5;
    virtual std::optional<double> volume() const = 0;
    virtual void setVolume(double volume) = 0;  // clamped to 0...maxVolume
    virtual bool muted() const = 0;
    virtual void setMuted(bool muted) = 0;
    // The playback speed (1 is normal), the pitch kept.
    static constexpr double minRate = 0.5;
    static constexpr double maxRate = 2.0;
    virtual double rate() const = 0;
    virtual void setRate(double rate) = 0;  // clamped to minRate...maxRate
    // Seconds by which subtitles (or the sound) come later than the picture; negative
    // is earlier.
    virtual double subtitleDelay() const = 0;
    virtual void setSubtitleDelay(double seconds) = 0;
    virtual double audioDelay() const = 0;
    virtual void setAudioDelay(double seconds) = 0;
    // The subtitles' size as a share of their normal size, 0.5...2.
    virtual double subtitleScale() const = 0;
    virtual void setSubtitleScale(double scale) = 0;
    // Loud passages made quieter and quiet ones louder.
    virtual bool nightMode() const = 0;
    virtual void setNightMode(bool on) = 0;
    // Whether the video may be decoded by the graphics hardware; set before play().
    // Without a call the player decides by the renderer it draws with.
    virtual void setHardwareDecoding(bool allowed) = 0;
    // The hardware decoder in use ("" when decoding in software or not known).
    virtual std::string hardwareDecoder() const = 0;
    // After every change of the volume, mute, speed, delays, subtitle size, night mode,
    // chapters or hardware decoder, whoever made it.
    virtual std::unique_ptr<Observation> observeSettings(std::function<void()> changed) = 0;
    // The position of the current option of that kind among the current item's
    // options; nothing when that kind is off or nothing is open.
    virtual std::optional<std::size_t> selectedMediaOption(MediaCharacteristic characteristic) const = 0;
    // Whether options of that kind are played at all (subtitles shown, audio heard).
    virtual bool mediaSelectionEnabled(MediaCharacteristic characteristic) const = 0;
};

class PlayerView;

// How the picture-in-picture window reports to the owner of a player view.
struct PictureInPictureDelegate {
    std::function<bool(PlayerView&)> shouldAutomaticallyDismissAtStart;
    std::function<void(PlayerView&)> didStart;
    std::function<void(PlayerView&)> didStop;
    std::function<void(PlayerView&, std::function<void(bool restored)>)> restoreUserInterface;
};

// What the user asks of the playback view that its owner decides.
struct PlayerViewEvents {
    std::function<void()> tracksChosen;  // an audio or subtitle track picked in a menu or by key
    std::function<void()> playNextNow;   // "Reproducir ahora" on the next-episode card
    std::function<void()> cancelNext;    // "Cancelar" on the next-episode card
    std::function<void()> skipIntro;     // "Saltar intro"
};

class Spinner {
public:
    virtual ~Spinner() = default;
    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;  // hidden while stopped
};

// The video of a player with its controls, laid over a content view and sized
// with it.
class PlayerView {
public:
    virtual ~PlayerView() = default;
    // Shows and controls `player`, held weakly: the view never keeps a player alive
    // and never reaches one that is gone. An empty pointer lets go of the player.
    virtual void setPlayer(std::weak_ptr<Player> player) = 0;
    virtual void setAllowsPictureInPicturePlayback(bool allowed) = 0;
    virtual void setPictureInPictureDelegate(PictureInPictureDelegate delegate) = 0;
    // A button at the top leading corner, 20 px from both edges.
    virtual void addBackButton(const std::string& title, std::function<void()> action) = 0;
    // A large spinner, centred.
    virtual std::unique_ptr<Spinner> addSpinner() = 0;
    virtual void setHidden(bool hidden) = 0;
    virtual void removeFromSuperview() = 0;
    // Lays the view over another content view (nothing when it is there already).
    virtual void moveOver(View& content) = 0;
    virtual void setEvents(PlayerViewEvents events) = 0;
    // The next-episode card: "Siguiente: <title>" with the seconds left, and its two
    // buttons; hidden until shown, and again by hideNextUp().
    virtual void showNextUp(const std::string& title, int secondsLeft) = 0;
    virtual void hideNextUp() = 0;
    // The "Saltar intro" button.
    virtual void setSkipIntroVisible(bool visible) = 0;
};

struct KeyDown {
    bool escape = false;
};

struct ActivityOptions {
    bool idleSystemSleepDisabled = true;
    bool idleDisplaySleepDisabled = true;
};

// ---- mini-player panel -------------------------------------------------------------

struct PanelConfig {
    int width = 480;  // content size at first
    int height = 270;
    std::string title;
    int minWidth = 320;  // content never smaller
    int minHeight = 180;
    int aspectWidth = 16;  // content ratio kept while resizing
    int aspectHeight = 9;
};

// A small window kept above normal windows, on every workspace, out of the task
// bar, movable by its background; closable and resizable, never minimised.
class Panel {
public:
    virtual ~Panel() = default;
    virtual void setContentView(View& view) = 0;
    // Puts the panel at the bottom-right of the work area of `window`'s monitor,
    // `right` and `bottom` px from those edges.
    virtual void moveToBottomRight(Window& window, int right, int bottom) = 0;
    // Shows the panel in front without taking the focus.
    virtual void orderFrontRegardless() = 0;
    virtual void close() = 0;
};

// ---- desktop media controls ----------------------------------------------------------

enum class NowPlayingStatus { Playing, Paused };

// The native playback as the desktop's media controls (media keys, the now-playing
// list of the desktop shell) show it.
struct NowPlayingInfo {
    std::string trackId;             // an object path, new for every playback
    std::string title;
    std::optional<double> duration;  // seconds, once known
    NowPlayingStatus status = NowPlayingStatus::Playing;
    double rate = 1.0;               // within Player::minRate...Player::maxRate
    bool canGoNext = false;          // something follows (the next episode)
    bool operator==(const NowPlayingInfo&) const = default;
};

// What the desktop's media controls ask of the playback.
struct NowPlayingCommands {
    std::function<void()> play;
    std::function<void()> pause;
    std::function<void()> playPause;
    std::function<void()> stop;
    std::function<void()> raise;                // bring the main window to the front
    std::function<void(double offset)> seekBy;  // seconds, negative goes back
    std::function<void(const std::string& trackId, double position)> setPosition;
    std::function<double()> position;           // seconds
    std::function<void(double rate)> setRate;
    std::function<void()> next;
};

// The playback published to the desktop for as long as this object lives.
class NowPlaying {
public:
    virtual ~NowPlaying() = default;
    // Announces every field that differs from what was published before.
    virtual void update(const NowPlayingInfo& info) = 0;
    // The position jumped (a seek from anywhere).
    virtual void seeked(double position) = 0;
};

// ---- remembered player settings ----------------------------------------------------

struct PlayerPreferences {
    double volume = 1.0;
    bool muted = false;
    bool operator==(const PlayerPreferences&) const = default;
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
    // `count` bytes from the operating system's cryptographic generator; nothing when
    // it cannot give them.
    virtual std::optional<std::string> randomBytes(std::size_t count) = 0;

    // Launches a child; nothing when the launch fails.
    virtual std::unique_ptr<ChildProcess> launch(const ChildCommand& command, ChildEvents events) = 0;

    // A player for `url`, buffering up to `forwardBuffer` ahead; paused until play().
    // A non-empty `subtitleUrl` names a subtitle file offered as one more legible
    // option (marked external). Its HTTP requests to the cookie's origin (media and
    // subtitles) carry `cookie`.
    virtual std::unique_ptr<Player> createPlayer(const std::string& url,
                                                 std::chrono::seconds forwardBuffer,
                                                 const std::string& subtitleUrl,
                                                 const std::optional<HttpCookie>& cookie) = 0;

    // Lays a new player view over `content`, sized to it and resizing with it.
    virtual std::unique_ptr<PlayerView> createPlayerView(View& content) = 0;
    // A mini-player panel; its close button asks `shouldClose`, which answers
    // whether the panel may close by itself.
    virtual std::unique_ptr<Panel> createPanel(const PanelConfig& config,
                                               std::function<bool(Panel&)> shouldClose) = 0;
    // The view the main window shows while the page is in the mini-player: a label
    // (20 pt, medium weight) centred, and a button 20 px below it.
    virtual std::unique_ptr<View> createPlaceholder(const std::string& label,
                                                    const std::string& buttonTitle,
                                                    std::function<void()> action) = 0;

    // Sees every key press in every window of the application first; returning
    // true swallows it. Nothing when no monitor could be installed.
    virtual std::optional<Token> addKeyDownMonitor(std::function<bool(const KeyDown&)> handler) = 0;
    virtual void removeKeyDownMonitor(Token token) = 0;

    // Keeps the machine from sleeping (and the screen from blanking) until ended.
    virtual Token beginActivity(const ActivityOptions& options, const std::string& reason) = 0;
    virtual void endActivity(Token token) = 0;

    // Publishes the native playback to the desktop's media controls until the
    // returned object is dropped. Commands arrive on the main loop.
    virtual std::unique_ptr<NowPlaying> publishNowPlaying(const NowPlayingInfo& info,
                                                          NowPlayingCommands commands) = 0;

    // The player's volume and mute, kept across videos and launches. `done` comes on a
    // later turn of the main loop with what was stored, or nothing when nothing usable
    // was (no file, or a damaged one, which is set aside). Values are as stored: the
    // caller checks their range.
    virtual void loadPlayerPreferences(std::function<void(std::optional<PlayerPreferences>)> done) = 0;
    // Stores them in the background; a later call supersedes an earlier one.
    virtual void savePlayerPreferences(const PlayerPreferences& preferences) = 0;

    // Hands a web address to the default browser; whether it opened is not known.
    virtual void openUrl(const std::string& url) = 0;

    // Runs `work` on a later turn of the main loop.
    virtual void post(std::function<void()> work) = 0;
    // Runs `work` on the main loop once `delay` has passed. Never cancelled.
    virtual void after(std::chrono::milliseconds delay, std::function<void()> work) = 0;
};

}  // namespace brindlemar
