// Native playback laid over the page: starting it, and ending it in a fixed order.

#include "shell/app_delegate.hpp"
#include "supervisor/service_secret.hpp"

namespace brindlemar {

namespace {
constexpr auto forwardBuffer = std::chrono::seconds(30);
constexpr auto progressInterval = std::chrono::milliseconds(1000);
// How long a player may wait to start after "ready" before the page hears "stalled".
constexpr auto startDeadline = std::chrono::milliseconds(10000);
}  // namespace

void AppDelegate::startNative(const Url& url, double position, const std::string& title,
                              const std::string& audio, const std::string& subtitles,
                              const std::string& subtitleUrl, const std::optional<std::string>& next,
                              std::optional<bool> hardwareDecoding) {
    stopNative(false);
    ++playbackGeneration;

    View* content = window ? window->contentView() : nullptr;
    if (!content) return;

    // The service answers only requests that carry the launch secret; the subtitle file
    // comes from the same origin as the video.
    std::optional<HttpCookie> cookie;
    if (isServiceOrigin(url) && !serviceSecret.empty()) cookie = serviceCookie(serviceSecret);
    std::shared_ptr<Player> newPlayer =
        platform_.createPlayer(url.absoluteString, forwardBuffer, subtitleUrl, cookie);
    if (!newPlayer) {
        // No player could be built at all: the page hears it as a failed video, with
        // no reason it could name.
        nativeEvent("error", "code:0");
        return;
    }

    std::weak_ptr<AppDelegate> weak = weak_from_this();
    std::unique_ptr<PlayerView> view = platform_.createPlayerView(*content);
    view->setPlayer(newPlayer);
    view->setAllowsPictureInPicturePlayback(true);
    view->setPictureInPictureDelegate(PictureInPictureDelegate{
        [weak](PlayerView& v) {
            auto self = weak.lock();
            return self && self->playerViewShouldAutomaticallyDismissAtPictureInPictureStart(v);
        },
        [weak](PlayerView& v) {
            if (auto self = weak.lock()) self->playerViewDidStartPictureInPicture(v);
        },
        [weak](PlayerView& v) {
            if (auto self = weak.lock()) self->playerViewDidStopPictureInPicture(v);
        },
        [weak](PlayerView& v, std::function<void(bool)> completion) {
            if (auto self = weak.lock()) self->playerViewRestoreUserInterfaceForPictureInPictureStop(v, completion);
        },
    });
    // What the user asks of the view reaches only the playback it was made for.
    const std::uint64_t generation = playbackGeneration;
    auto forThisPlayback = [weak, generation](void (AppDelegate::*operation)()) {
        return [weak, generation, operation] {
            auto self = weak.lock();
            if (self && self->player && self->playbackGeneration == generation) (self.get()->*operation)();
        };
    };
    view->setEvents(PlayerViewEvents{
        forThisPlayback(&AppDelegate::tracksChosen),
        forThisPlayback(&AppDelegate::playNext),
        [weak, generation] {
            auto self = weak.lock();
            if (self && self->player && self->playbackGeneration == generation) self->hideNextUp(true);
        },
        forThisPlayback(&AppDelegate::skipIntro),
    });
    view->addBackButton("\u2190 Volver", [weak] {
        if (auto self = weak.lock()) self->closeNative();
    });
    std::unique_ptr<Spinner> spinner = view->addSpinner();
    spinner->startAnimation();

    loadingIndicator = std::move(spinner);
    playerView = std::move(view);
    player = newPlayer;
    nextTitle = next;

    window->setTitle(title);
    if (position > 1.0) player->seek(position);

    // Observers hold the delegate and what they observe weakly, and check on the
    // main loop that it is still the current player or item before acting.
    std::weak_ptr<PlayerItem> item = player->currentItem();
    std::weak_ptr<Player> observed = player;
    Platform& platform = platform_;
    playerStatus = player->observeStatus([weak, item, &platform] {
        platform.post([weak, item] {
            if (auto self = weak.lock()) self->playerItemStatusChanged(item);
        });
    });
    const bool external = !subtitleUrl.empty();
    player->loadMediaSelectionOptions([weak, item, audio, subtitles, external, &platform] {
        platform.post([weak, item, audio, subtitles, external] {
            if (auto self = weak.lock()) self->mediaSelectionLoaded(item, audio, subtitles, external);
        });
    });
    if (hardwareDecoding) player->setHardwareDecoding(*hardwareDecoding);
    // The remembered volume, from the first sound on.
    player->setVolume(playerPreferences.volume);
    player->setMuted(playerPreferences.muted);
    player->play();
    settingsObserver = player->observeSettings([weak, observed, &platform] {
        platform.post([weak, observed] {
            auto self = weak.lock();
            if (self && self->player && self->player == observed.lock()) self->playerSettingsChanged();
        });
    });
    auto rateChanged = [weak, observed, &platform] {
        platform.post([weak, observed] {
            if (auto self = weak.lock()) self->timeControlStatusChanged(observed);
        });
    };
    rateObserver = player->observeTimeControlStatus(rateChanged);
    rateChanged();  // the current status, reported once at registration
    timeObserver = player->addPeriodicTimeObserver(progressInterval, [weak](double seconds) {
        if (auto self = weak.lock()) self->playerTimeTick(seconds);
    });
    auto sends = [weak](const char* type) {
        return [weak, type] {
            if (auto self = weak.lock()) self->nativeEvent(type, "");
        };
    };
    endObserver = player->addItemObserver(ItemNotification::PlayedToEnd, [weak] {
        if (auto self = weak.lock()) self->playbackReachedEnd();
    });
    failObserver = player->addItemObserver(ItemNotification::FailedToPlayToEnd, [weak] {
        if (auto self = weak.lock()) self->playbackFailed();
    });
    stallObserver = player->addItemObserver(ItemNotification::PlaybackStalled, sends("stalled"));
    escapeMonitor = platform_.addKeyDownMonitor([weak](const KeyDown& key) {
        auto self = weak.lock();
        if (!key.escape || !self || !self->playerView) return false;
        self->stopNative(true);
        return true;
    });

    nativeEvent("ready", "");
    publishNowPlaying(title, position);

    // A player that never starts would otherwise leave the page without a word.
    platform_.after(startDeadline, [weak, observed] {
        if (auto self = weak.lock()) self->nativeStartDue(observed);
    });
}

void AppDelegate::stopNative(bool notify) {
    if (playerStatus) playerStatus->invalidate();
    playerStatus.reset();
    if (rateObserver) rateObserver->invalidate();
    rateObserver.reset();
    if (settingsObserver) settingsObserver->invalidate();
    settingsObserver.reset();

    awakeNative = false;
    nativeStarted = false;
    updateAwake();

    if (timeObserver) {
        if (player) player->removeTimeObserver(*timeObserver);
        timeObserver.reset();
    }
    for (std::optional<Token>* token : {&endObserver, &failObserver, &stallObserver}) {
        if (*token && player) player->removeItemObserver(**token);
        token->reset();
    }
    if (escapeMonitor) {
        platform_.removeKeyDownMonitor(*escapeMonitor);
        escapeMonitor.reset();
    }

    if (playerView) playerView->setAllowsPictureInPicturePlayback(false);
    if (player) player->pause();
    if (playerView) playerView->setPlayer({});
    if (loadingIndicator) loadingIndicator->stopAnimation();
    loadingIndicator.reset();
    if (playerView) playerView->removeFromSuperview();
    playerView.reset();
    player.reset();

    // The card, its countdown and "Saltar intro" went with the view.
    nextTitle.reset();
    ++nextUpCountdown;
    nextUpSecondsLeft = 0;
    nextUpCancelled = false;
    nextSent = false;
    nativeEnded = false;
    skipIntroShown = false;

    withdrawNowPlaying();
    if (window) window->setTitle("Brindlemar");
    if (notify) nativeEvent("closed", "");
}

void AppDelegate::closeNative() {
    stopNative(true);
}

}  // namespace brindlemar
