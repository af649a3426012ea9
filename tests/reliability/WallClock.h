// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The process in a given time zone, and a fake clock that shows the local wall time
// of a steadily running UTC timeline, as the system clock does across a
// daylight-saving changeover.

#include "tests/support/EngineHarness.h"

#include <QDateTime>
#include <QList>
#include <ctime>

namespace rp::test {

// The process's local time zone while it lives.
class LocalZone {
public:
    explicit LocalZone(const char* zone)
        : hadZone(qEnvironmentVariableIsSet("TZ")), savedZone(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone() {
        if (hadZone)
            qputenv("TZ", savedZone);
        else
            qunsetenv("TZ");
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    bool hadZone;
    QByteArray savedZone;
};

// Every sleep and wait of the engine moves a UTC instant on; the fake clock then
// shows that instant's local time, which jumps at the changeover.
class WallClock {
public:
    WallClock(TEngineHarness& harness, QDateTime start) : h(harness), utc(start.toUTC()) {
        h.clock.SetNow(FromQDateTime(utc));
        h.clock.OnSleep = [this](int milliseconds) { Pass(milliseconds); };
        h.wake.OnWait = [this](int, int milliseconds) {
            NoteSends();
            Pass(milliseconds);
        };
    }

    struct Send {
        QString subject;
        TDateTime at;
    };
    QList<Send> sends;

private:
    // The fake adds the milliseconds itself once the hook returns.
    void Pass(int milliseconds) {
        utc = utc.addMSecs(milliseconds);
        h.clock.SetNow(FromQDateTime(utc) - milliseconds / kMsecPerDay);
    }
    void NoteSends() {
        const auto sent = h.outlook->Sent();
        for (auto i = size_t(sends.size()); i < sent.size(); ++i)
            sends.append({sent[i].Subject, h.clock.Now()});
    }

    TEngineHarness& h;
    QDateTime utc;
};

} // namespace rp::test
