// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/delivery/AppriseSender.h"

#include "engine/AppriseAddress.h"
#include "engine/OutlookModel.h"
#include "platform/delivery/MessageComposer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <algorithm>
#include <memory>

namespace rp::mailstore {

namespace {

using outlook::EAutomationError;

constexpr qsizetype kShownError = 300;
constexpr int kKillWaitMs = 2000;

int RemainingMs(const QDeadlineTimer& deadline) {
    return static_cast<int>(std::max<qint64>(1, deadline.remainingTime()));
}

QString FindApprise() {
    return QStandardPaths::findExecutable(QStringLiteral("apprise"));
}

QString NotInstalled(const QString& service) {
    return QStringLiteral("%1 addresses are sent through Apprise, which is not installed: "
                          "install the package apprise (sudo apt install apprise).")
        .arg(service);
}

// The URL reaches apprise as its configuration file: in the user's runtime folder
// where there is one, readable by the user alone, removed when the send ends.
std::unique_ptr<QTemporaryFile> PrivateUrlFile(const QString& url) {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::tempPath();
    auto file = std::make_unique<QTemporaryFile>(
        QDir(folder).filePath(QStringLiteral("ringpost-apprise-XXXXXX.conf")));
    const QByteArray line = url.trimmed().toUtf8() + '\n';
    if (!file->open() || !file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file->write(line) != line.size() || !file->flush())
        throw EAutomationError(QStringLiteral("The address for Apprise could not be written "
                                              "to a private file in %1: %2")
                                   .arg(folder, file->errorString()));
    return file;
}

// With -v apprise logs "DATE TIME - WARNING - text" on standard output; a Python
// failure ends standard error with its one-line reason.
QString FirstErrorLine(const QByteArray& output, const QByteArray& errors) {
    static const QRegularExpression logged(
        QStringLiteral("^[0-9-]+ [0-9:,]+ - (?:WARNING|ERROR|CRITICAL) - (.+)$"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch line = logged.match(QString::fromUtf8(output));
    if (line.hasMatch())
        return line.captured(1).trimmed();
    const QStringList lines =
        QString::fromUtf8(errors).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

QString Outcome(QProcess& process, const QString& url) {
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return AppriseRouteText(url);
    QString why = WithoutUrlSecrets(
        FirstErrorLine(process.readAllStandardOutput(), process.readAllStandardError()), url);
    if (why.isEmpty())
        why = process.exitStatus() == QProcess::NormalExit
                  ? QStringLiteral("apprise ended with exit status %1").arg(process.exitCode())
                  : QStringLiteral("apprise stopped unexpectedly");
    throw EAutomationError(QStringLiteral("%1 did not take the message: %2")
                               .arg(SplitAppriseUrl(url).service, OneLine(why).left(kShownError)));
}

} // namespace

QString AppriseRouteText(const QString& url) {
    const TAppriseUrl parts = SplitAppriseUrl(url);
    return QStringLiteral("sent through Apprise to ") + parts.service +
           (parts.host.isEmpty() ? QString() : QStringLiteral(" at ") + parts.host);
}

QString AppriseRefusal(const TPushSettings& push, const QString& url) {
    const QString problem = AppriseAddressProblem(url);
    if (!problem.isEmpty())
        return problem;
    const QString service = SplitAppriseUrl(url).service;
    if (!push.apprise)
        return QStringLiteral("Apprise=false in [Push] of the mail store profile sends %1 "
                              "addresses such as %2 nowhere; set it to true to send them.")
            .arg(service, MaskedRecipient(url));
    if (FindApprise().isEmpty())
        return NotInstalled(service);
    return {};
}

TAppriseSender::TAppriseSender(int timeoutSeconds) : timeoutSeconds(timeoutSeconds) {}

QString TAppriseSender::Send(const QString& url, const QString& text) const {
    const QString problem = AppriseAddressProblem(url);
    if (!problem.isEmpty())
        throw EAutomationError(problem + QStringLiteral(" The notice was not sent."));
    const QString service = SplitAppriseUrl(url).service;
    const QString program = FindApprise();
    if (program.isEmpty())
        throw EAutomationError(NotInstalled(service));
    const std::unique_ptr<QTemporaryFile> urlFile = PrivateUrlFile(url);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    process.setProcessEnvironment(environment);
    const QDeadlineTimer deadline(timeoutSeconds * 1000);
    process.start(program, {QStringLiteral("-v"), QStringLiteral("-c"), urlFile->fileName()});
    if (!process.waitForStarted(RemainingMs(deadline)))
        throw EAutomationError(QStringLiteral("%1 did not take the message: apprise could not be "
                                              "started: %2")
                                   .arg(service, process.errorString()));
    process.write(text.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished(RemainingMs(deadline))) {
        process.kill();
        process.waitForFinished(kKillWaitMs);
        throw EAutomationError(QStringLiteral("%1 did not take the message: no answer within %2 "
                                              "seconds (TimeoutSeconds= in [Send]), so apprise "
                                              "was stopped.")
                                   .arg(service)
                                   .arg(timeoutSeconds));
    }
    return Outcome(process, url);
}

} // namespace rp::mailstore
