// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/delivery/MessageComposer.h"

#include "engine/OutlookModel.h"
#include "platform/common/GMimeSetup.h"

#include <QRegularExpression>
// GLib names a struct member "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <gmime/gmime.h>
#pragma pop_macro("signals")

namespace rp::mailstore {

using outlook::EAutomationError;

namespace {

template <class T> struct TGObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <class T> using TGObjectPtr = std::unique_ptr<T, TGObjectDeleter<T>>;

struct TFormatDeleter {
    void operator()(GMimeFormatOptions* options) const { g_mime_format_options_free(options); }
};

QList<QByteArray> Mailboxes(InternetAddressList* list) {
    QList<QByteArray> result;
    for (int i = 0; list && i < internet_address_list_length(list); ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (!INTERNET_ADDRESS_IS_MAILBOX(address))
            continue;
        const QByteArray bare(
            internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(address)));
        if (bare.contains('@') && !bare.startsWith('@') && !bare.endsWith('@'))
            result << bare;
    }
    return result;
}

// Parses `text` into the message's address header of `type`; the bare addresses.
QList<QByteArray> AddAddresses(GMimeMessage* message, GMimeAddressType type, const QString& text) {
    TGObjectPtr<InternetAddressList> parsed(
        internet_address_list_parse(nullptr, OneLine(text).toUtf8().constData()));
    const QList<QByteArray> bare = Mailboxes(parsed.get());
    if (parsed && !bare.isEmpty())
        internet_address_list_append(g_mime_message_get_addresses(message, type), parsed.get());
    return bare;
}

QByteArray DomainOf(const QByteArray& address) {
    const qsizetype at = address.lastIndexOf('@');
    return at >= 0 ? address.mid(at + 1) : QByteArrayLiteral("localhost");
}

void SetBody(GMimeMessage* message, const QString& body) {
    GMimeTextPart* part = g_mime_text_part_new_with_subtype("plain");
    g_mime_text_part_set_text(part, body.toUtf8().constData());
    g_mime_text_part_set_charset(part, "utf-8");
    g_mime_part_set_content_encoding(
        GMIME_PART(part),
        g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
    g_mime_message_set_mime_part(message, GMIME_OBJECT(part));
    g_object_unref(part);
}

void SetDateAndId(GMimeMessage* message, const QByteArray& senderAddress) {
    GDateTime* now = g_date_time_new_now_local();
    g_mime_message_set_date(message, now);
    g_date_time_unref(now);
    char* id = g_mime_utils_generate_message_id(DomainOf(senderAddress).constData());
    g_mime_message_set_message_id(message, id);
    g_free(id);
}

// A raw header value: a space after the colon, lines folded with LF and a space.
QByteArray Unfolded(const char* raw) {
    QByteArray value(raw);
    value.replace('\r', QByteArray()).replace('\n', QByteArray());
    return value.startsWith(' ') ? value.mid(1) : value;
}

bool ReadsBackAs(const char* raw, const QByteArray& text) {
    char* decoded = g_mime_utils_header_decode_text(nullptr, Unfolded(raw).constData());
    const bool same = text == decoded;
    g_free(decoded);
    return same;
}

// One UTF-8 character from `at` on, in RFC 2047 "Q" form: a space is "_",
// letters and digits stay, every other byte is "=XX". Moves `at` past it.
QByteArray QEncodedCharacter(const QByteArray& text, qsizetype& at) {
    QByteArray encoded;
    do {
        const auto byte = static_cast<uchar>(text[at++]);
        if (byte == ' ')
            encoded += '_';
        else if (g_ascii_isalnum(byte))
            encoded += static_cast<char>(byte);
        else
            encoded += '=' + QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
    } while (at < text.size() && (static_cast<uchar>(text[at]) & 0xC0) == 0x80);
    return encoded;
}

// Encoded words of at most 75 characters, one to a line, each holding whole
// characters. "Q" rather than Base64: GMime joins the payloads of adjacent
// words before decoding, and a padded Base64 word would end the text there.
QByteArray EncodedWords(const QByteArray& text) {
    constexpr qsizetype kMaxPayload = 75 - 12; // the rest is "=?UTF-8?Q?" and "?="
    QByteArray raw;
    QByteArray payload;
    for (qsizetype at = 0; at < text.size();) {
        const QByteArray character = QEncodedCharacter(text, at);
        if (payload.size() + character.size() > kMaxPayload) {
            raw += " =?UTF-8?Q?" + payload + "?=\n";
            payload.clear();
        }
        payload += character;
    }
    return raw + " =?UTF-8?Q?" + payload + "?=\n";
}

// The subject is a tracked key and must arrive unchanged, but GMime trims the
// value and a plain "=?...?=" in it would be decoded on arrival. Such a subject
// goes out wholly encoded; every other one stays readable as plain text.
void SetSubject(GMimeMessage* message, const QString& subject) {
    const QByteArray text = OneLine(subject).toUtf8();
    g_mime_message_set_subject(message, text.constData(), "utf-8");
    GMimeHeader* header = g_mime_header_list_get_header(
        g_mime_object_get_header_list(GMIME_OBJECT(message)), "Subject");
    if (!text.isEmpty() && !ReadsBackAs(g_mime_header_get_raw_value(header), text))
        g_mime_header_set_raw_value(header, EncodedWords(text).constData());
}

QByteArray Serialized(GMimeMessage* message) {
    std::unique_ptr<GMimeFormatOptions, TFormatDeleter> options(g_mime_format_options_new());
    g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
    char* text = g_mime_object_to_string(GMIME_OBJECT(message), options.get());
    QByteArray result(text);
    g_free(text);
    return result;
}

} // namespace

QString OneLine(const QString& value) {
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n]+"));
    QString line = value;
    line.replace(breaks, QStringLiteral(" "));
    return line;
}

QString NoticeText(const QString& subject, const QString& body) {
    return body.isEmpty() ? subject : subject + QLatin1Char('\n') + body;
}

TComposedMessage ComposeMessage(const TOutgoingMessage& outgoing) {
    EnsureGMime();
    if (OneLine(outgoing.to).trimmed().isEmpty())
        throw EAutomationError(QStringLiteral("The message has no recipient."));
    TGObjectPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    TComposedMessage composed;
    const QList<QByteArray> senders =
        AddAddresses(message.get(), GMIME_ADDRESS_TYPE_FROM, outgoing.from);
    if (senders.isEmpty())
        throw EAutomationError(
            QStringLiteral("The sender address \"%1\" is not a valid e-mail address.")
                .arg(OneLine(outgoing.from)));
    composed.envelopeFrom = senders.first();
    composed.recipients = AddAddresses(message.get(), GMIME_ADDRESS_TYPE_TO, outgoing.to);
    if (composed.recipients.isEmpty())
        throw EAutomationError(
            QStringLiteral("The recipient address \"%1\" is not a valid e-mail address.")
                .arg(OneLine(outgoing.to)));
    SetSubject(message.get(), outgoing.subject);
    SetDateAndId(message.get(), composed.envelopeFrom);
    SetBody(message.get(), outgoing.body);
    composed.text = Serialized(message.get());
    return composed;
}

QByteArray WithUnixLineEnds(const QByteArray& text) {
    QByteArray result = text;
    result.replace("\r\n", "\n");
    return result;
}

} // namespace rp::mailstore
