// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the inbox needs of one received message, read from its header alone.

#include <QByteArray>
#include <QString>
#include <optional>

namespace rp::mailstore {

struct TMessageHeaders {
    QString subject;
    QString senderName;
    int importance = 1;
};

// The header block of a message file: everything up to the first empty line.
// Reads no further, so a huge message costs no more than a small one. Throws
// EAutomationError naming the file when it cannot be read; nullopt when it has
// gone (a mail program moved it meanwhile).
std::optional<QByteArray> ReadHeaderBlock(const QString& path);

// Subject and sender decoded (RFC 2047; the display name or else the address)
// and the importance (2 high, 0 low, else 1); nullopt when nothing could be made of it.
std::optional<TMessageHeaders> ParseHeaders(const QByteArray& headerBlock);

} // namespace rp::mailstore
