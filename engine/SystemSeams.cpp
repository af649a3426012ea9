#include "engine/SystemSeams.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>

namespace rp {

TDateTime TSystemClock::Now() {
    return FromQDateTime(QDateTime::currentDateTime());
}

void TSystemClock::Sleep(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(std::max(milliseconds, 0)));
}

void TSystemClock::Yield() {
    QThread::yieldCurrentThread();
}

TWakeEvent::TWakeEvent(QString name) : name(std::move(name)) {}

bool TWakeEvent::WaitFor(int milliseconds) {
    QMutexLocker lock(&mutex);
    const QDeadlineTimer deadline(milliseconds);
    // Loop: a wait condition may wake without a Set.
    while (!signalled) {
        if (!signal.wait(&mutex, deadline))
            break;
    }
    return signalled;
}

void TWakeEvent::Set() {
    QMutexLocker lock(&mutex);
    signalled = true;
    signal.wakeAll();
}

void TWakeEvent::Reset() {
    QMutexLocker lock(&mutex);
    signalled = false;
}

} // namespace rp
