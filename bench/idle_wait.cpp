// SPDX-License-Identifier: GPL-3.0-or-later
// How long the 30 000-poll idle wait before each notice takes, and the CPU it
// costs: every poll yields, reads the pointer and reads the key map, as the engine
// does. Against a real X server (run it on a display nobody touches, e.g.
// `xvfb-run -a idle_wait_bench`), or with `wayland` against the idle notifications
// of the compositor on WAYLAND_DISPLAY.
//
// Usage: idle_wait_bench [runs] [polls] [x11|wayland]

#include "platform/desktop/ActivityInputState.h"
#include "platform/desktop/WaylandIdleFeed.h"
#include "platform/desktop/X11InputState.h"

#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median wall time of the runs; the median CPU time (all threads of the process,
// so a feed's own thread counts too) goes to `cpu`.
template <class Wait> double Median(int runs, const char* label, Wait wait, double* cpu = nullptr) {
    std::vector<double> times, cpuTimes;
    for (int run = 0; run < runs; ++run) {
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const bool idle = wait();
        const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
        cpuTimes.push_back(ProcessCpuSeconds() - cpuStart);
        std::printf("%s run %d: %.3f s, %.3f CPU s%s\n", label, run + 1, seconds, cpuTimes.back(),
                    idle ? "" : " (input seen)");
        times.push_back(seconds);
    }
    if (cpu)
        *cpu = MedianOf(cpuTimes);
    return MedianOf(times);
}

int MeasureWayland(int runs, int polls) {
    using namespace std::chrono_literals;
    rp::TActivityInputState input;
    QString protocol;
    auto feed = rp::StartWaylandIdleFeed(input.State(), 1000ms, &protocol);
    if (!feed) {
        std::fprintf(stderr, "No compositor with idle notifications on WAYLAND_DISPLAY\n");
        return 1;
    }
    input.Own(std::move(feed));
    // The wait is measured with the user away, as it runs before a send.
    for (int i = 0; i < 100 && !input.State().Idle(); ++i)
        QThread::msleep(50);
    double cpu = 0;
    const double wall = Median(
        runs, protocol.toUtf8().constData(), [&] { return IdleWait(input, polls); }, &cpu);
    std::printf("wayland %d polls, median of %d runs: %.3f s, %.3f CPU s (%s)\n", polls, runs, wall,
                cpu, protocol.toUtf8().constData());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int polls = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30000;
    if (argc > 3 && std::strcmp(argv[3], "wayland") == 0)
        return MeasureWayland(runs, polls);
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "No X server to measure against (is DISPLAY set? try xvfb-run -a)\n");
        return 1;
    }
    const xcb_window_t root = rp::TX11InputState::RootWindow(connection, screen);
    double paired = 0;
    double pairedCpu = 0;
    {
        rp::TX11InputState input(connection, root);
        paired = Median(
            runs, "paired requests", [&] { return IdleWait(input, polls); }, &pairedCpu);
    }
    const double single = Median(runs, "one request at a time", [&] {
        return IdleWaitOneRequestAtATime(connection, root, polls);
    });
    std::printf("%d polls, median of %d runs: %.3f s (%.1f us per poll), %.3f CPU s; one request "
                "at a time: %.3f s\n",
                polls, runs, paired, paired * 1e6 / polls, pairedCpu, single);
    xcb_disconnect(connection);
    return 0;
}
