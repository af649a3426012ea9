// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Push delivery: a notice to ntfy-TOPIC@HOST (or ntfy-TOPIC+TOKEN@HOST, the form
// for a protected topic) is published to the ntfy server over HTTPS, so the
// phone's ntfy app shows it without any mail server in between.

#include "platform/common/ProfileTypes.h"

#include <QString>
#include <QUrl>
#include <optional>

namespace rp::mailstore {

struct TPushAddress {
    QString topic;
    QString token; // from "+TOKEN"; never shown or logged
    QString host;
};

// True when the address is meant for an ntfy server: its local part begins
// with "ntfy-". Such an address is either a valid push address or refused.
bool IsPushAddress(const QString& recipient);

// The parts of a push address; throws EAutomationError with the reason when the
// topic, token or host could reach anything but one topic on one server.
TPushAddress ParsePushAddress(const QString& recipient);

// The address as it may be shown, on one line: a "+TOKEN" part is replaced by
// "+...", an Apprise URL is its scheme and host.
QString ShownAddress(const QString& recipient);

// Where the address's topic is published: [Push] Server= or https://HOST, then the
// topic. Plain http:// only for a server on this computer; throws otherwise.
QUrl PublishUrl(const TPushSettings& push, const TPushAddress& address);

// The server as the user knows it: host and port, no scheme, path or token.
QString ShownServer(const QUrl& url);

// "sent to ntfy topic T on H": where a published notice went.
QString PushRouteText(const QString& topic, const QUrl& url);

// The keyring entry of an ntfy server's access token.
QString PushKeyringAccount(const QUrl& url);

class TNtfyPublisher {
public:
    TNtfyPublisher(TPushSettings push, int timeoutSeconds, QString caFile = {});

    // Publishes the subject (and the body, after it on its own line) to the
    // address's topic. Returns "sent to ntfy topic T on H"; throws
    // EAutomationError with a clear text for every answer but 2xx, for no answer
    // within the time-out, and for a redirect (never followed).
    QString Publish(const TPushAddress& address, const QString& subject, const QString& body);

private:
    struct TAnswer;
    TAnswer Post(const QUrl& url, const QByteArray& text, const QString& token) const;
    QString Token(const TPushAddress& address) const;
    QString KeyringToken(const QUrl& url);

    TPushSettings push;
    int timeoutSeconds;
    QString caFile;
    std::optional<QString> keyringToken; // asked once, only after a refusal
};

} // namespace rp::mailstore
