// The player's remembered volume and mute in their key file: what a file found on disk
// gives, what happens to a damaged one, and saves that come in a row.
#include <gtest/gtest.h>

#include <glib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "harness.hpp"
#include "platform/gtk/gtk_player_preferences.hpp"

namespace brindlemar::test {
namespace {

namespace fs = std::filesystem;
using gtk::loadPlayerPreferencesFrom;
using gtk::playerPreferencesPath;
using gtk::savePlayerPreferencesTo;

class PlayerPreferencesFile : public ::testing::Test {
protected:
    void SetUp() override {
        g_autofree gchar* dir = g_dir_make_tmp("player-preferences-XXXXXX", nullptr);
        ASSERT_NE(dir, nullptr);
        root_ = dir;
        path_ = playerPreferencesPath(root_.string());
    }
    void TearDown() override { fs::remove_all(root_); }

    void write(const std::string& text) {
        fs::create_directories(fs::path(path_).parent_path());
        std::ofstream(path_) << text;
    }

    std::optional<PlayerPreferences> load() {
        bool done = false;
        std::optional<PlayerPreferences> result;
        loadPlayerPreferencesFrom(path_, [&](std::optional<PlayerPreferences> stored) {
            result = stored;
            done = true;
        });
        EXPECT_FALSE(done) << "the answer must come on a later turn";
        EXPECT_TRUE(spinUntil([&] { return done; }));
        return result;
    }

    fs::path root_;
    std::string path_;
};

struct FileCase {
    const char* name;
    const char* text;
    std::optional<PlayerPreferences> expected;
    bool setAside;
};

class PlayerPreferencesFileCases : public PlayerPreferencesFile,
                                   public ::testing::WithParamInterface<FileCase> {};

TEST_P(PlayerPreferencesFileCases, GivesWhatIsStoredAndSetsADamagedFileAside) {
    const FileCase& c = GetParam();
    if (c.text) write(c.text);
    EXPECT_EQ(load(), c.expected);
    EXPECT_EQ(fs::exists(path_ + ".damaged"), c.setAside);
    if (c.setAside) {
        EXPECT_FALSE(fs::exists(path_));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, PlayerPreferencesFileCases,
    ::testing::Values(
        FileCase{"Missing", nullptr, std::nullopt, false},
        FileCase{"Stored", "[player]\nvolume=0.65\nmuted=true\n", PlayerPreferences{0.65, true}, false},
        // Range is the caller's to check: the file gives what it says.
        FileCase{"OutOfRange", "[player]\nvolume=7.5\n", PlayerPreferences{7.5, false}, false},
        FileCase{"OtherGroupsOnly", "[ventana]\nancho=3\n", PlayerPreferences{}, false},
        FileCase{"NotAKeyFile", "\x01\x02 esto no es un archivo de claves", std::nullopt, true},
        FileCase{"VolumeNotANumber", "[player]\nvolume=alto\n", std::nullopt, true},
        FileCase{"MutedNotABoolean", "[player]\nvolume=0.5\nmuted=quizá\n", std::nullopt, true}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

// Saves made in a row are written one after the other, and the last one is what stays;
// the folder is made when missing.
TEST_F(PlayerPreferencesFile, SavesInARowLeaveTheLast) {
    int written = 0;
    for (double volume : {0.1, 0.2, 0.3, 1.25})
        savePlayerPreferencesTo(path_, PlayerPreferences{volume, volume > 1}, [&] { ++written; });
    ASSERT_TRUE(spinUntil([&] { return written == 4; }));
    EXPECT_EQ(load(), (PlayerPreferences{1.25, true}));
}

}  // namespace
}  // namespace brindlemar::test
