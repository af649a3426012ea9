// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A notice turned into an RFC 5322 message.

#include <QByteArray>
#include <QList>
#include <QString>

namespace rp::mailstore {

struct TOutgoingMessage {
    QString from;
    QString to;
    QString subject;
    QString body;
};

struct TComposedMessage {
    QByteArray text;              // lines end in CR LF
    QByteArray envelopeFrom;      // the bare sender address
    QList<QByteArray> recipients; // the bare recipient addresses
};

// A header value on one line: each run of CR and LF becomes one space, so no
// value can ever start a header line of its own.
QString OneLine(const QString& value);

// The notice as one text, for a service that has no subject line: the subject,
// then the body on the next line where there is one.
QString NoticeText(const QString& subject, const QString& body);

// From, To, Subject (encoded when not ASCII, wholly when plain text would not
// read back unchanged), Date, Message-ID and a UTF-8 text body. Throws
// EAutomationError when there is no usable recipient or sender.
TComposedMessage ComposeMessage(const TOutgoingMessage& message);

// The message with LF line ends, as files and sendmail expect it.
QByteArray WithUnixLineEnds(const QByteArray& text);

} // namespace rp::mailstore
