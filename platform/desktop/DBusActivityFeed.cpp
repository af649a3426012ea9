// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/DBusActivityFeed.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace rp {

namespace {

// Long enough for a busy desktop, short enough never to stall a feed for long.
constexpr int kCallTimeoutMs = 250;

const QString kMutterService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString kMutterPath = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
const QString kMutterInterface = QStringLiteral("org.gnome.Mutter.IdleMonitor");

std::optional<QVariant> Call(const QString& service, const QString& path, const QString& interface,
                             const QString& method, const QVariantList& arguments = {}) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().first();
}

std::optional<std::chrono::milliseconds> MilliSeconds(const std::optional<QVariant>& value) {
    bool ok = false;
    const qulonglong ms = value ? value->toULongLong(&ok) : 0;
    if (!ok)
        return std::nullopt;
    return std::chrono::milliseconds(ms);
}

std::optional<std::chrono::milliseconds> MutterIdleTime() {
    return MilliSeconds(
        Call(kMutterService, kMutterPath, kMutterInterface, QStringLiteral("GetIdletime")));
}

// Runs a worker object's slots on a thread with an event loop of its own; the
// worker is deleted on that thread when the feed ends.
class TBusThreadFeed : public IActivityFeed {
public:
    TBusThreadFeed(QObject* worker, const char* begin) {
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
        QMetaObject::invokeMethod(worker, begin, Qt::QueuedConnection);
    }
    ~TBusThreadFeed() override {
        thread.quit();
        thread.wait();
    }

private:
    QThread thread;
};

} // namespace

class TMutterIdleWatcher : public QObject {
    Q_OBJECT
public:
    TMutterIdleWatcher(TActivityState& state, std::chrono::milliseconds threshold)
        : state(state), threshold(threshold) {}

public slots:
    void Begin() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        auto* watcher = new QDBusServiceWatcher(kMutterService, bus,
                                                QDBusServiceWatcher::WatchForUnregistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { state.SetLost(true); });
        // Connected before the first watch, so no firing is missed.
        if (!bus.connect(kMutterService, kMutterPath, kMutterInterface,
                         QStringLiteral("WatchFired"), this, SLOT(OnWatchFired(uint)))) {
            state.SetLost(true);
            return;
        }
        idleWatch = AddWatch(QStringLiteral("AddIdleWatch"),
                             {QVariant::fromValue(qulonglong(threshold.count()))});
        const auto idle = MutterIdleTime();
        if (!idleWatch || !idle) {
            state.SetLost(true);
            return;
        }
        // The idle watch fires when the idle time reaches the threshold, not when
        // it is there already.
        if (*idle >= threshold)
            WatchForInput();
    }

    void OnWatchFired(uint id) {
        if (id == idleWatch) {
            WatchForInput();
        } else if (id == activeWatch) {
            activeWatch = 0;
            state.Resumed();
        }
    }

private:
    // A user-active watch fires once, at the next input.
    void WatchForInput() {
        state.Idled();
        activeWatch = AddWatch(QStringLiteral("AddUserActiveWatch"), {});
        if (!activeWatch) {
            state.SetLost(true);
            return;
        }
        // Input between the idle event and the new watch would go unseen.
        const auto idle = MutterIdleTime();
        if (!idle || *idle < threshold)
            state.Resumed();
    }

    uint AddWatch(const QString& method, const QVariantList& arguments) {
        const auto id = Call(kMutterService, kMutterPath, kMutterInterface, method, arguments);
        return id ? id->toUInt() : 0;
    }

    TActivityState& state;
    std::chrono::milliseconds threshold;
    uint idleWatch = 0;
    uint activeWatch = 0;
};

class TLockWatcher : public QObject {
    Q_OBJECT
public:
    explicit TLockWatcher(TLockState& lock) : lock(lock) {}

public slots:
    void Begin() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        for (const auto& [service, path] : kLockers) {
            // Only the locker itself, by its name, can make the session locked.
            bus.connect(service, path, service, QStringLiteral("ActiveChanged"), this,
                        SLOT(OnActiveChanged(bool)));
        }
        for (const auto& [service, path] : kLockers) {
            const auto active = Call(service, path, service, QStringLiteral("GetActive"));
            if (active && active->toBool())
                lock.SetLocked(true);
        }
    }
    void OnActiveChanged(bool active) { lock.SetLocked(active); }

private:
    inline static const std::pair<QString, QString> kLockers[] = {
        {QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver")},
        {QStringLiteral("org.freedesktop.ScreenSaver"),
         QStringLiteral("/org/freedesktop/ScreenSaver")},
        {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/ScreenSaver")},
    };
    TLockState& lock;
};

namespace {

class TScreenSaverPoller : public IActivityFeed {
public:
    TScreenSaverPoller(TActivityState& state, std::chrono::milliseconds threshold,
                       std::chrono::milliseconds interval)
        : follower(state, threshold), interval(interval) {
        thread = std::thread([this] { Run(); });
    }
    ~TScreenSaverPoller() override {
        {
            std::lock_guard<std::mutex> hold(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }

    static std::optional<std::chrono::milliseconds> IdleTime() {
        const QString name = QStringLiteral("org.freedesktop.ScreenSaver");
        return MilliSeconds(Call(name, QStringLiteral("/org/freedesktop/ScreenSaver"), name,
                                 QStringLiteral("GetSessionIdleTime")));
    }

private:
    void Run() {
        std::unique_lock<std::mutex> hold(mutex);
        while (!stopping) {
            hold.unlock();
            follower.Sample(IdleTime(), std::chrono::steady_clock::now());
            hold.lock();
            wake.wait_for(hold, interval, [this] { return stopping; });
        }
    }

    TIdleTimeFollower follower;
    std::chrono::milliseconds interval;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

} // namespace

std::unique_ptr<IActivityFeed> StartMutterIdleFeed(TActivityState& state,
                                                   std::chrono::milliseconds threshold) {
    if (!MutterIdleTime())
        return nullptr;
    return std::make_unique<TBusThreadFeed>(new TMutterIdleWatcher(state, threshold), "Begin");
}

std::unique_ptr<IActivityFeed> StartScreenSaverIdleFeed(TActivityState& state,
                                                        std::chrono::milliseconds threshold,
                                                        std::chrono::milliseconds interval) {
    if (!TScreenSaverPoller::IdleTime())
        return nullptr;
    return std::make_unique<TScreenSaverPoller>(state, threshold, interval);
}

std::unique_ptr<IActivityFeed> StartLockWatch(TLockState& lock) {
    if (!QDBusConnection::sessionBus().isConnected())
        return nullptr;
    return std::make_unique<TBusThreadFeed>(new TLockWatcher(lock), "Begin");
}

} // namespace rp

#include "DBusActivityFeed.moc"
