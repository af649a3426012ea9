// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The carriers Ringpost knows, their e-mail-to-text gateways, and the rule that
// turns the stored carrier, number and custom address into the notice address.

#include "engine/SettingsRecord.h"

#include <QString>
#include <array>

namespace rp {

inline constexpr int ServiceCount = 9;
inline constexpr int RegionCount = 6;
inline constexpr uint8_t ServiceCingular = 1;
inline constexpr uint8_t ServiceOther = 8;

extern const std::array<const char*, ServiceCount> ServiceCaptions;
extern const std::array<const char*, ServiceCount> ServiceDomains;
extern const std::array<const char*, RegionCount> RegionCaptions;
extern const std::array<const char*, RegionCount> RegionDomains;

QString RecipientAddress(uint8_t service, const QString& pin, const QString& customEmail);
inline QString RecipientAddress(const SettingsRecord& settings) {
    return RecipientAddress(settings.Service, settings.Pin, settings.CustomEmail);
}

} // namespace rp
