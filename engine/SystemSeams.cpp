// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SystemSeams.h"

#include <QDateTime>
#include <QThread>
#include <algorithm>

namespace rp {

TDateTime TSystemClock::Now() {
    return FromQDateTime(QDateTime::currentDateTime());
}

int TSystemClock::UtcOffsetSeconds() {
    return QDateTime::currentDateTime().offsetFromUtc();
}

void TSystemClock::Sleep(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(std::max(milliseconds, 0)));
}

void TSystemClock::Yield() {
    QThread::yieldCurrentThread();
}

TWakeEvent::TWakeEvent(QString name) : name(std::move(name)) {}

bool TWakeEvent::WaitFor(int milliseconds) {
    std::unique_lock lock(mutex);
    return signal.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)),
                           [this] { return signalled; });
}

void TWakeEvent::Set() {
    {
        std::lock_guard lock(mutex);
        signalled = true;
    }
    signal.notify_all();
}

void TWakeEvent::Reset() {
    std::lock_guard lock(mutex);
    signalled = false;
}

} // namespace rp
