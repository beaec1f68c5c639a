#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gsignals.hpp"
#include "platform/platform.hpp"

namespace brindlemar::gtk {

// The control bar laid along the bottom of a player view: play/pause, the seek bar
// with elapsed and total time, volume, audio and subtitle tracks, full screen and
// picture-in-picture. It appears when the pointer moves and hides after a few
// seconds of stillness while the video plays. It reaches the player only through
// the Player interface, and holds it weakly.
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

    GtkWidget* widget() const { return revealer_.get(); }
    void setPlayer(std::weak_ptr<Player> player);
    void setPictureInPictureAllowed(bool allowed);
    void setFullscreen(bool fullscreen);
    // The pointer moved over the video: show the bar for a while.
    void poke();
    // Space, Left and Right while the view has the keyboard; true when handled.
    bool handleKey(guint keyval);

private:
    void detach();
    void togglePause();
    void seekBy(double seconds);
    void refreshTime(double seconds);
    void refreshPlayState();
    void fillTrackMenu(GtkWidget* menu, MediaCharacteristic characteristic);
    void selectTrack(std::optional<std::size_t> index, MediaCharacteristic characteristic);
    void scheduleHide();

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
