// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/EngineFakes.h"

#include <cmath>

namespace rp::test {

// ---- FakeClock

FakeClock::FakeClock(TDateTime start) : msecs(std::llround(start * kMsecPerDay)) {}

TDateTime FakeClock::Now() {
    if (OnNow)
        OnNow();
    std::lock_guard lock(mutex);
    return msecs / kMsecPerDay;
}

int FakeClock::UtcOffsetSeconds() {
    std::lock_guard lock(mutex);
    return utcOffset;
}

void FakeClock::ChangeZone(int utcOffsetSeconds) {
    std::lock_guard lock(mutex);
    msecs += qint64(utcOffsetSeconds - utcOffset) * 1000;
    utcOffset = utcOffsetSeconds;
}

void FakeClock::Sleep(int milliseconds) {
    if (OnSleep)
        OnSleep(milliseconds);
    std::lock_guard lock(mutex);
    sleeps.append(milliseconds);
    if (!frozen)
        msecs += milliseconds;
}

void FakeClock::Yield() {
    std::lock_guard lock(mutex);
    ++yields;
}

void FakeClock::SetUtcOffsetSeconds(int seconds) {
    std::lock_guard lock(mutex);
    utcOffset = seconds;
}

void FakeClock::SetFrozen(bool value) {
    std::lock_guard lock(mutex);
    frozen = value;
}

void FakeClock::SetNow(TDateTime value) {
    std::lock_guard lock(mutex);
    msecs = std::llround(value * kMsecPerDay);
}

void FakeClock::Advance(qint64 milliseconds) {
    std::lock_guard lock(mutex);
    msecs += milliseconds;
}

QList<int> FakeClock::Sleeps() const {
    std::lock_guard lock(mutex);
    return sleeps;
}

int FakeClock::Yields() const {
    std::lock_guard lock(mutex);
    return yields;
}

// ---- FakeInput

QPoint FakeInput::CursorPos() {
    int read;
    {
        std::lock_guard lock(mutex);
        read = ++cursorReads;
    }
    if (OnCursorRead)
        OnCursorRead(read);
    std::lock_guard lock(mutex);
    return cursor;
}

void FakeInput::ReadKeyStates(KeyStates& states) {
    int read;
    {
        std::lock_guard lock(mutex);
        read = ++keyReads;
    }
    if (OnKeyRead)
        OnKeyRead(read);
    std::lock_guard lock(mutex);
    states = keys;
}

void FakeInput::SetCursor(QPoint position) {
    std::lock_guard lock(mutex);
    cursor = position;
}

void FakeInput::MoveCursor(int dx) {
    std::lock_guard lock(mutex);
    cursor.rx() += dx;
}

void FakeInput::SetKeyDown(int virtualKey, bool down) {
    std::lock_guard lock(mutex);
    keys.at(virtualKey) = down ? 0x80 : 0x00;
}

int FakeInput::CursorReads() const {
    std::lock_guard lock(mutex);
    return cursorReads;
}

int FakeInput::KeyReads() const {
    std::lock_guard lock(mutex);
    return keyReads;
}

// ---- FakeWakeEvent

bool FakeWakeEvent::WaitFor(int milliseconds) {
    int number;
    {
        std::lock_guard lock(mutex);
        waits.append(milliseconds);
        number = waits.size();
    }
    if (OnWait)
        OnWait(number, milliseconds);
    {
        std::lock_guard lock(mutex);
        if (signalled)
            return true;
        if (!movesClock)
            return false;
    }
    clock.Advance(milliseconds);
    return false;
}

void FakeWakeEvent::SetMovesClock(bool value) {
    std::lock_guard lock(mutex);
    movesClock = value;
}

void FakeWakeEvent::Set() {
    std::lock_guard lock(mutex);
    signalled = true;
}

void FakeWakeEvent::Reset() {
    std::lock_guard lock(mutex);
    signalled = false;
    ++resets;
}

bool FakeWakeEvent::IsSet() const {
    std::lock_guard lock(mutex);
    return signalled;
}

QList<int> FakeWakeEvent::Waits() const {
    std::lock_guard lock(mutex);
    return waits;
}

int FakeWakeEvent::Resets() const {
    std::lock_guard lock(mutex);
    return resets;
}

// ---- FakeRuntime

bool FakeRuntime::Initialize() {
    std::lock_guard lock(mutex);
    ++initializations;
    return !failEvery && !failing.contains(initializations);
}

void FakeRuntime::Uninitialize() {
    std::lock_guard lock(mutex);
    ++uninitializations;
}

int FakeRuntime::Initializations() const {
    std::lock_guard lock(mutex);
    return initializations;
}

int FakeRuntime::Uninitializations() const {
    std::lock_guard lock(mutex);
    return uninitializations;
}

void FakeRuntime::FailInitialize(QList<int> calls) {
    std::lock_guard lock(mutex);
    failing = std::move(calls);
}

void FakeRuntime::FailEveryInitialize() {
    std::lock_guard lock(mutex);
    failEvery = true;
}

// ---- FakeHost

namespace {

// A copy with its own buffer: the engine thread appends to the original, and a
// shared buffer's count is read without ordering when the append decides whether
// it may grow it in place.
template <class List> List OwnCopy(const List& list) {
    List copy = list;
    copy.detach();
    return copy;
}

} // namespace

SettingsRecord FakeHost::Settings() const {
    std::lock_guard lock(mutex);
    return settings;
}

QString FakeHost::RecipientAddress() const {
    std::lock_guard lock(mutex);
    return recipient;
}

void FakeHost::SetTaskRemindPeriod(int32_t value) {
    std::lock_guard lock(mutex);
    settings.TaskRemindPeriod = value;
    remindPeriodWrites.append(value);
}

void FakeHost::SetStatusText(const QString& text) {
    std::lock_guard lock(mutex);
    statusTexts.append(text);
}

void FakeHost::ReportSourceHealth(const QString& source, const QString& problem) {
    health.Report(source, problem);
}

void FakeHost::SetEngineRunning(bool running) {
    std::lock_guard lock(mutex);
    engineRunning = running;
    runningChanges.append(running);
}

void FakeHost::ShowErrorBox(const QString& text) {
    {
        std::lock_guard lock(mutex);
        errorBoxes.append(text);
    }
    if (OnErrorBox)
        OnErrorBox(text);
}

void FakeHost::SetSettings(const SettingsRecord& value) {
    std::lock_guard lock(mutex);
    settings = value;
}

void FakeHost::SetRecipient(const QString& address) {
    std::lock_guard lock(mutex);
    recipient = address;
}

QStringList FakeHost::StatusTexts() const {
    std::lock_guard lock(mutex);
    return OwnCopy(statusTexts);
}

QString FakeHost::LastStatus() const {
    std::lock_guard lock(mutex);
    return statusTexts.isEmpty() ? QString() : statusTexts.last();
}

bool FakeHost::EngineRunning() const {
    std::lock_guard lock(mutex);
    return engineRunning;
}

QList<bool> FakeHost::EngineRunningChanges() const {
    std::lock_guard lock(mutex);
    return OwnCopy(runningChanges);
}

QStringList FakeHost::ErrorBoxes() const {
    std::lock_guard lock(mutex);
    return OwnCopy(errorBoxes);
}

QList<int32_t> FakeHost::TaskRemindPeriodWrites() const {
    std::lock_guard lock(mutex);
    return OwnCopy(remindPeriodWrites);
}

} // namespace rp::test
