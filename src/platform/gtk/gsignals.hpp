// Signal handlers owned by the object they call back: each one is disconnected when
// its owner goes, unless the instance it was connected to went first.
#pragma once

#include <glib-object.h>

#include <memory>
#include <vector>

namespace brindlemar::gtk {

class SignalHandlers {
public:
    SignalHandlers() = default;
    SignalHandlers(const SignalHandlers&) = delete;
    SignalHandlers& operator=(const SignalHandlers&) = delete;
    ~SignalHandlers() { clear(); }

    // g_signal_connect, with the handler owned here.
    void connect(gpointer instance, const char* signal, GCallback callback, gpointer data) {
        auto entry = std::make_unique<Entry>();
        g_weak_ref_init(&entry->instance, instance);
        entry->id = g_signal_connect(instance, signal, callback, data);
        entries_.push_back(std::move(entry));
    }

    // Disconnects every handler connected to `instance`.
    void disconnect(gpointer instance) {
        std::erase_if(entries_, [instance](const std::unique_ptr<Entry>& entry) {
            GObject* object = static_cast<GObject*>(g_weak_ref_get(&entry->instance));
            const bool match = object == instance;
            if (object) g_object_unref(object);
            return match;
        });
    }

    void clear() { entries_.clear(); }

private:
    struct Entry {
        GWeakRef instance;
        gulong id = 0;
        Entry() = default;
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        ~Entry() {
            if (auto* object = static_cast<GObject*>(g_weak_ref_get(&instance))) {
                // A disposed object (a destroyed widget) has dropped its handlers already.
                if (g_signal_handler_is_connected(object, id)) g_signal_handler_disconnect(object, id);
                g_object_unref(object);
            }
            g_weak_ref_clear(&instance);
        }
    };
    std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace brindlemar::gtk
