// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One logged-in IMAP connection. libcurl opens it (TLS or STARTTLS, certificate
// checks, login); the commands and their answers then go over the connection it
// hands back. Every wait is bounded: no byte for TimeoutSeconds ends the command.

#include "platform/common/ProfileTypes.h"
#include "platform/inbox/ImapResponse.h"

#include <QString>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

namespace rp::mailstore {

enum class TImapFailure {
    Unreachable, // not found, refused, timed out, connection dropped: try again later
    Login,       // user name or password refused
    Certificate, // the server's certificate is not trusted
    Insecure,    // no STARTTLS, or an unencrypted connection that is not allowed
    Refused,     // the server said NO or BAD to a command
    Malformed,   // an answer that could not be read, or far too large
    Settings,    // the profile's address cannot be used
    Stopped,     // the program is ending
};

class EImapError : public std::runtime_error {
public:
    EImapError(TImapFailure failure, const QString& message)
        : std::runtime_error(message.toStdString()), failure(failure), text(message) {}
    TImapFailure Failure() const { return failure; }
    const QString& Message() const { return text; }

private:
    TImapFailure failure;
    QString text;
};

// What the profile's [Inbox] Url says, checked.
struct TImapAddress {
    QString host;
    int port = 0;
    bool implicitTls = false;
    QByteArray mailbox = "INBOX";
    // host:port, for messages; never the user or a password.
    QString Server() const;
};

// Throws EImapError(Settings) for anything but imap:// or imaps:// with a host,
// and for StartTLS=false towards another machine.
TImapAddress ParseImapAddress(const TSourceSettings& settings);

// What the session cost, for the bench and the tests.
struct TImapTraffic {
    int connections = 0;
    int commands = 0;
    qint64 bytesSent = 0;
    qint64 bytesReceived = 0;
};

// What the login sends: a password, or an OAuth2 access token (libcurl picks
// OAUTHBEARER or XOAUTH2, whichever the server offers).
enum class TSecretKind { Password, AccessToken };

class TImapSession {
public:
    TImapSession(TSourceSettings settings, QString password,
                 const std::atomic<bool>* stop = nullptr, TSecretKind kind = TSecretKind::Password);
    ~TImapSession();
    TImapSession(const TImapSession&) = delete;
    TImapSession& operator=(const TImapSession&) = delete;

    void Connect();
    bool Connected() const { return curl != nullptr; }
    void Disconnect();

    // Sends one command and returns the untagged responses that came before its
    // tagged OK; throws EImapError on NO, BAD, BYE or a broken connection (and
    // is disconnected then).
    std::vector<TImapResponse> Command(const QByteArray& command);

    bool HasCapability(const QByteArray& name) const;
    const TImapAddress& Address() const { return address; }
    const TImapTraffic& Traffic() const { return traffic; }

private:
    void Send(const QByteArray& bytes);
    TImapResponse Receive(qint64& commandBytes);
    void WaitForData(bool forWriting);
    void NoteCapabilities(const TImapResponse& response);
    [[noreturn]] void FailToConnect(int code, const QByteArray& lastLine, bool offersOAuth2,
                                    const QString& detail);
    [[noreturn]] void FailToSignIn(const QByteArray& lastLine, bool offersOAuth2);
    [[noreturn]] void Fail(TImapFailure failure, const QString& message);

    TSourceSettings settings;
    QString password;
    const std::atomic<bool>* stop;
    TSecretKind secretKind;
    TImapAddress address;
    void* curl = nullptr;
    TImapReader reader;
    std::vector<QByteArray> capabilities;
    int nextTag = 1;
    TImapTraffic traffic;
};

} // namespace rp::mailstore
