// The application's one object: all of its state, in named fields, and every
// operation of the shell. Everything runs on the main loop.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <unicode/unistr.h>

#include "bridge/url.hpp"
#include "platform/platform.hpp"

namespace brindlemar {

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    explicit AppDelegate(Platform& platform) : platform_(platform) {}
    // Ends native playback silently and hands back the wake lock: no token outlives
    // the delegate that holds it.
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    static const std::string awakeScript;

    // ---- fields, in declaration order --------------------------------------
    std::unique_ptr<Window> window;            // the main window
    std::unique_ptr<WebView> web;              // the main web view
    std::unique_ptr<ChildProcess> backend;     // the library service, after a successful launch
    icu::UnicodeString output;                 // last 4096 characters the service wrote
    bool ready = false;                        // readiness seen, service origin loaded
    bool stopping = false;                     // quitting; never goes back to false
    std::int64_t attempts = 0;                 // restarts so far; also the launch generation
    std::unique_ptr<Panel> pipWindow;          // the floating mini-player panel
    std::unique_ptr<PlayerView> playerView;    // native playback view
    std::unique_ptr<Spinner> loadingIndicator; // spinner over the playback view
    std::shared_ptr<Player> player;            // the native player
    std::optional<Token> timeObserver;
    std::optional<Token> endObserver;
    std::optional<Token> failObserver;
    std::optional<Token> stallObserver;
    std::optional<Token> escapeMonitor;
    std::unique_ptr<Observation> playerStatus;
    std::optional<Token> awake;                // the held keep-awake activity
    bool awakeNative = false;                  // native playback plays or waits to play
    bool awakeWeb = false;                     // a video element in the page plays
    std::unique_ptr<Observation> rateObserver;
    bool nativeStarted = false;                // native playback has been seen playing
    std::string serviceSecret;                 // the running launch's secret (hex), or empty

    std::uint64_t playbackGeneration = 0;     // bumped by every start of native playback
    std::unique_ptr<Observation> settingsObserver;
    bool skipIntroShown = false;               // "Saltar intro" is up

    // ---- the next episode, for the current playback ----------------------------
    std::optional<std::string> nextTitle;      // what follows, as the page named it
    std::uint64_t nextUpCountdown = 0;         // bumped whenever a countdown starts or stops
    int nextUpSecondsLeft = 0;                 // the card is up and counting while above 0
    double nextUpFrom = 0;                     // a position before this takes the card away
    bool nextUpCancelled = false;              // "Cancelar": not shown again for this playback
    bool nextSent = false;                     // the page has heard {type:'next'}
    bool nativeEnded = false;                  // played to its end, and not playing since

    // ---- the player's remembered volume and mute --------------------------------
    PlayerPreferences playerPreferences;       // applied to every new player
    bool preferencesLoaded = false;            // the stored ones came (or there were none)
    bool preferencesChanged = false;           // the user changed them since launch

    // ---- the desktop's media controls, while native playback exists ----------
    std::unique_ptr<NowPlaying> nowPlaying;
    NowPlayingInfo nowPlayingInfo;            // what was last published
    double nowPlayingPosition = 0;            // the last known position, seconds
    std::uint64_t nowPlayingTracks = 0;       // playbacks published so far

    // ---- recovery from lost processes ----------------------------------------
    std::string shownMessage;                  // the status page last shown, to load it again
    bool shownRetry = false;
    int webCrashes = 0;                        // web content process deaths within the last minute
    std::int64_t webCrashWindow = 0;           // bumped when the count starts afresh
    bool webGaveUp = false;                    // the page died too often; waiting for the user

    // ---- application shell --------------------------------------------------
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const;
    void applicationWillTerminate();
    // The user closed the main window (it is hidden, not destroyed).
    void mainWindowClosed();
    // Quit from the menu, the keyboard or the system: the terminate path.
    void terminate();
    // A second launch of the application: bring the main window back.
    void reopen();
    void performMenuAction(MenuAction action);
    void show(const std::string& message, bool retry = false);

    // ---- backend supervisor -------------------------------------------------
    void startBackend();
    void restartBackend();
    void backendOutput(const std::string& bytes);
    // Loads the service origin into the main web view.
    void loadLibraryPage();
    // The child of launch `generation` has exited.
    void backendExited(std::int64_t generation);
    void authorizationCheck(std::int64_t generation);
    void slowStartCheck(std::int64_t generation);
    // The service cookie of launch `generation` is in the web view's jar (or failed to be).
    void serviceCookieStored(std::int64_t generation, bool stored);

