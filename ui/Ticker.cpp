// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Ticker.h"

#include <QTimer>

namespace rp {

namespace {

class TQtTicker : public ITicker {
public:
    TQtTicker(int intervalMs, std::function<void()> tick) {
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, std::move(tick));
    }
    void start() override { timer.start(); }
    void stop() override { timer.stop(); }
    bool isActive() const override { return timer.isActive(); }
    int interval() const override { return timer.interval(); }

private:
    QTimer timer;
};

} // namespace

std::unique_ptr<ITicker> CreateQtTicker(int intervalMs, std::function<void()> tick) {
    return std::make_unique<TQtTicker>(intervalMs, std::move(tick));
}

} // namespace rp
