// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The notification engine: a worker thread that scans the calendar, the task list
// and the inbox, sends the notices that are due while the user is away, and
// remembers what it sent in three state files.

#include "engine/EngineSeams.h"
#include "engine/OutlookModel.h"
#include "engine/ScanPass.h"
#include "engine/SortedList.h"
#include "engine/StateFiles.h"
#include "engine/TaskRules.h"
#include "engine/TrackedRecords.h"

#include <QDir>
#include <QLoggingCategory>
#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcTrace) // stands in for the system debugger output

namespace rp {

inline constexpr int ScanBatchLimit = 20;

// Everything the engine is handed. The engine owns the seams; the host outlives it.
struct TEngineDeps {
    std::unique_ptr<IClock> Clock;
    std::unique_ptr<IInputState> Input;
    std::unique_ptr<IWakeEvent> Wake;
    std::unique_ptr<IAutomationRuntime> Runtime;
    std::unique_ptr<outlook::IApplicationFactory> Factory;
    // Where the state files, text dumps and DEBUG.LOG live: the current directory.
    QDir DataDir = QDir(QStringLiteral("."));
    // Polls of the idle wait before a notice goes out.
    int IdlePolls = 30000;
};

class TOutlookProcessor : public QThread {
    Q_OBJECT
public:
    // Builds the engine and starts its thread. A null host is the wrong window:
    // nothing starts.
    TOutlookProcessor(IEngineHost* host, TEngineDeps deps);
    ~TOutlookProcessor() override;

    void Stop();
    // Queues the test message: the texts first, then TestPending, then the wake event.
    void QueueMessage(const QString& recipient, const QString& subject, const QString& body);
    IWakeEvent& WakeEvent() { return *deps.Wake; }

    std::atomic<bool> Debugging{false};
    bool Started() const { return started; }
    // Whether the thread body has ended. Read after a join, it also orders what
    // the thread wrote before what the caller reads next.
    bool BodyEnded() const { return bodyEnded.load(std::memory_order_acquire); }

protected:
    void run() override;

private:
    friend class TOutlookProcessorBenchAccess;

    // Thread body and its parts.
    void Execute();
    bool StartUp();
    void RunLoop(int& errorCount, int& passCount);
    void PollingCycle(int& errorCount, int& passCount);
    void FollowZoneChange();
    bool InsideDayWindow();
    void NoticePass(int& passCount);
    bool EveningNoticeDue();
    bool MorningNoticeDue();
    int WaitMilliseconds();
    void WaitForWake();
    void SendQueuedMessage();
    void ShutDown();
    bool HandleAutomationError(const outlook::EAutomationError& error, int& errorCount);
    void PauseBeforeRetry(int milliseconds);

    // Debug log and input.
    void DebugLog(const QString& text);
    void WriteDebugFile();
    bool AnyKeyDown();
    void Status(const QString& text) { host->SetStatusText(text); }
    SettingsRecord Settings() const { return host->Settings(); }
    TDateTime Now() { return deps.Clock->Now(); }
    std::unique_ptr<outlook::TOutlookApplication> NewOutlook();

    // State files.
    using TFileStep = std::function<void(const QString& path)>;
    void LoadStateFiles();
    void LoadStateFile(const QString& name, const TFileStep& load);
    void KeepUnreadable(const QString& name, const EStateFileError& error);
    void Hold(const QString& name, const QString& why);
    void SaveStateFiles();
    void SaveEachStateFile(); // without the "Unable to Save" guard
    void SaveStateFile(const QString& name, const TFileStep& save, QString& failure);
    void FollowSaveOutcome(const QString& failure);
    void ReportStateHealth();
    // Status bar and DEBUG.LOG, whether debugging is on or not.
    void Tell(const QString& text);
    QString DataPath(const QString& name) const { return deps.DataDir.filePath(name); }

    // Folders of the mail application.
    void OpenCalendarFolder();
    void OpenTasksFolder();
    void OpenInboxFolder();
    std::shared_ptr<outlook::MAPIFolder> DefaultFolder(int kind);

    // Scans.
    void ProcessCheckes();
    void CheckAppointments();
    void ScanAppointmentBatch(TDateTime reference);
    void EndAppointmentPass(int count);
    void CheckTasks();
    void EndTaskPass(int count);
    double PastDuePeriodSetting(const SettingsRecord& settings);
    void CheckUrgentEmail();

    // Dispatch.
    bool SendNewemail(const QString& recipient, const QString& subject, const QString& body);
    bool WaitUntilUserIdle();
    // Whether the notice went out.
    bool NotifyEvent(TEventItem& record);
    bool NotifyEventPrefixed(TEventItem& record, const QString& prefix);
    bool NotifyTask(TTaskEvent& record);
    bool SendNotice(const QString& subject);
    void HandleNotify();
    void HandleTaskNotify();
    void NotifyMorningFirstMeeting();
    void NotifyEveningFirstMeeting();
    void NotifyFirstMeetingBetween(TDateTime from, TDateTime to);

    IEngineHost* host;
    TEngineDeps deps;
    bool started = false;

public: // fields the window and the tests read
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> TestPending{false};

private:
    QStringList DebugLines;
    bool UserIdle = false;
    int32_t AppointmentScanPos = 0;
    int32_t TaskScanPos = 0;
    // The keys met since each scan last started at the top of its folder.
    TScanPass appointmentPass;
    TTaskPass taskPass;
    bool StateChanged = false;
    // State files left as they are while this engine runs, a newer version's or
    // one that could neither be read nor copied aside, each with why.
    QMap<QString, QString> heldStateFiles;
    // Why the last save round failed, until one succeeds; the records stay in
    // the lists meanwhile, so nothing is sent twice while the engine runs.
    QString stateTrouble;
    TDateTime NextMorningCheck = 0;
    TDateTime NextEveningCheck = 0;
    std::optional<int> UtcOffset; // as last seen, to notice a time zone change
    std::unique_ptr<outlook::TOutlookApplication> Outlook;
    TSortedList<TEventItem> Appointments;
    TSortedList<TTaskEvent> Tasks;
    TSortedList<TEmailItem> Emails;
    std::shared_ptr<outlook::MAPIFolder> CalendarFolder;
    std::shared_ptr<outlook::MAPIFolder> TasksFolder;
    std::shared_ptr<outlook::MAPIFolder> InboxFolder;
    QMutex SendLock;
    QMutex TestLock; // guards the three texts of the queued message
    QString TestRecipient;
    QString TestSubject;
    QString TestBody;
    bool runtimeInitialized = false;
    bool abandoned = false; // the runtime could not be set up again: end without shut-down
    // Released when the body ends and acquired after the join, so that what the
    // thread wrote is visibly ordered before what the joiner reads.
    std::atomic<bool> bodyEnded{false};
};

} // namespace rp
