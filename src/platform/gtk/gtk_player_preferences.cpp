#include "platform/gtk/gtk_player_preferences.hpp"

#include <gio/gio.h>
#include <glib/gstdio.h>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace brindlemar::gtk {

namespace {

constexpr const char* group = "player";

// Runs `work` on GLib's worker threads, then `done` on the main loop.
void inThread(std::function<void()> work, std::function<void()> done) {
    struct Job {
        std::function<void()> work;
        std::function<void()> done;
    };
    GTask* task = g_task_new(nullptr, nullptr,
                             [](GObject*, GAsyncResult* result, gpointer) {
                                 auto* job = static_cast<Job*>(g_task_get_task_data(G_TASK(result)));
                                 if (job->done) job->done();
                             },
                             nullptr);
    g_task_set_task_data(task, new Job{std::move(work), std::move(done)},
                         [](gpointer p) { delete static_cast<Job*>(p); });
    g_task_run_in_thread(task, [](GTask* t, gpointer, gpointer data, GCancellable*) {
        static_cast<Job*>(data)->work();
        g_task_return_boolean(t, TRUE);
    });
    g_object_unref(task);
}

// Reads the file; on the worker thread.
std::optional<PlayerPreferences> readFile(const std::string& path) {
    g_autoptr(GKeyFile) file = g_key_file_new();
    g_autoptr(GError) error = nullptr;
    if (!g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, &error)) {
        if (g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) return std::nullopt;
    } else {
        PlayerPreferences preferences;
        bool damaged = false;
        if (g_key_file_has_key(file, group, "volume", nullptr)) {
            g_autoptr(GError) valueError = nullptr;
            const double volume = g_key_file_get_double(file, group, "volume", &valueError);
            if (valueError) damaged = true;
            else preferences.volume = volume;
        }
        if (g_key_file_has_key(file, group, "muted", nullptr)) {
            g_autoptr(GError) valueError = nullptr;
            const gboolean muted = g_key_file_get_boolean(file, group, "muted", &valueError);
            if (valueError) damaged = true;
            else preferences.muted = muted;
        }
        if (!damaged) return preferences;
    }
    // Unreadable as a key file, or holding a value of the wrong kind: set aside.
    const std::string aside = path + ".damaged";
    if (g_rename(path.c_str(), aside.c_str()) == 0)
        g_message("Preferencias del reproductor dañadas: apartadas en %s", aside.c_str());
    return std::nullopt;
}

void writeFile(const std::string& path, const PlayerPreferences& preferences) {
    g_autoptr(GKeyFile) file = g_key_file_new();
    g_key_file_set_double(file, group, "volume", preferences.volume);
    g_key_file_set_boolean(file, group, "muted", preferences.muted);
    gsize length = 0;
    g_autofree char* text = g_key_file_to_data(file, &length, nullptr);
    g_autofree char* folder = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(folder, 0700);
    g_autoptr(GError) error = nullptr;
    if (!g_file_set_contents(path.c_str(), text, static_cast<gssize>(length), &error))
        g_message("No se pudieron guardar las preferencias del reproductor: %s", error->message);
}

// Saves under way and waiting, by file: main loop only.
struct Saves {
    bool writing = false;
    std::optional<PlayerPreferences> waiting;
    std::vector<std::function<void()>> written;
};

std::map<std::string, Saves>& saves() {
    static std::map<std::string, Saves> all;
    return all;
}

void writeNext(const std::string& path) {
    Saves& state = saves()[path];
    if (!state.waiting) {
        state.writing = false;
        auto written = std::exchange(state.written, {});
        saves().erase(path);
        for (auto& callback : written)
            if (callback) callback();
        return;
    }
    state.writing = true;
    PlayerPreferences preferences = *std::exchange(state.waiting, std::nullopt);
    inThread([path, preferences] { writeFile(path, preferences); }, [path] { writeNext(path); });
}

}  // namespace

std::string playerPreferencesPath(const std::string& configDirectory) {
    g_autofree char* path = g_build_filename(configDirectory.c_str(), "com.brindlemar.app", "player.ini", nullptr);
    return path;
}

void loadPlayerPreferencesFrom(const std::string& path,
                               std::function<void(std::optional<PlayerPreferences>)> done) {
    auto result = std::make_shared<std::optional<PlayerPreferences>>();
    inThread([path, result] { *result = readFile(path); },
             [result, done = std::move(done)] {
                 if (done) done(*result);
             });
}

void savePlayerPreferencesTo(const std::string& path, const PlayerPreferences& preferences,
                             std::function<void()> written) {
    Saves& state = saves()[path];
    state.waiting = preferences;
    state.written.push_back(std::move(written));
    if (!state.writing) writeNext(path);
}

}  // namespace brindlemar::gtk
