// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/Keyring.h"

#include "engine/OutlookModel.h"
#include "platform/common/Files.h"
#include "platform/net/SignIn.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <memory>

#ifdef RINGPOST_HAVE_KEYCHAIN
#include <qt6keychain/keychain.h>
#endif

namespace rp::mailstore {

namespace {

[[maybe_unused]] constexpr int kKeyringWaitMs = 10000;
[[maybe_unused]] const char* const kService = "Ringpost Mail Store";

#ifdef RINGPOST_HAVE_KEYCHAIN
// Runs a keychain job to its end on this thread's event loop, or gives up after
// a while (no keyring daemon answers). The finished job comes back to be read;
// null when it did not finish (it then deletes itself whenever it ends).
template <class Job> std::unique_ptr<Job> RunJob(std::unique_ptr<Job> job) {
    QEventLoop loop;
    bool finished = false;
    QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kKeyringWaitMs, &loop, &QEventLoop::quit);
    job->setAutoDelete(false);
    job->start();
    if (!finished)
        loop.exec();
    if (!finished) {
        job.release()->setAutoDelete(true);
        return nullptr;
    }
    return job;
}
#endif

QString AccountOf(const QString& user, const QString& url) {
    return user + QLatin1Char('@') + QUrl(url.trimmed()).host();
}

} // namespace

namespace {

QByteArray FirstLine(const QByteArray& output) {
    const qsizetype lineEnd = output.indexOf('\n');
    QByteArray line = lineEnd < 0 ? output : output.left(lineEnd);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// What a failed command said first on its error output, cut to a line's length.
QString FirstErrorLine(QProcess& process) {
    for (const QByteArray& line : process.readAllStandardError().split('\n'))
        if (!line.trimmed().isEmpty())
            return QString::fromUtf8(line.trimmed().left(300));
    return {};
}

} // namespace

QString RunSecretCommand(const QString& command, int timeoutSeconds, const QString& what) {
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutSeconds * 1000)) {
        process.kill();
        process.waitForFinished(1000);
        throw ESignInError(QStringLiteral("The %1 did not finish within %2 seconds.")
                               .arg(what)
                               .arg(timeoutSeconds),
                           FirstErrorLine(process));
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw ESignInError(
            QStringLiteral("The %1 failed (exit code %2).").arg(what).arg(process.exitCode()),
            FirstErrorLine(process));
    return QString::fromUtf8(FirstLine(process.readAllStandardOutput()));
}

QString KeyringAccount(const TSendSettings& settings) {
    return AccountOf(settings.user, settings.url);
}

QString KeyringAccount(const TSourceSettings& settings) {
    return AccountOf(settings.user, settings.url);
}

QString ResolveLoginPassword(const TLogin& login) {
    if (login.user.isEmpty())
        return {};
    if (!login.password.isEmpty())
        return login.password;
    if (!login.passwordCommand.trimmed().isEmpty())
        return RunSecretCommand(login.passwordCommand, login.timeoutSeconds,
                                QStringLiteral("password command"));
    return ReadKeyringPassword(AccountOf(login.user, login.url));
}

QString ResolvePassword(const TSendSettings& settings) {
    return ResolveLoginPassword({settings.user, settings.password, settings.passwordCommand,
                                 settings.url, settings.timeoutSeconds});
}

QString ResolvePassword(const TSourceSettings& settings) {
    return ResolveLoginPassword({settings.user, settings.password, settings.passwordCommand,
                                 settings.url, settings.timeoutSeconds});
}

QString ReadKeyringPassword([[maybe_unused]] const QString& account) {
#ifdef RINGPOST_HAVE_KEYCHAIN
    auto request = std::make_unique<QKeychain::ReadPasswordJob>(QString::fromLatin1(kService));
    request->setKey(account);
    const auto job = RunJob(std::move(request));
    if (!job) {
        qCWarning(lcMailStore) << "The desktop keyring did not answer";
        return {};
    }
    if (job->error() != QKeychain::NoError) {
        qCWarning(lcMailStore).noquote()
            << "No password in the desktop keyring:" << job->errorString();
        return {};
    }
    return job->textData();
#else
    return {};
#endif
}

bool WriteKeyringPassword([[maybe_unused]] const QString& account,
                          [[maybe_unused]] const QString& password, QString* why) {
#ifdef RINGPOST_HAVE_KEYCHAIN
    auto request = std::make_unique<QKeychain::WritePasswordJob>(QString::fromLatin1(kService));
    request->setKey(account);
    request->setTextData(password);
    const auto job = RunJob(std::move(request));
    if (!job) {
        if (why)
            *why = QStringLiteral("the desktop keyring did not answer");
        return false;
    }
    if (job->error() != QKeychain::NoError) {
        if (why)
            *why = job->errorString();
        return false;
    }
    return true;
#else
    if (why)
        *why = QStringLiteral("this build has no keyring support");
    return false;
#endif
}

} // namespace rp::mailstore
