// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window as the engine sees it. The engine calls in from its own thread;
// everything that touches a widget is handed to the GUI thread, and the engine's
// error boxes are waited for without ever holding up the window's close.

#include "engine/EngineSeams.h"
#include "engine/SettingsRecord.h"
#include "engine/SourceHealth.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace rp {

class TEngineHostBridge : public QObject, public IEngineHost {
    Q_OBJECT
public:
    using TTextHandler = std::function<void(const QString& text)>;

    // `showStatus` and `showErrorBox` run on the GUI thread (the bridge's thread).
    TEngineHostBridge(TSharedSettings& settings, TTextHandler showStatus,
                      TTextHandler showErrorBox);
    ~TEngineHostBridge() override;

    SettingsRecord Settings() const override { return settings.Snapshot(); }
    QString RecipientAddress() const override;
    void SetTaskRemindPeriod(int32_t value) override;
    void SetStatusText(const QString& text) override;
    void SetEngineRunning(bool running) override { engineRunning = running; }
    // Blocks the calling engine thread until the box is closed, or until closing
    // has begun; once closing has begun no new box is shown.
    void ShowErrorBox(const QString& text) override;
    // From any thread; `healthChanged` then runs on the GUI thread.
    void ReportSourceHealth(const QString& source, const QString& problem) override;
    void OnHealthChanged(std::function<void()> handler) { healthChanged = std::move(handler); }
    const TSourceHealth& Health() const { return health; }

    bool EngineRunning() const { return engineRunning; }
    // The close sequence is about to wait for the engine: release every engine
    // thread waiting on a box and refuse new ones.
    void BeginClosing();

private:
    struct TBoxRequest;
    bool OnGuiThread() const;
    std::shared_ptr<TBoxRequest> Enqueue();
    void Forget(const std::shared_ptr<TBoxRequest>& request);

    TSharedSettings& settings;
    TTextHandler showStatus;
    TTextHandler showErrorBox;
    std::function<void()> healthChanged;
    TSourceHealth health;
    std::atomic<bool> engineRunning{false};
    std::mutex boxLock; // guards closing and waitingBoxes
    bool closing = false;
    std::vector<std::shared_ptr<TBoxRequest>> waitingBoxes;
};

} // namespace rp
