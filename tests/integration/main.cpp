// The player tests need no display: the picture is rendered into memory. GTK is
// initialised only where a display exists, for the test that shows the video widget.
// BRINDLEMAR_TEST_LOCALE names a locale that must be in effect (the run fails when
// it cannot be set), to run the tests as a user of that language would.
#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A GLib or GTK critical is a bug: it ends the run where it happens.
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_FATAL_MASK | G_LOG_LEVEL_CRITICAL));
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();

    const bool display = g_getenv("DISPLAY") || g_getenv("WAYLAND_DISPLAY");
    if (display && !gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "mpv_player_tests: a display is named but GTK cannot open it\n");
        return 1;
    }
    // As the application does: the user's locale, with the C number format that the
    // player's engine requires.
    const char* locale = std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    if (const char* wanted = g_getenv("BRINDLEMAR_TEST_LOCALE")) {
        const char* ctype = std::setlocale(LC_CTYPE, nullptr);
        if (!locale || !ctype || std::strcmp(ctype, wanted) != 0) {
            std::fprintf(stderr, "mpv_player_tests: locale %s is not available (LC_CTYPE is %s)\n", wanted,
                         ctype ? ctype : "unset");
            return 1;
        }
    }
    return RUN_ALL_TESTS();
}
