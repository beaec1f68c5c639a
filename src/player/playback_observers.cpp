// What the native player reports while it plays: failures, the time-control
// status (spinner and wake lock), progress, and the moment its audio and subtitle
// streams are known; and the tracks the user picks.
#include <cmath>
#include <string>

#include "bridge/page_events.hpp"
#include "shell/app_delegate.hpp"

namespace brindlemar {

void AppDelegate::playerItemStatusChanged(const std::weak_ptr<PlayerItem>& observed) {
    if (!player) return;
    std::shared_ptr<PlayerItem> item = player->currentItem();
    if (!item || item != observed.lock()) return;  // an earlier video's item
    if (item->status() != ItemStatus::Failed) return;
    playbackFailed();
    stopNative(false);
}

void AppDelegate::playbackFailed() {
    std::shared_ptr<PlayerItem> item = player ? player->currentItem() : nullptr;
    int code = 0;
    switch (item ? item->error() : PlaybackError::Unknown) {
    case PlaybackError::UnrecognisedFormat:
    case PlaybackError::NotFound:
    case PlaybackError::Network:
    case PlaybackError::NoDecoder:
    case PlaybackError::OutputFailed: code = static_cast<int>(item->error()); break;
    case PlaybackError::Unknown: break;
    }
    nativeEvent("error", "code:" + std::to_string(code));
}

void AppDelegate::tracksChosen() {
    if (!player) return;
    // The position of the chosen track among the item's tracks of its kind; -1 for off.
    auto chosen = [this](MediaCharacteristic characteristic) {
        std::optional<std::size_t> index = player->selectedMediaOption(characteristic);
        if (!index || !player->mediaSelectionEnabled(characteristic)) return std::string("-1");
        return std::to_string(*index);
    };
    nativeEvent("tracks", "audio:" + chosen(MediaCharacteristic::Audible) +
                              ",subtitles:" + chosen(MediaCharacteristic::Legible));
}

void AppDelegate::timeControlStatusChanged(const std::weak_ptr<Player>& observed) {
    if (!player || player != observed.lock()) return;
    if (player->timeControlStatus() == TimeControlStatus::Playing) nativeStarted = true;
    awakeNative = player->timeControlStatus() != TimeControlStatus::Paused;
    updateAwake();
    refreshNowPlaying();
    if (!loadingIndicator) return;
    if (player->timeControlStatus() == TimeControlStatus::WaitingToPlay) {
        loadingIndicator->startAnimation();
    } else {
        loadingIndicator->stopAnimation();
    }
}

// Still waiting to play when the start deadline comes: the page hears "stalled", once.
// A player that has played, or is paused (by the page, the user or its end), is not
// stalled; an earlier video's deadline does nothing.
void AppDelegate::nativeStartDue(const std::weak_ptr<Player>& observed) {
    if (!player || player != observed.lock()) return;
    if (player->timeControlStatus() == TimeControlStatus::Playing) nativeStarted = true;
    if (nativeStarted || player->timeControlStatus() != TimeControlStatus::WaitingToPlay) return;
    nativeEvent("stalled", "");
}

void AppDelegate::playerTimeTick(double seconds) {
    if (!player) return;
    std::shared_ptr<PlayerItem> item = player->currentItem();
    if (!item) return;
    double duration = item->duration().value_or(0.0);
    if (!std::isfinite(duration)) duration = 0.0;
    nativeEvent("time", "position:" + formatNumber(seconds) + ",duration:" + formatNumber(duration));
    nowPlayingPositionChanged(seconds);
    // The page may have ended playback on hearing the time.
    if (!player) return;
    updateSkipIntro(seconds);
    updateNextUp(seconds);
}

void AppDelegate::mediaSelectionLoaded(const std::weak_ptr<PlayerItem>& observed,
                                       const std::string& audio, const std::string& subtitles,
                                       bool externalSubtitles) {
    std::shared_ptr<PlayerItem> item = observed.lock();
    if (!item || !player || player->currentItem() != item) return;
    selectLanguage(audio, MediaCharacteristic::Audible, *item);
    // A subtitle file the page sent along is what the user asked to see; when it could
    // not be opened, the subtitle choice applies as usual.
    if (externalSubtitles) {
        if (auto options = item->mediaSelectionOptions(MediaCharacteristic::Legible)) {
            for (std::size_t i = 0; i < options->size(); ++i) {
                if ((*options)[i].external) {
                    item->selectMediaOption(i, MediaCharacteristic::Legible);
                    return;
                }
            }
        }
    }
    selectLanguage(subtitles, MediaCharacteristic::Legible, *item);
}

}  // namespace brindlemar
