// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/X11InputState.h"

#include <cstdlib>
#include <memory>

namespace rp {

namespace {

// A kept answer older than this is no longer the state "now".
constexpr std::chrono::milliseconds kFreshFor{5};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace

TX11InputState::TX11InputState(xcb_connection_t* connection, xcb_window_t root)
    : connection(connection), root(root) {}

TX11InputState::~TX11InputState() {
    Discard(pointer);
    Discard(keymap);
}

xcb_window_t TX11InputState::RootWindow(xcb_connection_t* connection, int screenNumber) {
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    const xcb_window_t first = screens.rem > 0 ? screens.data->root : xcb_window_t(XCB_WINDOW_NONE);
    for (int i = 0; screens.rem > 0; ++i, xcb_screen_next(&screens))
        if (i == screenNumber)
            return screens.data->root;
    return first;
}

bool TX11InputState::IsFresh(const Pending& pending) const {
    return pending.sent && Clock::now() - pending.at < kFreshFor;
}

void TX11InputState::Discard(Pending& pending) {
    if (pending.sent)
        xcb_discard_reply(connection, pending.sequence);
    pending.sent = false;
}

void TX11InputState::SendBoth() {
    Discard(pointer);
    Discard(keymap);
    const Clock::time_point now = Clock::now();
    pointer = {true, xcb_query_pointer(connection, root).sequence, now};
    keymap = {true, xcb_query_keymap(connection).sequence, now};
}

QPoint TX11InputState::Unanswered() {
    ++unansweredReads;
    return QPoint(-1, -unansweredReads);
}

QPoint TX11InputState::CursorPos() {
    if (!IsFresh(pointer))
        SendBoth();
    pointer.sent = false;
    const Reply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(connection, xcb_query_pointer_cookie_t{pointer.sequence}, nullptr));
    if (!reply)
        return Unanswered();
    return QPoint(reply->root_x, reply->root_y);
}

void TX11InputState::ReadKeyStates(KeyStates& states) {
    if (!IsFresh(keymap))
        SendBoth();
    keymap.sent = false;
    const Reply<xcb_query_keymap_reply_t> reply(
        xcb_query_keymap_reply(connection, xcb_query_keymap_cookie_t{keymap.sequence}, nullptr));
    states.fill(0);
    if (!reply) {
        states[0] = 0x80;
        return;
    }
    for (size_t key = 0; key < states.size(); ++key)
        if (reply->keys[key / 8] >> (key % 8) & 1)
            states[key] = 0x80;
}

} // namespace rp
