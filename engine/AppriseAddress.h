// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Apprise URLs as device addresses (tgram://..., gotify://..., pover://...): which
// services the apprise command knows, when such an address may be handed to it,
// and how any recipient is shown without the secrets it carries. Plain text rules,
// shared by the engine's log, the wizard's address page and the delivery.

#include <QString>
#include <QStringList>

namespace rp {

// The service Apprise sends to for `scheme` ("Telegram" for "tgram"), whatever
// its case; empty for a scheme Apprise does not know.
QString AppriseServiceName(const QString& scheme);

// Every scheme Apprise knows, lower case.
QStringList AppriseSchemes();

// True when the recipient is meant for Apprise: it holds "://". Such an address
// is either a usable Apprise URL or refused; it never goes by mail.
bool IsAppriseAddress(const QString& recipient);

// Why the address cannot be handed to Apprise (a line break, a leading "-", a
// scheme Apprise does not know, more than one URL), as a sentence; empty when it can.
QString AppriseAddressProblem(const QString& recipient);

// A usable Apprise URL: a known scheme, then "://".
bool IsUsableAppriseAddress(const QString& recipient);

struct TAppriseUrl {
    QString scheme;       // lower case
    QString service;      // "Telegram", or empty for an unknown scheme
    QString host;         // empty where the host part is itself a token
    bool hasMore = false; // user, path or query after the scheme and host
    QStringList secrets;  // every part but the scheme, the shown host and the port
};
TAppriseUrl SplitAppriseUrl(const QString& url);

// The recipient as a log, status line or box may show it: an Apprise URL as its
// scheme and host ("gotify://push.example.org/...", "tgram://..."), an ntfy access
// token as "+...", any other address unchanged.
QString MaskedRecipient(const QString& recipient);

// `text` with every secret of the Apprise URL `url` in it replaced by "...".
QString WithoutUrlSecrets(QString text, const QString& url);

} // namespace rp
