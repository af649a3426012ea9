// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/CarrierDirectory.h"

namespace rp {

// The tables are laid out by hand, one carrier or region per cell.
// clang-format off
const std::array<const char*, ServiceCount> ServiceCaptions = {
    "&AT&&T Wireless", "&Cingular Wireless", "&Nextel",
    "&PrimeCo",        "&Sprint PCS",        "&Verizon Wireless",
    "VoiceS&tream",    "&Qwest",             "&Other (including Text Pagers)",
};

// Gateway domains as the carriers published them. Cingular takes its domain from
// the regional table; Other has a full address instead.
const std::array<const char*, ServiceCount> ServiceDomains = {
    "mobile.att.net",      "",           "messaging.nextel.com",
    "email.uscc.net",      "messaging.sprintpcs.com", "vtext.com",
    "tmomail.net",         "qwestmp.com", "",
};

const std::array<const char*, RegionCount> RegionCaptions = {
    "Alabama, Florida, Georgia, Indiana, Kentucky and Louisiana",
    "Mississippi, North Carolina, South Carolina and Tennesse",
    "Houston, Texas",
    "Michigan, Ohio and Wisconsin",
    "Delaware, New Jersey and Pennsylvania",
    "All other states and All other cities in Texas, excluding Houston",
};

const std::array<const char*, RegionCount> RegionDomains = {
    "cingularme.com", "cingularme.com", "cingularme.com",
    "cingularme.com", "cingularme.com", "cingularme.com",
};
// clang-format on

QString RecipientAddress(uint8_t service, const QString& pin, const QString& customEmail) {
    if (service == ServiceOther)
        return customEmail;
    if (service == ServiceCingular)
        return pin + QLatin1Char('@') + QLatin1String(RegionDomains[0]);
    if (service < ServiceCount)
        return pin + QLatin1Char('@') + QLatin1String(ServiceDomains[service]);
    return QString();
}

} // namespace rp
