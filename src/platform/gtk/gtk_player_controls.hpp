#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// The control bar laid along the bottom of a player view: play/pause, the seek bar
// with elapsed and total time, volume, audio and subtitle tracks, full screen and
// picture-in-picture. It appears when the pointer moves and hides after a few
// seconds of stillness while the video plays.
class PlayerControls {
public:
    struct Actions {
        std::function<void()> toggleFullscreen;
        std::function<void()> pictureInPicture;
    };

    explicit PlayerControls(Actions actions);
    ~PlayerControls();
    PlayerControls(const PlayerControls&) = delete;
    PlayerControls& operator=(const PlayerControls&) = delete;

    GtkWidget* widget() const { return revealer_; }
    void setPlayer(Player* player);
    void setPictureInPictureAllowed(bool allowed);
    void setFullscreen(bool fullscreen);
    // The pointer moved over the video: show the bar for a while.
    void poke();
    // Space, Left and Right while the view has the keyboard; true when handled.
    bool handleKey(guint keyval);

private:
    void togglePause();
    void seekBy(double seconds);
    void refreshTime(double seconds);
    void refreshPlayState();
    void fillTrackMenu(GtkWidget* menu, MediaCharacteristic characteristic);
    void scheduleHide();

    Actions actions_;
    Player* player_ = nullptr;
    std::unique_ptr<Observation> rateObservation_;
    std::optional<Token> timeToken_;
    GtkWidget* revealer_ = nullptr;
    GtkWidget* playButton_ = nullptr;
    GtkWidget* elapsed_ = nullptr;
    GtkWidget* total_ = nullptr;
    GtkWidget* seekBar_ = nullptr;
    GtkWidget* volume_ = nullptr;
    GtkWidget* audioButton_ = nullptr;
    GtkWidget* subtitleButton_ = nullptr;
    GtkWidget* fullscreenButton_ = nullptr;
    GtkWidget* pipButton_ = nullptr;
    gulong seekSignal_ = 0;
    guint hideSource_ = 0;
    bool updatingSeekBar_ = false;
    double lastPosition_ = 0;
};

// A button whose accessible name is its tooltip (for screen readers and tests).
GtkWidget* iconButton(const char* iconName, const char* name);
void setAccessibleName(GtkWidget* widget, const char* name);

}  // namespace brindlemar::gtk
