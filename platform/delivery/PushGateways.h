// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The e-mail-to-text gateways that no longer deliver, and the words that send
// the user to a push address instead.

#include <QString>

namespace rp::mailstore {

// A one-line warning when `recipient` is on a gateway that is closed or about
// to close; empty for every other address. `closed`, when given, says whether
// the gateway is closed (rather than only unreliable).
QString ClosedGatewayWarning(const QString& recipient, bool* closed = nullptr);

} // namespace rp::mailstore
