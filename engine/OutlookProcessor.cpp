// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/OutlookProcessor.h"

#include "engine/CycleRules.h"
#include "engine/DurableWrite.h"
#include "engine/SourceHealth.h"
#include "engine/StateFiles.h"
#include "engine/ZoneShift.h"

#include <QFile>
#include <QFileInfo>

Q_LOGGING_CATEGORY(lcTrace, "ringpost.trace")

namespace rp {

namespace {
constexpr int kStartUpPauseMs = 500;
// More automation errors in a row than this end the engine. With the pauses
// of RetryPauseMs, that is some forty minutes of a mail application that never answers,
// not a calendar file caught in the middle of being replaced.
constexpr int kMaxConsecutiveErrors = 10;
constexpr int kUrgentEmailEvery = 5;

const QString kTaskFile = QStringLiteral("TASK.CLD");
const QString kNotifyFile = QStringLiteral("NOTIFY.CLD");
const QString kEmailFile = QStringLiteral("EMAIL.CLD");

const QString kConnectFailureText = QStringLiteral("Unable initilize Outlook connection.\r\n"
                                                   "Please verify Outlook is installed\r\n"
                                                   "This program doesn't support Outlook Express");
} // namespace

// ---- construction and the window's calls

TOutlookProcessor::TOutlookProcessor(IEngineHost* host, TEngineDeps deps)
    : host(host), deps(std::move(deps)) {
    Outlook = NewOutlook();
    if (!host) {
        qCritical("ERROR IN PROCESSOR");
        return;
    }
    host->SetEngineRunning(true);
    started = true;
    start(QThread::LowPriority);
}

TOutlookProcessor::~TOutlookProcessor() {
    if (started) {
        // The window stops the engine first; asking again keeps a forgotten
        // Stop() from hanging the destructor.
        Stop();
        wait();
        bodyEnded.load(std::memory_order_acquire);
    }
    WriteDebugFile();
}

void TOutlookProcessor::Stop() {
    StopRequested = true;
    deps.Wake->Set();
}

void TOutlookProcessor::QueueMessage(const QString& recipient, const QString& subject,
                                     const QString& body) {
    {
        QMutexLocker lock(&TestLock);
        TestRecipient = recipient;
        TestSubject = subject;
        TestBody = body;
    }
    TestPending = true;
    deps.Wake->Set();
}

std::unique_ptr<outlook::TOutlookApplication> TOutlookProcessor::NewOutlook() {
    return std::make_unique<outlook::TOutlookApplication>(*deps.Factory);
}

// ---- the thread body

void TOutlookProcessor::run() {
    Execute();
    bodyEnded.store(true, std::memory_order_release);
}

void TOutlookProcessor::Execute() {
    int errorCount = 0;
    int passCount = 0;
    if (StartUp())
        RunLoop(errorCount, passCount);
    if (!abandoned)
        ShutDown();
}

bool TOutlookProcessor::StartUp() {
    DebugLines << QStringLiteral("Execute Start");
    DebugLines << QStringLiteral("Loading From Disk");
    LoadStateFiles();
    deps.Clock->Sleep(kStartUpPauseMs);
    DebugLog(QStringLiteral("Ok"));
    runtimeInitialized = deps.Runtime->Initialize();
    DebugLog(QStringLiteral("COI"));
    if (!runtimeInitialized) {
        StopRequested = true;
        host->ShowErrorBox(kConnectFailureText);
        return false;
    }
    DebugLog(QStringLiteral("Start Loop"));
    return true;
}

void TOutlookProcessor::RunLoop(int& errorCount, int& passCount) {
    while (!StopRequested) {
        try {
            PollingCycle(errorCount, passCount);
        } catch (const outlook::EAutomationError& error) {
            if (!HandleAutomationError(error, errorCount))
                return;
        } catch (const std::exception& error) {
            host->ShowErrorBox(QString::fromLocal8Bit(error.what()));
        }
    }
}

void TOutlookProcessor::PollingCycle(int& errorCount, int& passCount) {
    FollowZoneChange();
    ProcessCheckes();
    SaveStateFiles();
    if (TestPending)
        SendQueuedMessage();
    if (InsideDayWindow())
        NoticePass(passCount);
    Status(QStringLiteral("Processor Idle."));
    WaitForWake();
    if (TestPending)
        SendQueuedMessage();
    errorCount = 0;
}

// Before the scan meets the moved meetings under their new keys.
void TOutlookProcessor::FollowZoneChange() {
    const int offset = deps.Clock->UtcOffsetSeconds();
    if (UtcOffset && ShadowAnnouncedMeetings(Appointments, offset - *UtcOffset))
        DebugLog(QStringLiteral("Time zone changed: announced meetings kept announced"));
    UtcOffset = offset;
}

bool TOutlookProcessor::InsideDayWindow() {
    return rp::InsideDayWindow(Settings(), Now());
}

void TOutlookProcessor::NoticePass(int& passCount) {
    Status(QStringLiteral("Checking for current notifications."));
    StateChanged = false;
    if (UserIdle) {
        HandleNotify();
        HandleTaskNotify();
        if (EveningNoticeDue())
            NotifyEveningFirstMeeting();
        if (MorningNoticeDue())
            NotifyMorningFirstMeeting();
        if (Settings().UrgentEmail && passCount == 0)
            CheckUrgentEmail();
        passCount = (passCount + 1) % kUrgentEmailEvery;
    }
    if (StateChanged)
        SaveEachStateFile();
}

bool TOutlookProcessor::EveningNoticeDue() {
    return rp::EveningNoticeDue(Settings(), NextEveningCheck, Now());
}

bool TOutlookProcessor::MorningNoticeDue() {
    return rp::MorningNoticeDue(Settings(), NextMorningCheck, Now());
}

int TOutlookProcessor::WaitMilliseconds() {
    return rp::WaitMilliseconds(UserIdle, Settings(), Now());
}

// A cursor that stayed put and no key held down mean the user is away; how the
// wait ended does not matter.
void TOutlookProcessor::WaitForWake() {
    const QPoint before = deps.Input->CursorPos();
    deps.Wake->WaitFor(WaitMilliseconds());
    const QPoint after = deps.Input->CursorPos();
    const bool keyDown = AnyKeyDown();
    UserIdle = before == after && !keyDown;
    deps.Wake->Reset();
}

void TOutlookProcessor::SendQueuedMessage() {
    DebugLog(QStringLiteral("Sending Test"));
    QString recipient, subject, body;
    {
        QMutexLocker lock(&TestLock);
        recipient = TestRecipient;
        subject = TestSubject;
        body = TestBody;
    }
    Status(subject);
    SendNewemail(recipient, subject, body);
    TestPending = false;
}

bool TOutlookProcessor::HandleAutomationError(const outlook::EAutomationError& error,
                                              int& errorCount) {
    DebugLines << QStringLiteral("ERROR:") + error.Message();
    Status(error.Message());
    if (++errorCount > kMaxConsecutiveErrors)
        return false;
    deps.Runtime->Uninitialize();
    runtimeInitialized = deps.Runtime->Initialize();
    if (!runtimeInitialized) {
        // No shut-down: the thread ends here, without the final save.
        abandoned = true;
        host->SetEngineRunning(false);
        return false;
    }
    Outlook = NewOutlook();
    const int pause = RetryPauseMs(errorCount);
    Status(error.Message() + QStringLiteral(" Retrying in %1.").arg(PauseText(pause)));
    PauseBeforeRetry(pause);
    return true;
}

// On the wake event, so a stop or a queued message ends the pause at once.
void TOutlookProcessor::PauseBeforeRetry(int milliseconds) {
    if (StopRequested)
        return;
    deps.Wake->WaitFor(milliseconds);
    deps.Wake->Reset();
}

void TOutlookProcessor::ShutDown() {
    if (runtimeInitialized) {
        deps.Runtime->Uninitialize();
        runtimeInitialized = false;
    }
    DebugLog(QStringLiteral("Shutting Down"));
    // Guarded so that whatever happens here, the window still sees the engine end.
    SaveStateFiles();
    host->SetEngineRunning(false);
    DebugLog(QStringLiteral("Completed"));
}

// ---- debug log and input

void TOutlookProcessor::DebugLog(const QString& text) {
    if (!Debugging)
        return;
    DebugLines << text;
    WriteDebugFile();
}

void TOutlookProcessor::Tell(const QString& text) {
    Status(text);
    DebugLines << text;
    if (Debugging)
        WriteDebugFile();
}

void TOutlookProcessor::WriteDebugFile() {
    // The log names the user's meetings and recipients: readable by the user alone.
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    QFile file(DataPath(QStringLiteral("DEBUG.LOG")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, ownerOnly))
        return; // the log must never stop the engine
    file.setPermissions(ownerOnly);
    QByteArray content;
    for (const QString& line : std::as_const(DebugLines))
        content += line.toUtf8() + "\r\n";
    file.write(content);
}

bool TOutlookProcessor::AnyKeyDown() {
    KeyStates states{};
    deps.Input->ReadKeyStates(states);
    const bool down = AnyKeyHeld(states);
    if (down)
        UserIdle = false;
    return down;
}

// ---- state files

void TOutlookProcessor::LoadStateFiles() {
    try {
        LoadStateFile(kTaskFile, [this](const QString& path) { LoadTaskFile(path, Tasks); });
        LoadStateFile(kNotifyFile,
                      [this](const QString& path) { LoadNotifyFile(path, Appointments); });
        LoadStateFile(kEmailFile, [this](const QString& path) { LoadEmailFile(path, Emails); });
        ReportStateHealth();
    } catch (...) {
        DebugLog(QStringLiteral("Failed Load"));
    }
}

// A file that cannot be read is never replaced before a copy of it is safe; one
// that a newer version wrote is not replaced at all.
void TOutlookProcessor::LoadStateFile(const QString& name, const TFileStep& load) {
    try {
        load(DataPath(name));
    } catch (const ENewerStateFile& error) {
        Hold(name, QStringLiteral("%1 was written by a newer version of Ringpost (file version "
                                  "%2); it is left as it is and not saved while this version runs.")
                       .arg(name)
                       .arg(error.Version()));
    } catch (const EStateFileError& error) {
        KeepUnreadable(name, error);
    }
}

void TOutlookProcessor::Hold(const QString& name, const QString& why) {
    heldStateFiles.insert(name, why);
    Tell(why);
}

void TOutlookProcessor::KeepUnreadable(const QString& name, const EStateFileError& error) {
    const QString copy = KeepUnreadableCopy(DataPath(name));
    if (copy.isEmpty()) {
        Hold(name, QStringLiteral("%1 could not be read (%2) and no copy of it could be made; "
                                  "it is not replaced while Ringpost runs.")
                       .arg(name, error.Message()));
        return;
    }
    Tell(QStringLiteral("%1 could not be read (%2); a copy was kept as %3 and the records "
                        "that could be read are used.")
             .arg(name, error.Message(), QFileInfo(copy).fileName()));
}

void TOutlookProcessor::SaveEachStateFile() {
    QString failure;
    SaveStateFile(
        kTaskFile, [this](const QString& path) { SaveTaskFile(path, Tasks); }, failure);
    SaveStateFile(
        kNotifyFile, [this](const QString& path) { SaveNotifyFile(path, Appointments); }, failure);
    SaveStateFile(
        kEmailFile, [this](const QString& path) { SaveEmailFile(path, Emails); }, failure);
    FollowSaveOutcome(failure);
}

// A file that cannot be written shows why in the status bar; the other files and
// the engine go on.
void TOutlookProcessor::SaveStateFile(const QString& name, const TFileStep& save,
                                      QString& failure) {
    if (heldStateFiles.contains(name))
        return;
    try {
        save(DataPath(name));
    } catch (const EStateFileError& error) {
        Status(error.Message());
        if (failure.isEmpty())
            failure = error.Reason().isEmpty()
                          ? error.Message()
                          : QStringLiteral("%1 (%2)").arg(error.Message(), error.Reason());
    }
}

// Told when saving starts to fail, when the reason changes and when it works
// again; the source-health panel shows it meanwhile.
void TOutlookProcessor::FollowSaveOutcome(const QString& failure) {
    QString trouble;
    if (!failure.isEmpty())
        trouble = QStringLiteral("The state cannot be saved: %1. Notices sent are remembered "
                                 "only until Ringpost ends.")
                      .arg(failure);
    if (trouble != stateTrouble)
        Tell(trouble.isEmpty() ? QStringLiteral("The state files are saved again.") : trouble);
    stateTrouble = trouble;
    ReportStateHealth();
}

void TOutlookProcessor::ReportStateHealth() {
    QStringList problems = heldStateFiles.values();
    if (!stateTrouble.isEmpty())
        problems << stateTrouble;
    host->ReportSourceHealth(QLatin1String(health::StateFiles), problems.join(u' '));
}

void TOutlookProcessor::SaveStateFiles() {
    try {
        SaveEachStateFile();
    } catch (...) {
        DebugLog(QStringLiteral("Unable to Save"));
    }
}

// ---- folders of the mail application

std::shared_ptr<outlook::MAPIFolder> TOutlookProcessor::DefaultFolder(int kind) {
    const auto nameSpace = Outlook->App().GetNamespace(QStringLiteral("MAPI"));
    if (!nameSpace)
        throw outlook::EAutomationError(QStringLiteral("The MAPI namespace is not available."));
    return nameSpace->GetDefaultFolder(kind);
}

void TOutlookProcessor::OpenCalendarFolder() {
    if (auto folder = DefaultFolder(outlook::olFolderCalendar))
        CalendarFolder = std::move(folder);
}

void TOutlookProcessor::OpenTasksFolder() {
    if (auto folder = DefaultFolder(outlook::olFolderTasks))
        TasksFolder = std::move(folder);
}

void TOutlookProcessor::OpenInboxFolder() {
    if (auto folder = DefaultFolder(outlook::olFolderInbox))
        InboxFolder = std::move(folder);
}

} // namespace rp
