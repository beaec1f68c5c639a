// Ownership of GObject references made visible at the call: adopt() takes over a
// reference the caller already owns (what a *_new() or a getter marked "transfer
// full" returns), ref() adds one, sink() takes a new floating object (a widget not
// yet in a container) as our own.
#pragma once

#include <glib-object.h>

#include <utility>

namespace brindlemar::gtk {

template <typename T>
class GRef {
public:
    GRef() = default;
    GRef(const GRef& other) : ptr_(other.ptr_) {
        if (ptr_) g_object_ref(ptr_);
    }
    GRef(GRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    GRef& operator=(GRef other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~GRef() {
        if (ptr_) g_object_unref(ptr_);
    }

    static GRef adopt(T* p) {
        GRef r;
        r.ptr_ = p;
        return r;
    }
    static GRef ref(T* p) {
        if (p) g_object_ref(p);
        return adopt(p);
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    void reset() { GRef().swap(*this); }
    void swap(GRef& other) noexcept { std::swap(ptr_, other.ptr_); }

private:
    T* ptr_ = nullptr;
};

template <typename T>
GRef<T> adopt(T* p) {
    return GRef<T>::adopt(p);
}

template <typename T>
GRef<T> ref(T* p) {
    return GRef<T>::ref(p);
}

template <typename T>
GRef<T> sink(T* p) {
    return GRef<T>::adopt(static_cast<T*>(g_object_ref_sink(p)));
}

}  // namespace brindlemar::gtk
