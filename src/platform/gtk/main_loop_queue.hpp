// Work queued for a later turn of the main loop, and lists of observers, both owned
// by one object: whatever it queued or registered goes with it, so no callback ever
// reaches an owner that is gone.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// Idle work owned by one object: what has not run when the owner goes is removed
// with it.
class MainLoopQueue {
public:
    MainLoopQueue() = default;
    MainLoopQueue(const MainLoopQueue&) = delete;
    MainLoopQueue& operator=(const MainLoopQueue&) = delete;
    ~MainLoopQueue() {
        for (guint id : pending_) g_source_remove(id);
    }

    void post(std::function<void()> work) {
        auto* entry = new Entry{this, 0, std::move(work)};
        entry->id = g_idle_add_full(G_PRIORITY_DEFAULT, &Entry::run, entry, &Entry::destroy);
        pending_.insert(entry->id);
    }

private:
    struct Entry {
        MainLoopQueue* queue;
        guint id;
        std::function<void()> work;

        static gboolean run(gpointer data) {
            auto* entry = static_cast<Entry*>(data);
            // Forget the id first: the work may destroy the queue.
            entry->queue->pending_.erase(entry->id);
            entry->work();
            return G_SOURCE_REMOVE;
        }
        static void destroy(gpointer data) { delete static_cast<Entry*>(data); }
    };

    std::set<guint> pending_;
};

// Observers of one kind of change, called in registration order. The owner holds the
// list; observations and calls under way hold it weakly, so an observer may remove
// others, or destroy the owner and the list with it: nothing more is called then.
class ObserverList {
public:
    std::unique_ptr<Observation> add(std::function<void()> changed) {
        const std::uint64_t id = state_->nextId++;
        state_->entries.emplace(id, std::move(changed));
        return std::make_unique<ListObservation>(state_, id);
    }

    // Calls every observer registered now. Safe to post: it holds the list weakly.
    std::function<void()> notifier() const {
        return [weak = std::weak_ptr<State>(state_)] { notifyAll(weak); };
    }

private:
    struct State {
        std::map<std::uint64_t, std::function<void()>> entries;
        std::uint64_t nextId = 1;
    };

    static void notifyAll(const std::weak_ptr<State>& weak) {
        std::vector<std::uint64_t> ids;
        if (auto state = weak.lock())
            for (const auto& entry : state->entries) ids.push_back(entry.first);
        for (std::uint64_t id : ids) {
            std::function<void()> call;
            {
                auto state = weak.lock();
                if (!state) return;
                auto it = state->entries.find(id);
                if (it == state->entries.end()) continue;
                call = it->second;
            }
            call();
        }
    }

    // An observation may outlive its list: it only holds it weakly.
    class ListObservation final : public Observation {
    public:
        ListObservation(std::weak_ptr<State> state, std::uint64_t id) : state_(std::move(state)), id_(id) {}
        ~ListObservation() override { invalidate(); }
        void invalidate() override {
            if (auto state = state_.lock()) state->entries.erase(id_);
            state_.reset();
        }

    private:
        std::weak_ptr<State> state_;
        std::uint64_t id_;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace brindlemar::gtk
