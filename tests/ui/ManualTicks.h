// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Time for the window's timers that passes only when a test says so: every
// started ticker ticks once per whole interval, in time order, and a tick may
// let more time pass (as a modal box's loop would).

#include "ui/Ticker.h"

#include <QCoreApplication>
#include <algorithm>
#include <vector>

namespace rp::uitest {

class TManualTicks {
public:
    TTickerFactory Factory() {
        return [this](int intervalMs, std::function<void()> tick) -> std::unique_ptr<ITicker> {
            return std::make_unique<TTicker>(*this, intervalMs, std::move(tick));
        };
    }

    // Lets `milliseconds` pass; posted events are handled first, as a waiting
    // event loop would.
    void Advance(qint64 milliseconds) {
        QCoreApplication::sendPostedEvents();
        const qint64 end = now + milliseconds;
        while (TTicker* next = NextDue(end)) {
            now = next->due;
            next->due += next->intervalMs;
            next->tick();
            QCoreApplication::sendPostedEvents();
        }
        now = std::max(now, end);
    }

private:
    struct TTicker : ITicker {
        TTicker(TManualTicks& ticks, int intervalMs, std::function<void()> tick)
            : ticks(ticks), intervalMs(std::max(1, intervalMs)), tick(std::move(tick)) {
            ticks.tickers.push_back(this);
        }
        ~TTicker() override { std::erase(ticks.tickers, this); }
        void start() override {
            active = true;
            due = ticks.now + intervalMs;
        }
        void stop() override { active = false; }
        bool isActive() const override { return active; }
        int interval() const override { return intervalMs; }

        TManualTicks& ticks;
        const int intervalMs;
        std::function<void()> tick;
        bool active = false;
        qint64 due = 0;
    };

    TTicker* NextDue(qint64 end) const {
        TTicker* next = nullptr;
        for (TTicker* ticker : tickers)
            if (ticker->active && ticker->due <= end && (!next || ticker->due < next->due))
                next = ticker;
        return next;
    }

    qint64 now = 0;
    std::vector<TTicker*> tickers;
};

} // namespace rp::uitest
