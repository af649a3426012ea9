// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/WaylandIdleFeed.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"

#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <wayland-client.h>

namespace rp {

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    ext_idle_notifier_v1* notifier = nullptr;
    org_kde_kwin_idle* kdeIdle = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (!globals->seat && std::strcmp(interface, wl_seat_interface.name) == 0)
        globals->seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
        globals->notifier = static_cast<ext_idle_notifier_v1*>(
            wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
        globals->kdeIdle = static_cast<org_kde_kwin_idle*>(
            wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

constexpr wl_registry_listener kRegistryListener{OnGlobal, OnGlobalRemove};

void OnIdled(void* data, ext_idle_notification_v1*) {
    static_cast<TActivityState*>(data)->Idled();
}
void OnResumed(void* data, ext_idle_notification_v1*) {
    static_cast<TActivityState*>(data)->Resumed();
}
constexpr ext_idle_notification_v1_listener kNotificationListener{OnIdled, OnResumed};

void OnKdeIdle(void* data, org_kde_kwin_idle_timeout*) {
    static_cast<TActivityState*>(data)->Idled();
}
void OnKdeResumed(void* data, org_kde_kwin_idle_timeout*) {
    static_cast<TActivityState*>(data)->Resumed();
}
constexpr org_kde_kwin_idle_timeout_listener kKdeTimeoutListener{OnKdeIdle, OnKdeResumed};

class TWaylandIdleFeed : public IActivityFeed {
public:
    TWaylandIdleFeed(wl_display* display, TActivityState& state)
        : display(display), state(state), stopFd(::eventfd(0, EFD_CLOEXEC)) {
        thread = std::thread([this] { Run(); });
    }
    ~TWaylandIdleFeed() override {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopFd, &one, sizeof one);
        thread.join();
        ::close(stopFd);
        // Ends the connection and with it every object made on it.
        wl_display_disconnect(display);
    }
    TWaylandIdleFeed(const TWaylandIdleFeed&) = delete;
    TWaylandIdleFeed& operator=(const TWaylandIdleFeed&) = delete;

private:
    // The usual prepare/read/dispatch loop, with a second descriptor to end it.
    void Run() {
        while (ReadOnce()) {
        }
    }

    bool ReadOnce() {
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0)
                return Lose();
        wl_display_flush(display);
        pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || fds[1].revents) {
            wl_display_cancel_read(display);
            return fds[1].revents ? false : Lose();
        }
        if (!(fds[0].revents & POLLIN)) {
            wl_display_cancel_read(display);
            return Lose();
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            return Lose();
        return true;
    }

    // A compositor gone is never a user gone; the feed waits only to be ended.
    bool Lose() {
        state.SetLost(true);
        pollfd stop{stopFd, POLLIN, 0};
        while (::poll(&stop, 1, -1) < 0) {
        }
        return false;
    }

    wl_display* display;
    TActivityState& state;
    int stopFd;
    std::thread thread;
};

} // namespace

std::unique_ptr<IActivityFeed> StartWaylandIdleFeed(TActivityState& state,
                                                    std::chrono::milliseconds threshold,
                                                    QString* protocol) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return nullptr;
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    const bool answered = wl_display_roundtrip(display) >= 0;
    const auto timeout = uint32_t(threshold.count());
    if (answered && globals.seat && globals.notifier) {
        ext_idle_notification_v1* notification =
            ext_idle_notifier_v1_get_idle_notification(globals.notifier, timeout, globals.seat);
        ext_idle_notification_v1_add_listener(notification, &kNotificationListener, &state);
        *protocol = QStringLiteral("ext-idle-notify-v1");
    } else if (answered && globals.seat && globals.kdeIdle) {
        org_kde_kwin_idle_timeout* watch =
            org_kde_kwin_idle_get_idle_timeout(globals.kdeIdle, globals.seat, timeout);
        org_kde_kwin_idle_timeout_add_listener(watch, &kKdeTimeoutListener, &state);
        *protocol = QStringLiteral("org_kde_kwin_idle");
    } else {
        wl_display_disconnect(display);
        return nullptr;
    }
    if (wl_display_roundtrip(display) < 0) {
        wl_display_disconnect(display);
        return nullptr;
    }
    return std::make_unique<TWaylandIdleFeed>(display, state);
}

} // namespace rp
