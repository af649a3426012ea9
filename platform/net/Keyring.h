// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The passwords of the profile's servers: Password=, else the first line
// PasswordCommand= prints, else the desktop keyring (through QtKeychain where the
// build has it) under the user and the server's host.

#include "platform/common/ProfileTypes.h"

#include <QString>

namespace rp::mailstore {

// The keyring entry of the profile's SMTP login: user and server.
QString KeyringAccount(const TSendSettings& settings);

// The keyring entry of a calendar, task or inbox server login.
QString KeyringAccount(const TSourceSettings& settings);

// What finding a password needs; the same for sending and for reading.
struct TLogin {
    QString user;
    QString password;
    QString passwordCommand;
    QString url;
    int timeoutSeconds = 30;
};
// The password; empty when there is no user. Throws EAutomationError when the
// password command fails or does not finish within the time-out.
QString ResolveLoginPassword(const TLogin& login);
// The first line a secret's command (`what`: "password command") prints, run by
// /bin/sh with no input; throws ESignInError (SignIn.h) when it fails or outlasts
// the time-out.
QString RunSecretCommand(const QString& command, int timeoutSeconds, const QString& what);
// The password of a calendar, task or inbox server (as ResolveLoginPassword).
QString ResolvePassword(const TSourceSettings& settings);
// The password for SMTP: Password, else the first line PasswordCommand prints,
// else the desktop keyring; empty when there is no user.
QString ResolvePassword(const TSendSettings& settings);

// The stored password, or empty when there is none or no keyring answers.
QString ReadKeyringPassword(const QString& account);
// True when the keyring took the password; `why` says what went wrong otherwise.
bool WriteKeyringPassword(const QString& account, const QString& password, QString* why);

} // namespace rp::mailstore
