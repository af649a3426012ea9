// SPDX-License-Identifier: GPL-3.0-or-later
// Where notices go, as the window tells it: the test message's follow-up status,
// the route after the wizard, and a carrier gateway that no longer delivers.

#include "platform/mailstore/MailStoreFactory.h"
#include "ui/RingpostForm.h"

#include <QSystemTrayIcon>

namespace rp {

namespace {
constexpr int kDeliveryWatchMs = 250;
// Longer than a send's time-out and the engine's wait for its next pass.
constexpr int kDeliveryWatchTicks = 4 * 60 * 1000 / kDeliveryWatchMs;
} // namespace

// The engine shows "Ringpost Test message" and, on failure, the error; once the
// store has sent it, a follow-up status says where it went.
void TRingpostForm::WatchTestDelivery() {
    if (!deliveryWatch)
        deliveryWatch = deps.CreateTicker(kDeliveryWatchMs, [this] { TestDeliveryTick(); });
    deliveriesSeen = LastDeliveryReport().serial;
    deliveryWatchTicks = 0;
    deliveryWatch->start();
}

void TRingpostForm::TestDeliveryTick() {
    if (++deliveryWatchTicks > kDeliveryWatchTicks) {
        deliveryWatch->stop();
        return;
    }
    const TDeliveryReport report = LastDeliveryReport();
    if (report.serial == deliveriesSeen)
        return;
    deliveriesSeen = report.serial;
    if (report.subject != QLatin1String(TestSubject))
        return;
    deliveryWatch->stop();
    ShowStatusNotice(QLatin1String(TestSubject) + QLatin1Char(' ') + report.where +
                     QLatin1Char('.'));
}

void TRingpostForm::AnnounceNoticeRoute() {
    const QString recipient = RecipientAddress();
    const QString route = DeliveryRoute(recipient);
    const QLatin1String refused("refused: ");
    QString text = route.startsWith(refused)
                       ? QStringLiteral("Notices cannot be sent: ") + route.mid(refused.size())
                       : QStringLiteral("Notices will be ") + route + QLatin1Char('.');
    if (const QString warning = FreshGatewayWarning(recipient); !warning.isEmpty())
        text += QLatin1Char(' ') + warning;
    TellWhereNoticesGo(text);
    wizardDone = true;
    TellDesktopHint();
}

// A gateway that no longer delivers stays in the source-health panel for as long
// as notices go there; the tray says it once.
void TRingpostForm::WarnOfClosedGateway(const QString& recipient) {
    if (const QString warning = FreshGatewayWarning(recipient); !warning.isEmpty())
        TellWhereNoticesGo(warning);
}

// The gateway's warning for the panel, and for the status line only when it
// was not told already.
QString TRingpostForm::FreshGatewayWarning(const QString& recipient) {
    const QString warning = rp::GatewayWarning(recipient);
    ReportSourceHealth(QLatin1String(health::Gateway), warning);
    if (warning.isEmpty() || warning == gatewayWarned)
        return {};
    gatewayWarned = warning;
    return warning;
}

QString TRingpostForm::GatewayWarning(const QString& recipient, bool* closed) const {
    return rp::GatewayWarning(recipient, closed);
}

// The status bar; while the window is hidden in the tray, a tray message as well.
void TRingpostForm::TellWhereNoticesGo(const QString& text) {
    ShowStatusNotice(text);
    if (!isVisible() && trayIcon && trayIcon->isVisible())
        trayIcon->showMessage(QStringLiteral("Ringpost"), text, QSystemTrayIcon::Information);
}

} // namespace rp
