#include "platform/mailstore/MessageComposer.h"

#include "engine/OutlookModel.h"
#include "platform/mailstore/MessageHeaders.h"

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
    g_mime_message_set_subject(message.get(), OneLine(outgoing.subject).toUtf8().constData(),
                               "utf-8");
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
