// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a composed message leaves: the outbox Maildir, an SMTP server or the
// local sendmail command.

#include "platform/common/ProfileTypes.h"
#include "platform/delivery/MessageComposer.h"

#include <memory>

namespace rp::mailstore {

class IMailTransport {
public:
    virtual ~IMailTransport() = default;
    // Hands the message over; returns the transport's answer in plain words.
    // Throws EAutomationError with a message a user understands on failure.
    virtual QString Send(const TComposedMessage& message) = 0;
    // The message before it is composed; a transport that needs its plain parts
    // (a push server) overrides this, every other one composes and sends.
    virtual QString SendMessage(const TOutgoingMessage& message) {
        return Send(ComposeMessage(message));
    }
};

std::unique_ptr<IMailTransport> CreateOutboxTransport(const QString& maildir);
std::unique_ptr<IMailTransport> CreateSmtpTransport(const TSendSettings& settings);
std::unique_ptr<IMailTransport> CreateSendmailTransport(const TSendSettings& settings);
// The transport the settings name.
std::unique_ptr<IMailTransport> CreateTransport(const TSendSettings& settings);

} // namespace rp::mailstore
