// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Delivery through Apprise: a notice to an Apprise URL (tgram://..., gotify://...)
// is handed to Debian's apprise command, which speaks to the service. The URL
// holds the service's secrets, so it goes through a file only the user can read,
// never on a command line, and is shown as its scheme and host only.

#include "platform/common/ProfileTypes.h"

#include <QString>

namespace rp::mailstore {

// "sent through Apprise to Gotify at push.example.org": where notices to `url` go.
QString AppriseRouteText(const QString& url);

// Why notices to `url` cannot go with these settings (the address is refused,
// [Push] Apprise=false, no apprise installed), as a sentence; empty when they can.
QString AppriseRefusal(const TPushSettings& push, const QString& url);

class TAppriseSender {
public:
    explicit TAppriseSender(int timeoutSeconds);

    // Hands `text` to apprise for `url` and waits at most the time-out for it.
    // Returns AppriseRouteText; throws EAutomationError ("Telegram did not take
    // the message: ...") when apprise fails, does not end in time or is missing.
    QString Send(const QString& url, const QString& text) const;

private:
    int timeoutSeconds;
};

} // namespace rp::mailstore
