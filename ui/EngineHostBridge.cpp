#include "ui/EngineHostBridge.h"

#include "wizard/CarrierDirectory.h"

#include <QThread>
#include <QWaitCondition>
#include <algorithm>

namespace rp {

// One engine thread waiting for its box.
struct TEngineHostBridge::TBoxRequest {
    QMutex lock;
    QWaitCondition done;
    bool finished = false;

    void Finish() {
        QMutexLocker guard(&lock);
        finished = true;
        done.wakeAll();
    }
    bool Finished() {
        QMutexLocker guard(&lock);
        return finished;
    }
    void Wait() {
        QMutexLocker guard(&lock);
        while (!finished)
            done.wait(&lock);
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
    QMutexLocker guard(&boxLock);
    if (closing)
        return nullptr;
    waitingBoxes.push_back(std::make_shared<TBoxRequest>());
    return waitingBoxes.back();
}

void TEngineHostBridge::Forget(const std::shared_ptr<TBoxRequest>& request) {
    QMutexLocker guard(&boxLock);
    std::erase(waitingBoxes, request);
}

void TEngineHostBridge::BeginClosing() {
    QMutexLocker guard(&boxLock);
    closing = true;
    for (const auto& request : waitingBoxes)
        request->Finish();
}

} // namespace rp
