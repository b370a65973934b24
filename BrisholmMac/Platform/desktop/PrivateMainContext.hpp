#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace vantrel::desktop {

// A GLib main context of one thread's own, that thread's default while it lives: what is started
// meanwhile (an asynchronous call, a signal subscription) completes only where this thread
// iterates it, so the thread waits for it without running, or depending on, anyone else's event
// loop.
class PrivateMainContext {
public:
    PrivateMainContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~PrivateMainContext() {
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    PrivateMainContext(const PrivateMainContext&) = delete;
    PrivateMainContext& operator=(const PrivateMainContext&) = delete;

    [[nodiscard]] GMainContext* get() const { return context_; }

    // Waits up to a tenth of a second for something to dispatch.
    void iterate() {
        GSource* timeout = g_timeout_source_new(100);
        g_source_set_callback(
            timeout, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(timeout, context_);
        g_main_context_iteration(context_, TRUE);
        g_source_destroy(timeout);
        g_source_unref(timeout);
    }

    // Iterates until done holds or deadline passes; whether done holds.
    bool iterateUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline) {
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            iterate();
        }
        return done();
    }

private:
    GMainContext* context_;
};

}  // namespace vantrel::desktop
