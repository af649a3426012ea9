// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/inbox/MessageHeaders.h"

#include "platform/common/GMimeSetup.h"

#include "engine/OutlookModel.h"

#include <QFile>
#include <cerrno>
// GLib names a struct member "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <gmime/gmime.h>
#pragma pop_macro("signals")

namespace rp::mailstore {

namespace {

// A header block beyond this is no mail header; what follows is not read.
constexpr qint64 kMaxHeaderBytes = 512 * 1024;

template <class T> struct TGObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <class T> using TGObjectPtr = std::unique_ptr<T, TGObjectDeleter<T>>;

QString HeaderText(GMimeMessage* message, const char* name) {
    const char* value = g_mime_object_get_header(GMIME_OBJECT(message), name);
    return value ? QString::fromUtf8(value).trimmed().toLower() : QString();
}

int ImportanceOf(GMimeMessage* message) {
    const QString importance = HeaderText(message, "Importance");
    const QString priority = HeaderText(message, "Priority");
    const QString xPriority = HeaderText(message, "X-Priority");
    const QString msPriority = HeaderText(message, "X-MSMail-Priority");
    if (importance == QLatin1String("high") || priority == QLatin1String("urgent") ||
        xPriority.startsWith(QLatin1Char('1')) || xPriority.startsWith(QLatin1Char('2')) ||
        msPriority == QLatin1String("high"))
        return outlook::olImportanceHigh;
    if (importance == QLatin1String("low") || priority == QLatin1String("non-urgent") ||
        xPriority.startsWith(QLatin1Char('4')) || xPriority.startsWith(QLatin1Char('5')) ||
        msPriority == QLatin1String("low"))
        return outlook::olImportanceLow;
    return outlook::olImportanceNormal;
}

QString SenderOf(GMimeMessage* message) {
    InternetAddressList* from = g_mime_message_get_from(message);
    if (!from || internet_address_list_length(from) < 1)
        from = g_mime_message_get_sender(message);
    if (!from || internet_address_list_length(from) < 1)
        return {};
    InternetAddress* address = internet_address_list_get_address(from, 0);
    const char* name = internet_address_get_name(address);
    if (name && *name)
        return QString::fromUtf8(name).trimmed();
    if (INTERNET_ADDRESS_IS_MAILBOX(address))
        return QString::fromUtf8(
            internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
    return {};
}

} // namespace

std::optional<QByteArray> ReadHeaderBlock(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::OpenError && !file.exists())
            return std::nullopt;
        throw outlook::EAutomationError(
            QStringLiteral("Cannot read the message \"%1\": %2").arg(path, file.errorString()));
    }
    QByteArray block;
    while (block.size() < kMaxHeaderBytes) {
        const QByteArray line = file.readLine(kMaxHeaderBytes);
        if (line.isEmpty() || line == "\n" || line == "\r\n")
            break;
        block += line;
    }
    return block + "\n";
}

std::optional<TMessageHeaders> ParseHeaders(const QByteArray& headerBlock) {
    EnsureGMime();
    TGObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(headerBlock.constData(), headerBlock.size()));
    TGObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    TGObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message)
        return std::nullopt;
    TMessageHeaders headers;
    const char* subject = g_mime_message_get_subject(message.get());
    headers.subject = subject ? QString::fromUtf8(subject).trimmed() : QString();
    headers.senderName = SenderOf(message.get());
    headers.importance = ImportanceOf(message.get());
    return headers;
}

} // namespace rp::mailstore
