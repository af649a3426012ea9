// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's repeating timers. In the program each is a QTimer; a test hands
// the window tickers of its own and lets time pass by hand.

#include <functional>
#include <memory>

namespace rp {

// Calls its tick every interval while started; the calls QTimer offers.
class ITicker {
public:
    virtual ~ITicker() = default;
    // (Re)starts the interval from now.
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual int interval() const = 0;
};

using TTickerFactory =
    std::function<std::unique_ptr<ITicker>(int intervalMs, std::function<void()> tick)>;

// A ticker on a QTimer of the calling thread's event loop.
std::unique_ptr<ITicker> CreateQtTicker(int intervalMs, std::function<void()> tick);

} // namespace rp
