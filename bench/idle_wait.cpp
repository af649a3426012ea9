// How long the 30 000-poll idle wait before each notice takes against a real X
// server: every poll yields, reads the pointer and reads the key map, as the
// engine does. Run it on a display nobody touches, e.g. `xvfb-run -a idle_wait_bench`.
//
// Usage: idle_wait_bench [runs] [polls]

#include "platform/X11InputState.h"

#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Seconds = std::chrono::duration<double>;

// One whole wait; false when the user showed up, which spoils the measurement.
bool IdleWait(rp::IInputState& input, int polls) {
    const QPoint noted = input.CursorPos();
    rp::KeyStates keys{};
    for (int poll = 0; poll < polls; ++poll) {
        QThread::yieldCurrentThread();
        const QPoint cursor = input.CursorPos();
        input.ReadKeyStates(keys);
        if (cursor != noted ||
            std::any_of(keys.begin(), keys.end(), [](uint8_t k) { return k & 0x80; }))
            return false;
    }
    return true;
}

// The same wait with a round trip per request, for comparison.
bool IdleWaitOneRequestAtATime(xcb_connection_t* connection, xcb_window_t root, int polls) {
    for (int poll = 0; poll < polls; ++poll) {
        QThread::yieldCurrentThread();
        std::free(
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
        std::free(xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    }
    return xcb_connection_has_error(connection) == 0;
}

template <class Wait> double Median(int runs, const char* label, Wait wait) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const bool idle = wait();
        const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
        std::printf("%s run %d: %.3f s%s\n", label, run + 1, seconds, idle ? "" : " (input seen)");
        times.push_back(seconds);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int polls = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30000;
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "No X server to measure against (is DISPLAY set? try xvfb-run -a)\n");
        return 1;
    }
    const xcb_window_t root = rp::TX11InputState::RootWindow(connection, screen);
    double paired = 0;
    {
        rp::TX11InputState input(connection, root);
        paired = Median(runs, "paired requests", [&] { return IdleWait(input, polls); });
    }
    const double single = Median(runs, "one request at a time", [&] {
        return IdleWaitOneRequestAtATime(connection, root, polls);
    });
    std::printf("%d polls, median of %d runs: %.3f s (%.1f us per poll); one request at a time: "
                "%.3f s\n",
                polls, runs, paired, paired * 1e6 / polls, single);
    xcb_disconnect(connection);
    return 0;
}
