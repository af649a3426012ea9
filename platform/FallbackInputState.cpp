#include "platform/FallbackInputState.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariant>

namespace rp {

namespace {

// Long enough for a busy desktop, short enough never to stall the engine.
constexpr int kCallTimeoutMs = 250;

struct IdleTimeMethod {
    const char* service;
    const char* path;
    const char* interface;
    const char* method;
};

constexpr IdleTimeMethod kFreedesktop{"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                      "org.freedesktop.ScreenSaver", "GetSessionIdleTime"};
constexpr IdleTimeMethod kGnome{"org.gnome.Mutter.IdleMonitor",
                                "/org/gnome/Mutter/IdleMonitor/Core",
                                "org.gnome.Mutter.IdleMonitor", "GetIdletime"};

class TDBusIdleTime : public IIdleTimeSource {
public:
    explicit TDBusIdleTime(IdleTimeMethod method) : method(method) {}

    // The message is built per call, so any thread may ask.
    std::optional<std::chrono::milliseconds> IdleTime() override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return std::nullopt;
        const QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(method.service), QLatin1String(method.path),
            QLatin1String(method.interface), QLatin1String(method.method));
        const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        bool ok = false;
        const qulonglong ms = reply.arguments().first().toULongLong(&ok);
        if (!ok)
            return std::nullopt;
        return std::chrono::milliseconds(ms);
    }

private:
    IdleTimeMethod method;
};

} // namespace

std::unique_ptr<IIdleTimeSource> ProbeDesktopIdleTime() {
    for (const IdleTimeMethod& method : {kFreedesktop, kGnome}) {
        auto source = std::make_unique<TDBusIdleTime>(method);
        if (source->IdleTime())
            return source;
    }
    return nullptr;
}

TIdleTimeInputState::TIdleTimeInputState(std::unique_ptr<IIdleTimeSource> source, Clock clock,
                                         std::chrono::milliseconds minGap)
    : source(std::move(source)), clock(std::move(clock)), minGap(minGap) {}

bool TIdleTimeInputState::InputSinceLastAsk(std::optional<std::chrono::milliseconds> idle,
                                            std::chrono::steady_clock::time_point now) const {
    if (!idle)
        return true;
    if (!lastAsk)
        return false;
    return *idle < now - *lastAsk || *idle < lastIdle;
}

QPoint TIdleTimeInputState::CursorPos() {
    const auto now = clock();
    if (lastAsk && now - *lastAsk < minGap)
        return QPoint(lastAskFailed ? ++moves : moves, 0);
    const auto idle = source->IdleTime();
    if (InputSinceLastAsk(idle, now))
        ++moves;
    lastAsk = now;
    lastAskFailed = !idle;
    lastIdle = idle.value_or(std::chrono::milliseconds(0));
    return QPoint(moves, 0);
}

} // namespace rp
