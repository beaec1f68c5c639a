// The end of an episode: the card that names what follows and counts down to it,
// and the "Saltar intro" button while an opening chapter plays.
#include <cmath>

#include "player/chapters.hpp"
#include "shell/app_delegate.hpp"

namespace brindlemar {

namespace {
// The card shows this many seconds before the end, and counts down as many.
constexpr int nextUpSeconds = 10;
// Shorter videos show it only once they have played to their end.
constexpr double nextUpMinimumDuration = 20;
// For those, a position this far before the end means the user went back.
constexpr double endSlack = 1.0;
constexpr auto countdownStep = std::chrono::milliseconds(1000);

std::optional<double> knownDuration(const Player& player) {
    std::shared_ptr<PlayerItem> item = player.currentItem();
    std::optional<double> duration = item ? item->duration() : std::nullopt;
    if (duration && (!std::isfinite(*duration) || *duration <= 0)) return std::nullopt;
    return duration;
}
}  // namespace

void AppDelegate::updateNextUp(double seconds) {
    nativeEnded = false;  // ticks come only while it plays
    if (!player || !nextTitle || nextUpCancelled || nextSent || !std::isfinite(seconds)) return;
    const bool shown = nextUpSecondsLeft > 0;
    std::optional<double> duration = knownDuration(*player);
    if (duration && *duration >= nextUpMinimumDuration && seconds >= *duration - nextUpSeconds) {
        if (!shown) {
            nextUpFrom = *duration - nextUpSeconds;
            showNextUp();
        }
    } else if (shown && seconds < nextUpFrom) {
        // Sent back out of the last seconds: the card goes, and may come again.
        hideNextUp(false);
    }
}

void AppDelegate::playbackReachedEnd() {
    nativeEnded = true;
    nativeEvent("ended", "");
    if (!player || !nextTitle || nextUpCancelled || nextSent || nextUpSecondsLeft > 0) return;
    std::optional<double> duration = knownDuration(*player);
    if (duration && *duration >= nextUpMinimumDuration) {
        nextUpFrom = *duration - nextUpSeconds;
    } else {
        nextUpFrom = duration.value_or(nowPlayingPosition) - endSlack;
    }
    showNextUp();
}

void AppDelegate::showNextUp() {
    if (!playerView || !nextTitle) return;
    nextUpSecondsLeft = nextUpSeconds;
    const std::uint64_t countdown = ++nextUpCountdown;
    playerView->showNextUp(*nextTitle, nextUpSecondsLeft);
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    const std::uint64_t generation = playbackGeneration;
    platform_.after(countdownStep, [weak, generation, countdown] {
        if (auto self = weak.lock()) self->nextUpTick(generation, countdown);
    });
}

void AppDelegate::nextUpTick(std::uint64_t generation, std::uint64_t countdown) {
    // A countdown of another playback, or one stopped since, ends here.
    if (generation != playbackGeneration || countdown != nextUpCountdown || nextUpSecondsLeft <= 0) return;
    if (!player || !playerView || !nextTitle) return;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto again = [this, weak, generation, countdown] {
        platform_.after(countdownStep, [weak, generation, countdown] {
            if (auto self = weak.lock()) self->nextUpTick(generation, countdown);
        });
    };
    // Paused before the end, the viewer has stopped to look: the countdown waits.
    if (!nativeEnded && player->timeControlStatus() == TimeControlStatus::Paused) {
        again();
        return;
    }
    if (nextUpSecondsLeft == 1) {
        playNext();  // takes the card away
        return;
    }
    playerView->showNextUp(*nextTitle, --nextUpSecondsLeft);
    again();
}

void AppDelegate::hideNextUp(bool cancelled) {
    if (cancelled) nextUpCancelled = true;
    ++nextUpCountdown;
    if (std::exchange(nextUpSecondsLeft, 0) > 0 && playerView) playerView->hideNextUp();
}

void AppDelegate::playNext() {
    if (!player || !nextTitle || nextSent) return;
    hideNextUp(false);
    nextSent = true;
    nativeEvent("next", "");
    refreshNowPlaying();  // nothing follows any more
}

void AppDelegate::updateSkipIntro(double seconds) {
    if (!player || !playerView) return;
    std::shared_ptr<PlayerItem> item = player->currentItem();
    if (!item) return;
    const std::vector<Chapter> chapters = item->chapters();
    std::optional<std::size_t> current = chapterAt(chapters, seconds);
    const bool opening = current && isOpeningTitle(chapters[*current].title);
    if (opening == skipIntroShown) return;
    skipIntroShown = opening;
    playerView->setSkipIntroVisible(opening);
}

void AppDelegate::skipIntro() {
    if (!player) return;
    std::shared_ptr<PlayerItem> item = player->currentItem();
    if (!item) return;
    std::optional<double> target = skipIntroTarget(item->chapters(), nowPlayingPosition, knownDuration(*player));
    if (!target) return;
    player->seek(*target);
    // Gone at once; the next progress tells where playback is.
    if (skipIntroShown && playerView) playerView->setSkipIntroVisible(false);
    skipIntroShown = false;
}

}  // namespace brindlemar