    // ---- web bridge -----------------------------------------------------------
    void didReceiveScriptMessage(const PageMessage& message);
    bool decidePolicyForNavigationAction(const NavigationAction& action);
    void createWebViewForNavigationAction(const NavigationAction& action);
    void webProcessTerminated();
    // The user asked for the page again after it died too often.
    void reloadAfterCrashes();
    // Loads again what the view showed: the library page once ready, otherwise
    // the last status page.
    void reloadShown();
    void nativeEvent(const std::string& type, const std::string& extraFields);
    void setPipState(bool state);

    // ---- native player --------------------------------------------------------
    // A non-empty subtitleUrl is a subtitle file played with the video and shown
    // from the start, whatever the subtitle choice. `next` names what follows (the
    // next-episode card and the desktop's Next); `hardwareDecoding`, when given,
    // allows or forbids decoding by the graphics hardware.
    void startNative(const Url& url, double position, const std::string& title,
                     const std::string& audio, const std::string& subtitles,
                     const std::string& subtitleUrl = "",
                     const std::optional<std::string>& next = std::nullopt,
                     std::optional<bool> hardwareDecoding = std::nullopt);
    void stopNative(bool notify);
    void closeNative();
    void selectLanguage(const std::string& choice, MediaCharacteristic characteristic,
                        PlayerItem& item);
    void playerItemStatusChanged(const std::weak_ptr<PlayerItem>& observed);
    void timeControlStatusChanged(const std::weak_ptr<Player>& observed);
    void playerTimeTick(double seconds);
    void nativeStartDue(const std::weak_ptr<Player>& observed);
    void mediaSelectionLoaded(const std::weak_ptr<PlayerItem>& item, const std::string& audio,
                              const std::string& subtitles, bool externalSubtitles = false);
    // The current item failed: the page hears "error" with the player's reason.
    void playbackFailed();
    // Volume, mute, speed and the rest changed on the player, whoever changed them.
    void playerSettingsChanged();
    // The user picked an audio or subtitle track: the page hears "tracks".
    void tracksChosen();
    void skipIntro();
    void updateSkipIntro(double seconds);

    // ---- the next episode ---------------------------------------------------------
    void updateNextUp(double seconds);
    void playbackReachedEnd();
    void showNextUp();
    void nextUpTick(std::uint64_t generation, std::uint64_t countdown);
    // Hides the card and stops its countdown; `cancelled` keeps it away for this playback.
    void hideNextUp(bool cancelled);
    // The page hears {type:'next'}, once per playback, when something follows.
    void playNext();

    // ---- remembered volume and mute ----------------------------------------------
    void playerPreferencesLoaded(std::optional<PlayerPreferences> stored);

    // ---- desktop media controls ---------------------------------------------------
    void publishNowPlaying(const std::string& title, double position);
    void refreshNowPlaying();
    void withdrawNowPlaying();
    void nowPlayingPositionChanged(double seconds);
    void mediaPlay();
    void mediaPause();
    void mediaPlayPause();
    void mediaStop();
    void mediaSeekBy(double offset);
    void mediaSetPosition(const std::string& trackId, double position);
    void mediaRaise();
    void mediaSetRate(double rate);
    void mediaNext();
    // The speed as the desktop shows it, within Player::minRate...maxRate.
    double currentRate() const;
    // Something follows that the page has not been asked to play yet.
    bool canGoNext() const;

    // ---- mini-player and picture-in-picture -------------------------------------
    void enterPip();
    void leavePip();
    void restorePip();
    bool windowShouldClose(Panel& panel);
    bool playerViewShouldAutomaticallyDismissAtPictureInPictureStart(PlayerView& view);
    void playerViewDidStartPictureInPicture(PlayerView& view);
    void playerViewDidStopPictureInPicture(PlayerView& view);
    void playerViewRestoreUserInterfaceForPictureInPictureStop(
        PlayerView& view, const std::function<void(bool)>& completion);

    // ---- wake lock ------------------------------------------------------------
    void updateAwake();

private:
    Platform& platform_;
};

}  // namespace brindlemar
