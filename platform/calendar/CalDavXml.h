// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The WebDAV multistatus answers of a CalDAV server, read with Qt's XML stream
// reader into the little the mirror needs.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace rp::mailstore {

struct TDavResource {
    QString href; // percent-decoded path, as the server named it
    int status = 200;
    QByteArray etag;
    QByteArray calendarData;
    bool isCollection = false;
    bool isCalendar = false;
    QByteArray ctag;
    QByteArray syncToken;
    QString principal;         // current-user-principal, percent-decoded
    QStringList userAddresses; // calendar-user-address-set
};

struct TMultistatus {
    bool ok = false; // false: not a multistatus document
    QString error;
    std::vector<TDavResource> resources;
    QByteArray syncToken; // sync-collection's new token
};

TMultistatus ParseMultistatus(const QByteArray& xml);

// The request bodies.
QByteArray DiscoveryBody();
// With the data, the changed items come in the same answer; without it, only
// their ETags.
QByteArray SyncCollectionBody(const QByteArray& token, bool withData = true);
QByteArray EtagListBody();
QByteArray MultigetBody(const std::vector<QString>& hrefs);
// Who is logged in, and the calendar user addresses of that principal.
QByteArray PrincipalBody();
QByteArray UserAddressSetBody();

} // namespace rp::mailstore
