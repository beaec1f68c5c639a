#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gsignals.hpp"
#include "platform/platform.hpp"
#include "player/player_keys.hpp"

namespace brindlemar::gtk {

// The control bar laid along the bottom of a player view: play/pause, the seek bar
// with elapsed and total time and the chapters marked on it, mute and volume (to
// 150 %), speed, the playback settings (delays, subtitle size, night mode), audio and
// subtitle tracks, full screen and picture-in-picture. It appears when the pointer
// moves and hides after a few seconds of stillness while the video plays. Beside it:
// a short message over the picture for what a key changed, and the list of keys. It
// reaches the player only through the Player interface, and holds it weakly.
class PlayerControls {
public:
    struct Actions {
        std::function<void()> toggleFullscreen;
        std::function<void()> pictureInPicture;
        std::function<void()> tracksChosen;         // the user picked a track
        std::function<void(bool shown)> barShown;   // the bar came or went
    };

    explicit PlayerControls(Actions actions);
    ~PlayerControls();
    PlayerControls(const PlayerControls&) = delete;
    PlayerControls& operator=(const PlayerControls&) = delete;

    GtkWidget* widget() const { return revealer_.get(); }
    // The message shown for a moment over the picture, top centre.
    GtkWidget* messageWidget() const { return message_.get(); }
    // The list of keys, centred; hidden until asked for.
    GtkWidget* helpWidget() const { return help_.get(); }
    void setPlayer(std::weak_ptr<Player> player);
    void setPictureInPictureAllowed(bool allowed);
    void setFullscreen(bool fullscreen);
    // The pointer moved over the video: show the bar for a while.
    void poke();
    // A key press in the window of the view; true when the player took it. `focus` is
    // the window's focused widget: a button of the bar takes Space and Return itself.
    bool handleKey(const GdkEventKey* event, GtkWidget* focus);
    void perform(PlayerCommand command);
    // The wheel over the picture: volume steps, up is louder.
    void scrollVolume(int steps);
    // Shows `text` over the picture for a moment.
    void showMessage(const std::string& text);

private:
    void detach();
    void togglePause();
    void seekBy(double seconds);
    void refreshTime(double seconds);
    void refreshPlayState();
    void fillTrackMenu(GtkWidget* menu, MediaCharacteristic characteristic);
    void fillSpeedMenu(GtkWidget* menu);
    void selectTrack(std::optional<std::size_t> index, MediaCharacteristic characteristic);
    void cycleTrack(MediaCharacteristic characteristic);
    void stepChapter(int direction);
    void changeVolume(int direction);
    void refreshSettings();
    void refreshChapters(const std::vector<Chapter>& chapters);
    std::string chapterTitleAt(double seconds) const;
    GtkWidget* buildSettingsPopover(GtkWidget* button);
    void setHelpVisible(bool visible);
    void scheduleHide();
    void setRevealed(bool revealed);

    Actions actions_;
    std::weak_ptr<Player> player_;
    std::unique_ptr<Observation> rateObservation_;
    std::optional<Token> timeToken_;
    GRef<GtkWidget> revealer_;
    GtkWidget* playButton_ = nullptr;
    GtkWidget* elapsed_ = nullptr;
    GtkWidget* total_ = nullptr;
    GtkWidget* seekBar_ = nullptr;
    GtkWidget* volume_ = nullptr;
    GtkWidget* muteButton_ = nullptr;
    GtkWidget* speedButton_ = nullptr;
    GtkWidget* subtitleDelayValue_ = nullptr;
    GtkWidget* audioDelayValue_ = nullptr;
    GtkWidget* subtitleScaleValue_ = nullptr;
    GtkWidget* nightMode_ = nullptr;
    GtkWidget* decoderValue_ = nullptr;
    std::vector<GtkWidget*> popups_;  // the bar's menus and popover, closed before the bar goes
    GRef<GtkWidget> message_;
    GtkWidget* messageText_ = nullptr;
    GRef<GtkWidget> help_;
    guint messageSource_ = 0;
    std::unique_ptr<Observation> settingsObservation_;
    std::vector<Chapter> chapters_;
    double duration_ = 0;
    GtkWidget* fullscreenButton_ = nullptr;
    GtkWidget* pipButton_ = nullptr;
    SignalHandlers handlers_;
    guint hideSource_ = 0;
    bool updatingControls_ = false;  // values set from the player, not by the user
    double lastPosition_ = 0;
};

// Labels and buttons for the views of playback, which come and go while the app
// runs: once destroyed, their accessible objects (which screen readers may still
// hold) say so instead of failing. iconButton's accessible name is its tooltip.
GtkWidget* safeLabel(const char* text);
GtkWidget* labelButton(const char* label);
GtkWidget* iconButton(const char* iconName, const char* name);
void setAccessibleName(GtkWidget* widget, const char* name);

}  // namespace brindlemar::gtk
