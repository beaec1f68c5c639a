// Native playback as the desktop's media controls see it (media keys, the desktop
// shell's now-playing list), and what their commands do. Each command acts exactly
// as the player's own control bar or keys do, so the page hears the same events:
// pausing and playing change only the progress it hears, a seek shows in the next
// progress, and Stop is the Escape key (the page hears "closed"). Next is the
// next-episode card's "Reproducir ahora".
#include <algorithm>
#include <cmath>

#include "shell/app_delegate.hpp"

namespace brindlemar {

namespace {
// Progress arrives once a second of playback; a larger step than this is a seek.
constexpr double seekJump = 2.5;
}  // namespace

void AppDelegate::publishNowPlaying(const std::string& title, double position) {
    nowPlayingPosition = std::isfinite(position) && position > 1.0 ? position : 0.0;
    nowPlayingInfo = NowPlayingInfo{"/com/brindlemar/app/track/" + std::to_string(++nowPlayingTracks), title,
                                    std::nullopt, NowPlayingStatus::Playing, currentRate(), canGoNext()};

    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto command = [weak](void (AppDelegate::*operation)()) {
        return [weak, operation] {
            if (auto self = weak.lock()) (self.get()->*operation)();
        };
    };
    NowPlayingCommands commands;
    commands.play = command(&AppDelegate::mediaPlay);
    commands.pause = command(&AppDelegate::mediaPause);
    commands.playPause = command(&AppDelegate::mediaPlayPause);
    commands.stop = command(&AppDelegate::mediaStop);
    commands.raise = command(&AppDelegate::mediaRaise);
    commands.seekBy = [weak](double offset) {
        if (auto self = weak.lock()) self->mediaSeekBy(offset);
    };
    commands.setPosition = [weak](const std::string& trackId, double to) {
        if (auto self = weak.lock()) self->mediaSetPosition(trackId, to);
    };
    commands.position = [weak] {
        auto self = weak.lock();
        return self ? self->nowPlayingPosition : 0.0;
    };
    commands.setRate = [weak](double rate) {
        if (auto self = weak.lock()) self->mediaSetRate(rate);
    };
    commands.next = command(&AppDelegate::mediaNext);
    nowPlaying = platform_.publishNowPlaying(nowPlayingInfo, std::move(commands));
}

void AppDelegate::refreshNowPlaying() {
    if (!nowPlaying || !player) return;
    NowPlayingInfo info = nowPlayingInfo;
    info.status = player->timeControlStatus() == TimeControlStatus::Paused ? NowPlayingStatus::Paused
                                                                           : NowPlayingStatus::Playing;
    if (std::shared_ptr<PlayerItem> item = player->currentItem()) {
        std::optional<double> duration = item->duration();
        if (duration && std::isfinite(*duration) && *duration > 0) info.duration = duration;
    }
    info.rate = currentRate();
    info.canGoNext = canGoNext();
    if (info == nowPlayingInfo) return;
    nowPlayingInfo = info;
    nowPlaying->update(info);
}

void AppDelegate::withdrawNowPlaying() {
    nowPlaying.reset();
    nowPlayingInfo = NowPlayingInfo{};
    nowPlayingPosition = 0;
}

void AppDelegate::nowPlayingPositionChanged(double seconds) {
    if (!nowPlaying || !std::isfinite(seconds)) return;
    // Seeks made by the control bar or the page show up here as a jump.
    bool jumped = std::fabs(seconds - nowPlayingPosition) > seekJump;
    nowPlayingPosition = seconds;
    if (jumped) nowPlaying->seeked(seconds);
    refreshNowPlaying();  // the duration may have become known
}

void AppDelegate::mediaPlay() {
    if (player) player->play();
}

void AppDelegate::mediaPause() {
    if (player) player->pause();
}

void AppDelegate::mediaPlayPause() {
    if (!player) return;
    if (player->timeControlStatus() == TimeControlStatus::Paused) {
        player->play();
    } else {
        player->pause();
    }
}

void AppDelegate::mediaStop() {
    if (playerView) stopNative(true);
}

void AppDelegate::mediaSeekBy(double offset) {
    if (!player || !nowPlaying || !std::isfinite(offset)) return;
    double target = std::max(0.0, nowPlayingPosition + offset);
    if (nowPlayingInfo.duration) target = std::min(target, *nowPlayingInfo.duration);
    player->seek(target);
    nowPlayingPosition = target;
    nowPlaying->seeked(target);
}

void AppDelegate::mediaSetPosition(const std::string& trackId, double position) {
    if (!player || !nowPlaying || trackId != nowPlayingInfo.trackId) return;
    // Outside the video: nothing happens.
    if (!std::isfinite(position) || position < 0) return;
    if (nowPlayingInfo.duration && position > *nowPlayingInfo.duration) return;
    player->seek(position);
    nowPlayingPosition = position;
    nowPlaying->seeked(position);
}

void AppDelegate::mediaRaise() {
    if (window) window->makeKeyAndOrderFront();
}

void AppDelegate::mediaSetRate(double rate) {
    if (!player || !std::isfinite(rate)) return;
    // The desktop shows the new speed once the player reports it changed.
    player->setRate(std::clamp(rate, Player::minRate, Player::maxRate));
}

void AppDelegate::mediaNext() {
    playNext();
}

double AppDelegate::currentRate() const {
    const double rate = player ? player->rate() : 1.0;
    return std::isfinite(rate) ? std::clamp(rate, Player::minRate, Player::maxRate) : 1.0;
}

bool AppDelegate::canGoNext() const {
    return nextTitle && !nextSent;
}

}  // namespace brindlemar
