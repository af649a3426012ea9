// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/OutlookModel.h"
#include "platform/delivery/MailTransport.h"

#include <QProcess>

namespace rp::mailstore {

namespace {

using outlook::EAutomationError;

QString FirstLine(const QByteArray& output) {
    return QString::fromLocal8Bit(output).trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
}

class TSendmailTransport : public IMailTransport {
public:
    explicit TSendmailTransport(const TSendSettings& settings) : settings(settings) {}

    QString Send(const TComposedMessage& message) override {
        QStringList arguments = QProcess::splitCommand(settings.command);
        if (arguments.isEmpty())
            throw EAutomationError(QStringLiteral("No sendmail command is configured."));
        const QString program = arguments.takeFirst();
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForStarted(settings.timeoutSeconds * 1000))
            throw EAutomationError(QStringLiteral("The sendmail command \"%1\" could not be "
                                                  "started: %2")
                                       .arg(program, process.errorString()));
        process.write(WithUnixLineEnds(message.text));
        process.closeWriteChannel();
        if (!process.waitForFinished(settings.timeoutSeconds * 1000)) {
            process.kill();
            process.waitForFinished(1000);
            throw EAutomationError(
                QStringLiteral("The sendmail command \"%1\" did not finish within %2 seconds.")
                    .arg(program)
                    .arg(settings.timeoutSeconds));
        }
        return Outcome(process, program);
    }

private:
    static QString Outcome(QProcess& process, const QString& program) {
        const QString complaint = FirstLine(process.readAllStandardError());
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            throw EAutomationError(
                QStringLiteral("The sendmail command \"%1\" failed (exit code %2)%3")
                    .arg(program)
                    .arg(process.exitCode())
                    .arg(complaint.isEmpty() ? QStringLiteral(".")
                                             : QStringLiteral(": ") + complaint));
        return QStringLiteral("The message was handed to \"%1\".").arg(program);
    }

    TSendSettings settings;
};

} // namespace

std::unique_ptr<IMailTransport> CreateSendmailTransport(const TSendSettings& settings) {
    return std::make_unique<TSendmailTransport>(settings);
}

} // namespace rp::mailstore
