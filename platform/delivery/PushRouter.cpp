// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/delivery/PushRouter.h"

#include "engine/AppriseAddress.h"
#include "engine/OutlookModel.h"

#include <QMutex>
#include <QMutexLocker>
#include <QProcess>

namespace rp::mailstore {

namespace {

using outlook::EAutomationError;

QMutex noteLock;
TDeliveryNote lastNote;

void NoteDelivery(const QString& subject, const QString& where) {
    QMutexLocker lock(&noteLock);
    lastNote = {lastNote.serial + 1, subject, where};
}

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

void RefuseLineBreak(const QString& recipient) {
    if (HasLineBreak(recipient))
        throw EAutomationError(QStringLiteral("The recipient address \"%1\" holds a line break, "
                                              "which could add recipients of its own. The notice "
                                              "was not sent.")
                                   .arg(ShownAddress(recipient)));
}

bool GoesByPush(const TPushSettings& push, const QString& recipient) {
    return push.direct && IsPushAddress(recipient);
}

} // namespace

TDeliveryNote LastDelivery() {
    QMutexLocker lock(&noteLock);
    return lastNote;
}

TPushRouter::TPushRouter(const TMailStoreProfile& profile, std::shared_ptr<IMailTransport> mail)
    : push(profile.push), send(profile.send), mail(std::move(mail)),
      publisher(profile.push, profile.send.timeoutSeconds, profile.send.caFile),
      apprise(profile.send.timeoutSeconds) {}

QString TPushRouter::Send(const TComposedMessage& message) {
    return mail->Send(message);
}

QString TPushRouter::SendMessage(const TOutgoingMessage& message) {
    // An Apprise URL goes nowhere but to Apprise, whatever [Send] says.
    if (IsAppriseAddress(message.to))
        return SendThroughApprise(message);
    RefuseLineBreak(message.to);
    if (GoesByPush(push, message.to)) {
        const QString where =
            publisher.Publish(ParsePushAddress(message.to), message.subject, message.body);
        NoteDelivery(message.subject, where);
        return QStringLiteral("The push server took the message: %1").arg(where);
    }
    const QString answer = mail->Send(ComposeMessage(message));
    NoteDelivery(message.subject, MailRouteText(send));
    return answer;
}

QString TPushRouter::SendThroughApprise(const TOutgoingMessage& message) {
    const QString refusal = AppriseRefusal(push, message.to);
    if (!refusal.isEmpty())
        throw EAutomationError(refusal + QStringLiteral(" The notice was not sent."));
    const QString where = apprise.Send(message.to, NoticeText(message.subject, message.body));
    NoteDelivery(message.subject, where);
    return QStringLiteral("The message was %1.").arg(where);
}

QString MailRouteText(const TSendSettings& send) {
    switch (send.transport) {
    case TTransportKind::Smtp: {
        const QUrl url(send.url.trimmed());
        return QStringLiteral("handed to %1").arg(ShownServer(url));
    }
    case TTransportKind::Sendmail: {
        const QStringList words = QProcess::splitCommand(send.command);
        return QStringLiteral("handed to the sendmail command %1")
            .arg(words.isEmpty() ? QString() : words.first());
    }
    case TTransportKind::Outbox:
        break;
    }
    return QStringLiteral("written to the local Outbox: no mail server is set up (Settings > Mail "
                          "Store... sets one up)");
}

QString DescribeRoute(const TMailStoreProfile& profile, const QString& recipient) {
    if (IsAppriseAddress(recipient)) {
        const QString refusal = AppriseRefusal(profile.push, recipient);
        return refusal.isEmpty() ? AppriseRouteText(recipient)
                                 : QStringLiteral("refused: ") + refusal;
    }
    try {
        RefuseLineBreak(recipient);
        if (!GoesByPush(profile.push, recipient))
            return MailRouteText(profile.send);
        const TPushAddress address = ParsePushAddress(recipient);
        return PushRouteText(address.topic, PublishUrl(profile.push, address));
    } catch (const EAutomationError& error) {
        return QStringLiteral("refused: ") + error.Message();
    }
}

} // namespace rp::mailstore
