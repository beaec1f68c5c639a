#include <gst/gst.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdio>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!::testing::GTEST_FLAG(list_tests)) {
        if (!gtk_init_check(&argc, &argv)) {
            std::fprintf(stderr, "gst_player_tests: no display (run it under xvfb-run)\n");
            return 1;
        }
        gst_init(&argc, &argv);
    }
    return RUN_ALL_TESTS();
}
