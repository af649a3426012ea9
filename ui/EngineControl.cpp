// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/EngineControl.h"

#include "engine/OutlookProcessor.h"
#include "engine/SystemSeams.h"
#include "platform/desktop/InputStateFactory.h"
#include "platform/mailstore/MailStoreFactory.h"

namespace rp {

namespace {

class TProcessorEngine : public IEngine {
public:
    TProcessorEngine(IEngineHost& host, TEngineDeps deps) : processor(&host, std::move(deps)) {}

    void Stop() override { processor.Stop(); }
    void SignalWake() override { processor.WakeEvent().Set(); }
    void QueueMessage(const QString& recipient, const QString& subject,
                      const QString& body) override {
        processor.QueueMessage(recipient, subject, body);
    }
    bool Debugging() const override { return processor.Debugging; }
    void SetDebugging(bool on) override { processor.Debugging = on; }

private:
    TOutlookProcessor processor;
};

TEngineDeps SystemEngineDeps(IEngineHost& host, QString& notice) {
    TEngineDeps deps;
    deps.Clock = std::make_unique<TSystemClock>();
    deps.Input = CreateInputState(&notice);
    deps.Wake = std::make_unique<TWakeEvent>(QLatin1String(WakeEventName));
    deps.Runtime = std::make_unique<TNullAutomationRuntime>();
    // A source's trouble stays in view while it lasts; the host outlives the engine.
    deps.Factory =
        CreateMailStoreFactory([&host](const QString& text) { host.SetStatusText(text); },
                               [&host](const QString& source, const QString& problem) {
                                   host.ReportSourceHealth(source, problem);
                               });
    deps.DataDir = QDir(QStringLiteral("."));
    return deps;
}

} // namespace

TEngineFactory SystemEngineFactory(std::function<void(const QString& notice)> showNotice) {
    return [showNotice](IEngineHost& host) -> std::unique_ptr<IEngine> {
        QString notice;
        auto engine = std::make_unique<TProcessorEngine>(host, SystemEngineDeps(host, notice));
        if (!notice.isEmpty() && showNotice)
            showNotice(notice);
        return engine;
    };
}

} // namespace rp
