// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's calls into the window arrive on the GUI thread, and an error box
// the engine waits for never holds up the window's close.

#include "ui/EngineHostBridge.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace rp;

namespace {

class EngineHostBridgeTest : public ::testing::Test {
protected:
    TSharedSettings settings;
    QStringList statusTexts;
    QStringList boxTexts;
    QList<QThread*> handlerThreads;
    TEngineHostBridge bridge{settings,
                             [this](const QString& text) {
                                 statusTexts << text;
                                 handlerThreads << QThread::currentThread();
                             },
                             [this](const QString& text) {
                                 boxTexts << text;
                                 handlerThreads << QThread::currentThread();
                             }};

    // Runs `work` on a thread of its own, as the engine would.
    static std::thread OnEngineThread(std::function<void()> work) {
        return std::thread(std::move(work));
    }
};

TEST_F(EngineHostBridgeTest, StatusTextFromTheEngineThreadIsShownOnTheGuiThread) {
    auto engine =
        OnEngineThread([this] { bridge.SetStatusText(QStringLiteral("Processor Idle.")); });
    engine.join();
    EXPECT_TRUE(statusTexts.isEmpty()); // queued, not written from the other thread
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(statusTexts, QStringList{"Processor Idle."});
    EXPECT_EQ(handlerThreads, QList<QThread*>{QThread::currentThread()});
}

TEST_F(EngineHostBridgeTest, TheEngineWaitsForItsErrorBoxToClose) {
    std::atomic<bool> returned{false};
    auto engine = OnEngineThread([&] {
        bridge.ShowErrorBox(QStringLiteral("Stream read error"));
        returned = true;
    });
    QThread::msleep(50);
    EXPECT_FALSE(returned); // blocked until the GUI thread has shown the box
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
    engine.join();
    EXPECT_EQ(boxTexts, QStringList{"Stream read error"});
    EXPECT_EQ(handlerThreads, QList<QThread*>{QThread::currentThread()});
}

TEST_F(EngineHostBridgeTest, ClosingReleasesAWaitingEngineAndRefusesNewBoxes) {
    auto engine = OnEngineThread([this] { bridge.ShowErrorBox(QStringLiteral("first")); });
    QThread::msleep(50); // the GUI thread is busy: the box cannot be shown yet
    bridge.BeginClosing();
    engine.join();
    auto later = OnEngineThread([this] { bridge.ShowErrorBox(QStringLiteral("second")); });
    later.join();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(boxTexts.isEmpty());
}

TEST_F(EngineHostBridgeTest, RunningFlagAndRemindPeriodAreSafeFromTheEngineThread) {
    auto engine = OnEngineThread([this] {
        bridge.SetEngineRunning(true);
        bridge.SetTaskRemindPeriod(2);
        bridge.SetEngineRunning(false);
    });
    engine.join();
    EXPECT_FALSE(bridge.EngineRunning());
    EXPECT_EQ(settings.Snapshot().TaskRemindPeriod, 2);
}

} // namespace
