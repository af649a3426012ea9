// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/OutlookProcessor.h"

#include "engine/StateFiles.h"
#include "engine/ZoneShift.h"

#include <QFile>
#include <algorithm>

Q_LOGGING_CATEGORY(lcTrace, "ringpost.trace")

namespace rp {

namespace {
constexpr int kStartUpPauseMs = 500;
constexpr int kActiveWaitMs = 360000;
constexpr int kOutsideWindowWaitMs = 300000;
constexpr int kIdleWaitMs = 15000;
// More automation errors in a row than this end the engine. With the pauses
// below, that is some forty minutes of a mail application that never answers,
// not a calendar file caught in the middle of being replaced.
constexpr int kMaxConsecutiveErrors = 10;
// The pause before the next try after an automation error doubles from a few
// seconds up to ten minutes.
constexpr int kFirstRetryPauseMs = 5000;
constexpr int kLongestRetryPauseMs = 600000;
constexpr int kUrgentEmailEvery = 5;

const QString kConnectFailureText = QStringLiteral("Unable initilize Outlook connection.\r\n"
                                                   "Please verify Outlook is installed\r\n"
                                                   "This program doesn't support Outlook Express");
int RetryPauseMs(int errorCount) {
    qint64 pause = kFirstRetryPauseMs;
    for (int i = 1; i < errorCount && pause < kLongestRetryPauseMs; ++i)
        pause *= 2;
    return static_cast<int>(std::min<qint64>(pause, kLongestRetryPauseMs));
}

QString PauseText(int milliseconds) {
    const int seconds = milliseconds / 1000;
    if (seconds < 120)
        return QStringLiteral("%1 seconds").arg(seconds);
    return QStringLiteral("%1 minutes").arg((seconds + 30) / 60);
}

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
    return std::make_unique<outlook::TOutlookApplication>(
        *deps.Factory, outlook::TConnectKind::ckRunningOrNew, true, true);
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

// Both bounds strict: at exactly EarlyTime or LateTime no notice goes out.
bool TOutlookProcessor::InsideDayWindow() {
    const SettingsRecord settings = Settings();
    return TimeOfDay(settings.LateTime) > CurrentTimeOfDay() &&
           TimeOfDay(settings.EarlyTime) < CurrentTimeOfDay();
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

// The last 15 minutes before LateTime, once a day.
bool TOutlookProcessor::EveningNoticeDue() {
    const SettingsRecord settings = Settings();
    const double late = TimeOfDay(settings.LateTime);
    return settings.EveningNotify && Now() > NextEveningCheck && CurrentTimeOfDay() < late &&
           CurrentTimeOfDay() > late - kFifteenMinutes;
}

// The first 15 minutes after EarlyTime, once a day.
bool TOutlookProcessor::MorningNoticeDue() {
    const SettingsRecord settings = Settings();
    const double early = TimeOfDay(settings.EarlyTime);
    return settings.MorningNotify && Now() > NextMorningCheck && CurrentTimeOfDay() > early &&
           CurrentTimeOfDay() < early + kFifteenMinutes;
}

int TOutlookProcessor::WaitMilliseconds() {
    if (!UserIdle)
        return kActiveWaitMs;
    const SettingsRecord settings = Settings();
    if (CurrentTimeOfDay() > TimeOfDay(settings.LateTime))
        return kOutsideWindowWaitMs;
    if (CurrentTimeOfDay() < TimeOfDay(settings.EarlyTime))
        return kOutsideWindowWaitMs;
    return kIdleWaitMs;
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
    const bool down =
        std::any_of(states.begin(), states.end(), [](uint8_t state) { return state & 0x80; });
    if (down)
        UserIdle = false;
    return down;
}

double TOutlookProcessor::CurrentTimeOfDay() {
    return TimeOfDay(Now());
}

// ---- state files

void TOutlookProcessor::LoadTaskFile() {
    try {
        rp::LoadTaskFile(DataPath(QStringLiteral("TASK.CLD")), Tasks);
    } catch (const EStateFileError& error) {
        Status(error.Message());
    }
}

void TOutlookProcessor::LoadNotifyFile() {
    try {
        rp::LoadNotifyFile(DataPath(QStringLiteral("NOTIFY.CLD")), Appointments);
    } catch (const EStateFileError& error) {
        Status(error.Message());
    }
}

void TOutlookProcessor::LoadEmailFile() {
    try {
        rp::LoadEmailFile(DataPath(QStringLiteral("EMAIL.CLD")), Emails);
    } catch (const EStateFileError& error) {
        Status(error.Message());
    }
}

void TOutlookProcessor::SaveTaskFile() {
    try {
        rp::SaveTaskFile(DataPath(QStringLiteral("TASK.CLD")), Tasks);
    } catch (const EStateFileError& error) {
        Status(error.Message());
    }
}

void TOutlookProcessor::SaveNotifyFile() {
    try {
        rp::SaveNotifyFile(DataPath(QStringLiteral("NOTIFY.CLD")), Appointments);
    } catch (const EStateFileError& error) {
        Status(error.Message());
    }
}

void TOutlookProcessor::SaveEmailFile() {
    try {
        rp::SaveEmailFile(DataPath(QStringLiteral("EMAIL.CLD")), Emails);
    } catch (const EStateFileError& error) {
        Status(error.Message());
    }
}

void TOutlookProcessor::LoadStateFiles() {
    try {
        LoadTaskFile();
        LoadNotifyFile();
        LoadEmailFile();
    } catch (...) {
        DebugLog(QStringLiteral("Failed Load"));
    }
}

void TOutlookProcessor::SaveEachStateFile() {
    SaveTaskFile();
    SaveNotifyFile();
    SaveEmailFile();
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
