// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's input state as the X server sees it: the pointer position on the root
// window and the 32-byte key map. Reads come from the engine thread over a
// connection the reader does not own (in the program, Qt's own; xcb connections
// may be used from several threads).

#include "engine/EngineSeams.h"

#include <chrono>
#include <xcb/xcb.h>

namespace rp {

class TX11InputState : public IInputState {
public:
    TX11InputState(xcb_connection_t* connection, xcb_window_t root);
    ~TX11InputState() override;
    TX11InputState(const TX11InputState&) = delete;
    TX11InputState& operator=(const TX11InputState&) = delete;

    // The root window of screen `screenNumber`, or of the first screen when there is
    // no such screen.
    static xcb_window_t RootWindow(xcb_connection_t* connection, int screenNumber);

    // When the server cannot answer, the pointer reads as moved on every call and a
    // key as down, so a lost server never makes the user look away.
    QPoint CursorPos() override;
    // A key whose bit is set in the key map has 0x80 in its state, indexed by X
    // keycode; the engine only asks whether any key is down.
    void ReadKeyStates(KeyStates& states) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        bool sent = false;
        unsigned int sequence = 0;
        Clock::time_point at;
    };
    bool IsFresh(const Pending& pending) const;
    void Discard(Pending& pending);
    void SendBoth();
    QPoint Unanswered();

    xcb_connection_t* connection;
    xcb_window_t root;
    // Each read asks for the pointer and the key map together, so the usual
    // pair of reads costs one round trip; the unused answer is kept briefly.
    Pending pointer;
    Pending keymap;
    int unansweredReads = 0;
};

} // namespace rp
