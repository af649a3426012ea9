// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/EngineHostBridge.h"

#include "wizard/CarrierDirectory.h"

#include <QThread>
#include <algorithm>
#include <condition_variable>

namespace rp {

// One engine thread waiting for its box. Standard-library locks, so the thread
// sanitizer sees the hand-over.
struct TEngineHostBridge::TBoxRequest {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;

    void Finish() {
        std::lock_guard guard(lock);
        finished = true;
        done.notify_all();
    }
    bool Finished() {
        std::lock_guard guard(lock);
        return finished;
    }
    void Wait() {
        std::unique_lock guard(lock);
        done.wait(guard, [this] { return finished; });
    }
};

TEngineHostBridge::TEngineHostBridge(TSharedSettings& settings, TTextHandler showStatus,
                                     TTextHandler showErrorBox)
    : settings(settings), showStatus(std::move(showStatus)), showErrorBox(std::move(showErrorBox)) {
}

TEngineHostBridge::~TEngineHostBridge() {
    BeginClosing();
}

QString TEngineHostBridge::RecipientAddress() const {
    return rp::RecipientAddress(settings.Snapshot());
}

void TEngineHostBridge::SetTaskRemindPeriod(int32_t value) {
    settings.Update([value](SettingsRecord& record) { record.TaskRemindPeriod = value; });
}

bool TEngineHostBridge::OnGuiThread() const {
    return QThread::currentThread() == thread();
}

void TEngineHostBridge::SetStatusText(const QString& text) {
    if (OnGuiThread()) {
        showStatus(text);
        return;
    }
    // Dropped with the bridge if the window is already gone.
    QMetaObject::invokeMethod(
        this, [this, text] { showStatus(text); }, Qt::QueuedConnection);
}

void TEngineHostBridge::ReportSourceHealth(const QString& source, const QString& problem) {
    if (!health.Report(source, problem) || !healthChanged)
        return;
    if (OnGuiThread()) {
        healthChanged();
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { healthChanged(); }, Qt::QueuedConnection);
}

void TEngineHostBridge::ShowErrorBox(const QString& text) {
    if (OnGuiThread()) {
        showErrorBox(text);
        return;
    }
    const std::shared_ptr<TBoxRequest> request = Enqueue();
    if (!request)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, request, text] {
            if (!request->Finished())
                showErrorBox(text);
            request->Finish();
        },
        Qt::QueuedConnection);
    request->Wait();
    Forget(request);
}

std::shared_ptr<TEngineHostBridge::TBoxRequest> TEngineHostBridge::Enqueue() {
    std::lock_guard guard(boxLock);
    if (closing)
        return nullptr;
    waitingBoxes.push_back(std::make_shared<TBoxRequest>());
    return waitingBoxes.back();
}

void TEngineHostBridge::Forget(const std::shared_ptr<TBoxRequest>& request) {
    std::lock_guard guard(boxLock);
    std::erase(waitingBoxes, request);
}

void TEngineHostBridge::BeginClosing() {
    std::lock_guard guard(boxLock);
    closing = true;
    for (const auto& request : waitingBoxes)
        request->Finish();
}

} // namespace rp
