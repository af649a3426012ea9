// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A main window on a temporary settings file, with a fake engine, fake boxes, a
// fake wizard and fake help, driven without a real event loop or modal box.

#include "engine/EngineSeams.h"
#include "platform/gui/Help.h"
#include "platform/settings/RegistryFile.h"
#include "tests/ui/ManualTicks.h"
#include "ui/EngineControl.h"
#include "ui/MessageBoxes.h"
#include "ui/RingpostForm.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace rp::uitest {

struct TBoxCall {
    QString kind;
    QString text;
};

class TFakeBoxes : public IMessageBoxes {
public:
    void Information(const QString& text) override { Record(QStringLiteral("information"), text); }
    void Warning(const QString& text) override { Record(QStringLiteral("warning"), text); }
    void Error(const QString& text) override { Record(QStringLiteral("error"), text); }
    void Plain(const QString& text) override { Record(QStringLiteral("plain"), text); }
    bool Confirm(const QString& text) override {
        Record(QStringLiteral("confirm"), text);
        return confirmAnswer;
    }

    QStringList Texts() const {
        QStringList texts;
        for (const TBoxCall& call : calls)
            texts << call.text;
        return texts;
    }
    int Count(const QString& text) const { return Texts().count(text); }

    QList<TBoxCall> calls;
    bool confirmAnswer = true;
    int open = 0;
    int mostOpen = 0;
    // Runs while the box is "open", as a modal loop would let other events run.
    std::function<void()> whileOpen;

private:
    void Record(const QString& kind, const QString& text) {
        calls.append({kind, text});
        mostOpen = std::max(mostOpen, ++open);
        if (whileOpen)
            whileOpen();
        --open;
    }
};

// What the fake engines did; outlives them, since the window destroys its engine.
struct TEngineLog {
    int created = 0;
    int destroyed = 0;
    int stops = 0;
    int wakes = 0;
    bool debugging = false;
    // A stopped engine lets its running flag drop, as a finished thread does.
    bool dropsRunningOnStop = true;
    IEngineHost* host = nullptr;
    struct TMessage {
        QString recipient, subject, body;
    };
    QList<TMessage> messages;
};

class TFakeEngine : public IEngine {
public:
    TFakeEngine(IEngineHost& host, TEngineLog& log) : host(host), log(log) {
        ++log.created;
        log.host = &host;
        host.SetEngineRunning(true);
    }
    ~TFakeEngine() override { ++log.destroyed; }
    void Stop() override {
        ++log.stops;
        ++log.wakes;
        if (log.dropsRunningOnStop)
            host.SetEngineRunning(false);
    }
    void SignalWake() override { ++log.wakes; }
    void QueueMessage(const QString& recipient, const QString& subject,
                      const QString& body) override {
        log.messages.append({recipient, subject, body});
        ++log.wakes;
    }
    bool Debugging() const override { return log.debugging; }
    void SetDebugging(bool on) override { log.debugging = on; }

private:
    IEngineHost& host;
    TEngineLog& log;
};

class TFakeHelp : public IHelp {
public:
    void ShowContents() override { shown << -1; }
    void ShowTopic(int helpContext) override { shown << helpContext; }
    QList<int> shown;
};

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        registry = std::make_unique<TRegistryFile>(SettingsPath());
    }

    QString SettingsPath() const { return dir.filePath(QStringLiteral("Ringpost.reg")); }

    // A store as a finished wizard leaves it.
    void WriteConfiguredStore() {
        TRegistryFile file(SettingsPath());
        file.Reload();
        file.OpenKey(QLatin1String(SettingsKeyPath));
        file.WriteString(QStringLiteral("Version"), QLatin1String(SettingsVersion));
        for (const char* flag : {"MeetingNotify", "MorningNotify", "EveningNotify", "TaskNotify",
                                 "TaskPreNotify", "TaskReminder", "UrgentEmail"})
            file.WriteBool(QLatin1String(flag), false);
        file.WriteInteger(QStringLiteral("Top"), 40);
        file.WriteInteger(QStringLiteral("Left"), 60);
        file.WriteInteger(QStringLiteral("TaskRemindPeriod"), 2);
        file.WriteString(QStringLiteral("Pin"), QStringLiteral("5551234567"));
        file.WriteTime(QStringLiteral("EarlyTime"), 7.0 / 24);
        file.WriteTime(QStringLiteral("LateTime"), 19.0 / 24);
        file.WriteInteger(QStringLiteral("Service"), 4);
        file.WriteString(QStringLiteral("CustomAddr"), QString());
        file.WriteString(QStringLiteral("CustomEmail"), QString());
        file.Flush();
    }

    QByteArray StoreBytes() const {
        QFile file(SettingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A value as the next load would read it.
    QString Stored(const QString& name) const {
        TRegistryFile file(SettingsPath());
        file.Reload();
        file.OpenKey(QLatin1String(SettingsKeyPath));
        switch (file.ValueType(name)) {
        case TRegistryType::DWord:
            return QString::number(file.ReadInteger(name));
        case TRegistryType::String:
            return file.ReadString(name);
        default:
            return QStringLiteral("<none>");
        }
    }

    TRingpostDeps Deps() {
        TRingpostDeps deps;
        deps.Registry = registry.get();
        deps.Boxes = boxes;
        deps.Help = help;
        deps.CreateEngine = [this](IEngineHost& host) -> std::unique_ptr<IEngine> {
            return std::make_unique<TFakeEngine>(host, engine);
        };
        deps.ShowWizard = [this](IWizardOwner&) {
            wizardRequests.append(form && form->Processor() ? QStringLiteral("after engine")
                                                            : QStringLiteral("before engine"));
        };
        deps.TrayAvailable = [this] { return trayAvailable; };
        deps.Sleep = [this](int milliseconds) { sleptMs += milliseconds; };
        deps.CommandLine = commandLine;
        deps.Intervals = intervals;
        deps.CreateTicker = ticks.Factory();
        deps.FindDesktopCalendars = [this] {
            ++desktopLooks;
            return desktopOffer;
        };
        return deps;
    }

    // What the program entry does: create, show, and run the posted requests.
    void Start() {
        form = std::make_unique<TRingpostForm>(Deps());
        QObject::connect(form.get(), &TRingpostForm::Closed, [this] { ++closedSignals; });
        form->Create();
        form->show();
        RunPosted();
    }

    // Requests posted while requests run are handled too, as the event loop would.
    static void RunPosted() {
        for (int round = 0; round < 4; ++round)
            QCoreApplication::sendPostedEvents();
    }

    bool OnScreen() const { return form->isVisible() && !form->isMinimized(); }

    QTemporaryDir dir;
    std::unique_ptr<TRegistryFile> registry;
    std::shared_ptr<TFakeBoxes> boxes = std::make_shared<TFakeBoxes>();
    std::shared_ptr<TFakeHelp> help = std::make_shared<TFakeHelp>();
    TEngineLog engine;
    QStringList wizardRequests;
    bool trayAvailable = true;
    int sleptMs = 0;
    int closedSignals = 0;
    QString commandLine = QStringLiteral("/usr/bin/ringpost");
    TTimerIntervals intervals;
    TManualTicks ticks; // outlives the window's tickers
    // What the desktop's store offers; asked on a worker thread.
    TDesktopOffer desktopOffer;
    std::atomic<int> desktopLooks = 0;
    std::unique_ptr<TRingpostForm> form;
};

} // namespace rp::uitest
