// The one test that needs a display (run under xvfb-run): the player's video widget
// in a window shows the clip's picture, with either way of rendering, and still does
// after it moves to another window.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>

#include "harness.hpp"
#include "platform/gtk/mpv_player.hpp"
#include "player_checks.hpp"

namespace brindlemar::test {
namespace {

using gtk::VideoOutput;

// A window that shows a player's video widget, as the application's overlay does.
class VideoWindow {
public:
    VideoWindow() : window_(gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
        gtk_window_set_default_size(GTK_WINDOW(window_), 320, 180);
    }
    ~VideoWindow() {
        clear();  // the widget is the player's, not the window's to destroy
        gtk_widget_destroy(window_);
    }
    VideoWindow(const VideoWindow&) = delete;
    VideoWindow& operator=(const VideoWindow&) = delete;

    void show(GtkWidget* video) {
        gtk_container_add(GTK_CONTAINER(window_), video);
        gtk_widget_show_all(window_);
    }
    void clear() {
        if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(window_)))
            gtk_container_remove(GTK_CONTAINER(window_), child);
        gtk_widget_hide(window_);
    }

private:
    GtkWidget* window_;
};

// What the widget draws: how much of it is strongly coloured, and in how many
// distinct colours. Black, grey and a single flat colour are not the test pattern.
struct Picture {
    int width = 0;
    int height = 0;
    double colouredShare = 0;
    std::size_t colours = 0;
};

Picture drawnPicture(GtkWidget* widget) {
    Picture picture;
    picture.width = gtk_widget_get_allocated_width(widget);
    picture.height = gtk_widget_get_allocated_height(widget);
    if (picture.width <= 1 || picture.height <= 1) return picture;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture.width, picture.height);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(widget, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    std::size_t coloured = 0;
    std::set<int> colours;
    for (int y = 0; y < picture.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
        for (int x = 0; x < picture.width; ++x) {
            const int r = (row[x] >> 16) & 0xff, g = (row[x] >> 8) & 0xff, b = row[x] & 0xff;
            if (std::max({r, g, b}) - std::min({r, g, b}) < 96) continue;
            ++coloured;
            colours.insert((r >> 6) << 4 | (g >> 6) << 2 | (b >> 6));
        }
    }
    cairo_surface_destroy(surface);
    picture.colouredShare = static_cast<double>(coloured) / (picture.width * picture.height);
    picture.colours = colours.size();
    return picture;
}

::testing::AssertionResult showsThePattern(GtkWidget* widget) {
    Picture picture;
    if (spinUntil([&] {
            picture = drawnPicture(widget);
            return picture.colouredShare > 0.2 && picture.colours >= 4;
        }, 10s))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the widget (" << picture.width << "x" << picture.height << ") draws "
                                         << picture.colouredShare * 100 << "% coloured pixels in "
                                         << picture.colours << " colours";
}

void noteFinalized(gpointer flag, GObject*) {
    *static_cast<bool*>(flag) = true;
}

class MpvVideoWidget : public ::testing::TestWithParam<VideoOutput> {};

TEST_P(MpvVideoWidget, ShowsThePictureAndMovesBetweenWindows) {
    ASSERT_NE(gdk_display_get_default(), nullptr) << "no display: run the test under xvfb-run";
    bool finalized = false;  // outlives the player, whose widget reports here
    auto player = gtk::createMpvPlayer(fileUri(media().vorbisClip), forwardBuffer, "", std::nullopt, GetParam());
    PlayerEvents events(*player);
    GtkWidget* video = gtk::videoWidgetOf(*player);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(gtk::videoWidgetOf(*player), video) << "one widget for the player's life";
    g_object_weak_ref(G_OBJECT(video), noteFinalized, &finalized);

    VideoWindow first;
    VideoWindow second;
    first.show(video);
    player->play();
    ASSERT_TRUE(spinUntil([&] { return !events.ticks.empty() && events.ticks.back() > 0.5; }));
    EXPECT_TRUE(showsThePattern(video));

    // Moved to another window while playing, as the mini-player does.
    g_object_ref(video);
    first.clear();
    second.show(video);
    g_object_unref(video);
    EXPECT_TRUE(showsThePattern(video));
    EXPECT_TRUE(spinUntil([&] { return events.playedToEnd > 0; }));
    EXPECT_EQ(events.stalled, 0);

    // The widget goes with the player once no window holds it.
    player.reset();
    second.clear();
    EXPECT_TRUE(spinUntil([&] { return finalized; }, 10s)) << "the video widget outlived its player";
    if (!finalized) g_object_weak_unref(G_OBJECT(video), noteFinalized, &finalized);
    EXPECT_TRUE(spinUntil([] { return !gtk::playerReleasesPending(); }));
}

INSTANTIATE_TEST_SUITE_P(Outputs, MpvVideoWidget, ::testing::Values(VideoOutput::Software, VideoOutput::OpenGL),
                         [](const ::testing::TestParamInfo<VideoOutput>& info) {
                             return std::string(info.param == VideoOutput::Software ? "Software" : "OpenGL");
                         });

}  // namespace
}  // namespace brindlemar::test
