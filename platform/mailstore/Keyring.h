#pragma once
// The desktop keyring (through QtKeychain where the build has it) for the SMTP
// password typed into the "Mail Store..." dialog.

#include "platform/mailstore/MailStoreProfile.h"

#include <QString>

namespace rp::mailstore {

// The keyring entry of the profile's SMTP login: user and server.
QString KeyringAccount(const TSendSettings& settings);

// The stored password, or empty when there is none or no keyring answers.
QString ReadKeyringPassword(const QString& account);
// True when the keyring took the password; `why` says what went wrong otherwise.
bool WriteKeyringPassword(const QString& account, const QString& password, QString* why);

} // namespace rp::mailstore
