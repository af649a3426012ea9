// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/OutlookModel.h"
#include "platform/common/Files.h"
#include "platform/delivery/MailTransport.h"

#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <atomic>
#include <unistd.h>

namespace rp::mailstore {

namespace {

// Maildir's unique name: time, microseconds, process and a counter, then the host.
QString UniqueName() {
    static std::atomic<int> counter{0};
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QString host = QSysInfo::machineHostName();
    host.replace(QLatin1Char('/'), QLatin1String("\\057"))
        .replace(QLatin1Char(':'), QLatin1String("\\072"));
    return QStringLiteral("%1.M%2P%3Q%4.%5")
        .arg(now / 1000)
        .arg((now % 1000) * 1000)
        .arg(::getpid())
        .arg(++counter)
        .arg(host.isEmpty() ? QStringLiteral("localhost") : host);
}

class TOutboxTransport : public IMailTransport {
public:
    explicit TOutboxTransport(QString maildir) : maildir(std::move(maildir)) {}

    QString Send(const TComposedMessage& message) override {
        EnsureMaildir(maildir);
        const QString name = UniqueName();
        const QString temporary = maildir + QStringLiteral("/tmp/") + name;
        const QString delivered = maildir + QStringLiteral("/new/") + name;
        ReplaceFileAtomically(temporary, WithUnixLineEnds(message.text), 0600, true);
        if (::rename(QFile::encodeName(temporary).constData(),
                     QFile::encodeName(delivered).constData()) != 0) {
            const int error = errno;
            QFile::remove(temporary);
            throw outlook::EAutomationError(QStringLiteral("Cannot write to the outbox \"%1\": %2")
                                                .arg(maildir, SystemErrorText(error)));
        }
        return QStringLiteral("The message was written to the outbox: %1").arg(delivered);
    }

private:
    QString maildir;
};

} // namespace

std::unique_ptr<IMailTransport> CreateOutboxTransport(const QString& maildir) {
    return std::make_unique<TOutboxTransport>(maildir);
}

std::unique_ptr<IMailTransport> CreateTransport(const TSendSettings& settings) {
    switch (settings.transport) {
    case TTransportKind::Smtp:
        return CreateSmtpTransport(settings);
    case TTransportKind::Sendmail:
        return CreateSendmailTransport(settings);
    case TTransportKind::Outbox:
        break;
    }
    return CreateOutboxTransport(settings.outboxPath);
}

} // namespace rp::mailstore
