// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/MailStoreFactory.h"
#include "platform/calendar/DesktopSource.h"
#include "platform/delivery/PushGateways.h"
#include "platform/delivery/PushRouter.h"
#include "platform/mailstore/MailStoreApplication.h"

#include <QFileInfo>

namespace rp {

std::unique_ptr<outlook::IApplicationFactory>
CreateMailStoreFactory(std::function<void(const QString& text)> status, TSourceHealthSink health) {
    mailstore::TStoreLocation location;
    location.status = std::move(status);
    location.health = std::move(health);
    return std::make_unique<mailstore::TMailStoreFactory>(location);
}

QString DeliveryRoute(const QString& recipient) {
    try {
        const auto profile = mailstore::LoadProfile(mailstore::DefaultProfilePath(),
                                                    mailstore::DefaultStoreFolder());
        return mailstore::DescribeRoute(profile, recipient);
    } catch (const outlook::EAutomationError& error) {
        return QStringLiteral("refused: ") + error.Message();
    }
}

TDeliveryReport LastDeliveryReport() {
    const mailstore::TDeliveryNote note = mailstore::LastDelivery();
    return {note.serial, note.subject, note.where};
}

QString GatewayWarning(const QString& recipient, bool* closed) {
    return mailstore::ClosedGatewayWarning(recipient, closed);
}

namespace {

QStringList SwitchedOn(const std::vector<mailstore::TDesktopSourceInfo>& sources) {
    QStringList names;
    for (const mailstore::TDesktopSourceInfo& info : sources)
        if (info.enabled && info.selected)
            names << info.name;
    return names;
}

} // namespace

TDesktopOffer DesktopCalendarsOnOffer(const QString& profilePath) {
    if (QFileInfo::exists(profilePath))
        return {};
    const mailstore::TDesktopListing listing = mailstore::ListDesktopSources();
    return {SwitchedOn(listing.calendars), SwitchedOn(listing.taskLists)};
}

} // namespace rp
