// SPDX-License-Identifier: GPL-3.0-or-later
// State files that cannot be read or written, with the engine running over them:
// nothing the user had is lost without a word, and nothing is sent twice.

#include "engine/SourceHealth.h"
#include "engine/StateFiles.h"
#include "tests/engine/NoticeFixture.h"
#include "tests/reliability/ReadOnlyFolder.h"

#include <QtEndian>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace rp::test {
namespace {

QByteArray Version(qint32 version) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(version, bytes.data());
    return bytes;
}

QByteArray NoiseBytes(int size) {
    QByteArray bytes(size, '\0');
    quint32 state = 0xdeadbeef;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

class StateFileTroubleTest : public NoticeFixture {
protected:
    StateFileTroubleTest() { h.clock.SetNow(Mar(4, 9, 0)); }

    int Count(const QStringList& texts, const QString& text) const { return texts.count(text); }
    // What the source-health panel shows for the state files, empty when they work.
    QString StateFilesHealth() const {
        for (const TSourceProblem& problem : h.host.Health().Problems())
            if (problem.source == QLatin1String(health::StateFiles))
                return problem.problem;
        return {};
    }
};

// TASK.CLD of random bytes, NOTIFY.CLD cut inside its third record (with an older
// copy of another file already kept beside it), EMAIL.CLD of a newer version.
TEST_F(StateFileTroubleTest, BadFilesAreKeptAsideOrLeftAloneAndTheRecordsThatReadAreUsed) {
    const QByteArray noise = NoiseBytes(1000);
    const QByteArray torn =
        Version(4) +
        EncodeRecord(Event(QStringLiteral("a sent"), Mar(4, 9, 15), Mar(4, 9, 0), true)) +
        EncodeRecord(Event(QStringLiteral("b due"), Mar(4, 9, 15), Mar(4, 9, 0))) +
        EncodeRecord(Event(QStringLiteral("c cut"), Mar(4, 9, 15), Mar(4, 9, 0))).left(100);
    const QByteArray newer = Version(9) + NoiseBytes(300);
    const QByteArray earlierCopy("an earlier unreadable NOTIFY.CLD");
    h.WriteFile(QStringLiteral("TASK.CLD"), noise);
    h.WriteFile(QStringLiteral("NOTIFY.CLD"), torn);
    h.WriteFile(QStringLiteral("NOTIFY.CLD.unreadable"), earlierCopy);
    h.WriteFile(QStringLiteral("EMAIL.CLD"), newer);
    DebugFromStartUp();
    RunNoticePasses(2);

    // Kept beside, each once, an earlier copy never overwritten.
    EXPECT_EQ(h.ReadFile(QStringLiteral("TASK.CLD.unreadable")), noise);
    EXPECT_EQ(h.ReadFile(QStringLiteral("NOTIFY.CLD.unreadable")), earlierCopy);
    EXPECT_EQ(h.ReadFile(QStringLiteral("NOTIFY.CLD.unreadable.1")), torn);
    EXPECT_FALSE(h.Exists(QStringLiteral("NOTIFY.CLD.unreadable.2")));
    // The records that read go on; the one sent already is not sent again.
    EXPECT_EQ(SentSubjects(), QStringList{"b due"});
    EXPECT_EQ(SavedMeetings(), (QStringList{"a sent (notified)", "b due (notified)"}));
    EXPECT_EQ(h.ReadFile(QStringLiteral("TASK.CLD")), Version(4));
    // A newer version's file is neither replaced nor copied.
    EXPECT_EQ(h.ReadFile(QStringLiteral("EMAIL.CLD")), newer);
    EXPECT_FALSE(h.Exists(QStringLiteral("EMAIL.CLD.unreadable")));

    // Told once each, in the status bar and in DEBUG.LOG.
    const QStringList told{
        "TASK.CLD could not be read (Stream read error); a copy was kept as "
        "TASK.CLD.unreadable and the records that could be read are used.",
        "NOTIFY.CLD could not be read (Stream read error); a copy was kept as "
        "NOTIFY.CLD.unreadable.1 and the records that could be read are used.",
        "EMAIL.CLD was written by a newer version of Ringpost (file version 9); it is left as "
        "it is and not saved while this version runs."};
    // Only the file left alone stays in view.
    EXPECT_EQ(StateFilesHealth(), told[2]);
    h.Destroy();
    for (const QString& text : told) {
        EXPECT_EQ(Count(h.host.StatusTexts(), text), 1) << text.toStdString();
        EXPECT_EQ(Count(h.DebugLogLines(), text), 1) << text.toStdString();
    }

    // A restart reads what was saved and sends nothing again; the newer file is
    // still left alone and said again.
    const int statusBefore = h.host.StatusTexts().size();
    h.wake.OnWait = nullptr;
    h.RunWaits(static_cast<int>(h.wake.Waits().size()) + 3);
    EXPECT_EQ(SentSubjects(), QStringList{"b due"});
    EXPECT_EQ(h.ReadFile(QStringLiteral("EMAIL.CLD")), newer);
    const QStringList restarted = h.host.StatusTexts().mid(statusBefore);
    EXPECT_EQ(Count(restarted, told[2]), 1);
    EXPECT_EQ(Count(restarted, told[0]) + Count(restarted, told[1]), 0);
}

// A data folder that cannot be written from the start: the reminder goes out
// once, the trouble stays in view until a save succeeds, and that save holds it.
// The status line keeps its usual texts.
TEST_F(StateFileTroubleTest, AnUnwritableFolderIsReportedUntilASaveSucceedsAndNothingRepeats) {
    h.SeedAppointments({Event(QStringLiteral("due"), Mar(4, 9, 15), Mar(4, 9, 0))});
    std::optional<ReadOnlyFolder> blocked;
    blocked.emplace(h.dir.path());
    if (!blocked->Blocks())
        GTEST_SKIP() << "the folder cannot be made read-only here";
    const QString trouble = QStringLiteral("The state cannot be saved: Cannot create file ");
    QStringList idleTexts;
    QStringList health;
    QStringList savedDuringFault;
    DebugFromStartUp();
    RunNoticePasses(4, [&](int pass) {
        idleTexts << h.host.LastStatus();
        health << StateFilesHealth();
        if (pass == 3) {
            savedDuringFault = SavedMeetings();
            blocked.reset();
        }
    });
    h.Destroy();

    EXPECT_EQ(SentSubjects(), QStringList{"due"});
    EXPECT_EQ(savedDuringFault, QStringList{"due"}); // the old file, whole
    EXPECT_EQ(SavedMeetings(), QStringList{"due (notified)"});
    // In view at every wait while the fault lasts, then gone.
    ASSERT_EQ(health.size(), 4);
    for (int wait : {0, 1, 2})
        EXPECT_TRUE(health[wait].startsWith(trouble)) << health[wait].toStdString();
    EXPECT_EQ(health[3], QString());
    EXPECT_EQ(idleTexts, QStringList(4, QStringLiteral("Processor Idle.")));
    // The first failure and the recovery are each logged once, the reason with it.
    const QStringList log = h.DebugLogLines();
    QStringList troubleLines;
    for (const QString& line : log)
        if (line.startsWith(QStringLiteral("The state")))
            troubleLines << line;
    ASSERT_EQ(troubleLines.size(), 2) << log.join(u'|').toStdString();
    const QString reason = QString::fromLocal8Bit(std::strerror(::geteuid() == 0 ? EPERM : EACCES));
    EXPECT_TRUE(troubleLines[0].startsWith(trouble)) << troubleLines[0].toStdString();
    EXPECT_TRUE(troubleLines[0].endsWith(
        QStringLiteral(".CLD (%1). Notices sent are remembered only until Ringpost ends.")
            .arg(reason)))
        << troubleLines[0].toStdString();
    EXPECT_EQ(troubleLines[1], QStringLiteral("The state files are saved again."));
}

} // namespace
} // namespace rp::test
