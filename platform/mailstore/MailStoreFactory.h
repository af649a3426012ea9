// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mail store as the program sees it: the factory the engine opens it through,
// and where notices go as its profile stands now.

#include "engine/OutlookModel.h"
#include "engine/SourceHealth.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace rp {

// The local mail store that stands in for the mail application, as configured by
// ${XDG_CONFIG_HOME:-$HOME/.config}/Amberfold/MailStore.ini (or its default).
// `status` hears once of a server that cannot be reached or is reached again;
// `health` hears whether each source works (engine/SourceHealth.h), on the engine
// thread or the IMAP inbox's own.
std::unique_ptr<outlook::IApplicationFactory>
CreateMailStoreFactory(std::function<void(const QString& text)> status = {},
                       TSourceHealthSink health = {});

// Where the mail store sends a notice to `recipient` as its profile stands now,
// in words that follow "Notices will be": "sent to ntfy topic T on H", "handed
// to smtp.example.org", "written to the local Outbox: ...", or "refused: ...".
QString DeliveryRoute(const QString& recipient);

// Where the last message the mail store sent went; serial 0 while none has gone.
struct TDeliveryReport {
    quint64 serial = 0;
    QString subject;
    QString where;
};
TDeliveryReport LastDeliveryReport();

// A one-line warning when `recipient` is on a carrier gateway that no longer
// delivers (or not reliably); empty otherwise. `closed` tells which.
QString GatewayWarning(const QString& recipient, bool* closed = nullptr);

// The calendars and task lists switched on in the desktop's own store
// (evolution-data-server), by name, while no mail store profile exists at
// `profilePath`: the embedded store serves, and the "Mail Store..." dialog could
// read these instead. None when there is a profile or no store. Asks the store
// and may wait for it: never call it on the GUI thread.
struct TDesktopOffer {
    QStringList calendars;
    QStringList taskLists;
    bool Empty() const { return calendars.isEmpty() && taskLists.isEmpty(); }
};
TDesktopOffer DesktopCalendarsOnOffer(const QString& profilePath);

} // namespace rp
