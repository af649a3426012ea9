// SPDX-License-Identifier: GPL-3.0-or-later
// On a first run without a mail store profile, the embedded store serves; when
// the desktop's own store keeps calendars, the user hears once that the Mail
// Store dialog can read them: on the wizard's last page, and in the status bar
// after it. The store may be slow to answer, so it is asked off the GUI thread.

#include "ui/RingpostForm.h"

#include "platform/gui/OffGuiThread.h"

namespace rp {

namespace {

QString Counted(qsizetype count, const char* one, const char* many) {
    return count == 1 ? QStringLiteral("1 ") + QLatin1String(one)
                      : QStringLiteral("%1 ").arg(count) + QLatin1String(many);
}

} // namespace

QString DesktopCalendarsHintText(const TDesktopOffer& offer) {
    QStringList kept;
    if (!offer.calendars.isEmpty())
        kept << Counted(offer.calendars.size(), "calendar", "calendars");
    if (!offer.taskLists.isEmpty())
        kept << Counted(offer.taskLists.size(), "task list", "task lists");
    if (kept.isEmpty())
        return {};
    return QStringLiteral("This desktop keeps %1 (GNOME, Evolution, Online Accounts): "
                          "Settings > Mail Store... can read them.")
        .arg(kept.join(QStringLiteral(" and ")));
}

void TRingpostForm::LookForDesktopCalendars() {
    mailstore::RunOffGuiThread(this, deps.FindDesktopCalendars, [this](const TDesktopOffer& offer) {
        desktopHint = DesktopCalendarsHintText(offer);
        TellDesktopHint();
    });
}

// Once the wizard is done and the answer is in, whichever comes last.
void TRingpostForm::TellDesktopHint() {
    if (!wizardDone || desktopHint.isEmpty() || desktopHintTold)
        return;
    desktopHintTold = true;
    QueueStatusNotice(desktopHint);
}

} // namespace rp
