// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/delivery/PushGateways.h"

#include <array>

namespace rp::mailstore {

namespace {

struct TGateway {
    const char* domain;
    const char* fate;
    bool closed; // false: still open, but not to be relied on
};

constexpr const char* kAtt = "AT&T closed its e-mail-to-text gateways in June 2025";
constexpr const char* kTMobile = "T-Mobile's gateway stopped delivering in late 2024";
constexpr const char* kSprint = "Sprint's gateway has no mail server any more";
constexpr const char* kNextel = "Nextel's gateway has no mail server any more";
constexpr const char* kAlltel = "Alltel's gateway has no mail server any more";
constexpr const char* kRogers = "Rogers closed its gateway in 2023";
constexpr const char* kFido = "Fido closed its gateway in 2023";
constexpr const char* kVerizon = "Verizon's gateway is unreliable and announced to close";

constexpr std::array<TGateway, 16> kGateways{{
    {"txt.att.net", kAtt, true},
    {"mms.att.net", kAtt, true},
    {"mobile.att.net", kAtt, true},
    {"cingularme.com", kAtt, true},
    {"tmomail.net", kTMobile, true},
    {"messaging.sprintpcs.com", kSprint, true},
    {"pm.sprint.com", kSprint, true},
    {"messaging.nextel.com", kNextel, true},
    {"page.nextel.com", kNextel, true},
    {"message.alltel.com", kAlltel, true},
    {"text.wireless.alltel.com", kAlltel, true},
    {"mms.alltelwireless.com", kAlltel, true},
    {"pcs.rogers.com", kRogers, true},
    {"fido.ca", kFido, true},
    {"vtext.com", kVerizon, false},
    {"vzwpix.com", kVerizon, false},
}};

} // namespace

QString ClosedGatewayWarning(const QString& recipient, bool* closed) {
    const QString domain = recipient.trimmed().section(QLatin1Char('@'), -1).toLower();
    if (closed)
        *closed = false;
    if (!recipient.contains(QLatin1Char('@')) || domain.isEmpty())
        return {};
    for (const TGateway& gateway : kGateways) {
        if (domain != QLatin1String(gateway.domain))
            continue;
        if (closed)
            *closed = gateway.closed;
        return QStringLiteral("Notices to @%1 %2: %3. Use a push address such as "
                              "ntfy-TOPIC@ntfy.sh instead (Help: Choosing a carrier).")
            .arg(domain,
                 gateway.closed ? QStringLiteral("will not arrive")
                                : QStringLiteral("may not arrive"),
                 QLatin1String(gateway.fate));
    }
    return {};
}

} // namespace rp::mailstore
