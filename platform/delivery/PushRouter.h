// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Chooses how each message leaves: an ntfy-...@ address goes to its push server,
// an Apprise URL to the apprise command, every other one is composed and handed
// to the profile's mail transport. Keeps
// a note of where the last message went, so the window can tell the user.

#include "platform/common/ProfileTypes.h"
#include "platform/delivery/AppriseSender.h"
#include "platform/delivery/MailTransport.h"
#include "platform/delivery/NtfyPublisher.h"

#include <memory>

namespace rp::mailstore {

// Where the last message the store sent went; serial 0 while none has gone.
struct TDeliveryNote {
    quint64 serial = 0;
    QString subject;
    QString where; // "sent to ntfy topic T on H", "handed to H", ...
};
TDeliveryNote LastDelivery();

class TPushRouter : public IMailTransport {
public:
    TPushRouter(const TMailStoreProfile& profile, std::shared_ptr<IMailTransport> mail);

    // An already composed message can only go by mail.
    QString Send(const TComposedMessage& message) override;
    // Refuses a recipient with a line break, and a push address or Apprise URL
    // that is not usable, before anything leaves: such a message goes nowhere else.
    QString SendMessage(const TOutgoingMessage& message) override;

private:
    QString SendThroughApprise(const TOutgoingMessage& message);

    TPushSettings push;
    TSendSettings send;
    std::shared_ptr<IMailTransport> mail;
    TNtfyPublisher publisher;
    TAppriseSender apprise;
};

// Where a message to `recipient` goes with this profile, in words that follow
// "Notices will be": "sent to ntfy topic T on H", "sent through Apprise to Gotify
// at H", "handed to smtp.example.org",
// "written to the local Outbox: ...", or "refused: " and the reason.
QString DescribeRoute(const TMailStoreProfile& profile, const QString& recipient);

// How the profile's mail transport delivers, in the same words.
QString MailRouteText(const TSendSettings& send);

} // namespace rp::mailstore
