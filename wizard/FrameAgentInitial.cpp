// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/FrameAgentInitial.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace rp {

namespace {
constexpr int kMemoLeft = 27;
constexpr int kMemoTop = 27;
constexpr int kMemoRightMargin = 24;
constexpr int kMemoBottomMargin = 20;
constexpr QSize kMemoDesignSize(374, 306);
} // namespace

QStringList IntroductionLines() {
    return {
        QStringLiteral("Welcome to the Ringpost configuration wizard. This program allows you"),
        QStringLiteral("to configure Ringpost to link your cell phone with your Microsoft"),
        QStringLiteral("Outlook* calendar, appointments, task and urgent e-mails."),
        QString(),
        QStringLiteral("You will need to know your cellular phone provider and your full cellular"),
        QStringLiteral("phone number."),
        QString(),
        QStringLiteral("To exit the configuration wizard click Cancel."),
        QStringLiteral("To continue with the configuration wizard click Next>."),
        QString(),
        QString(),
        // The program is free software: only copying outside its licence is unauthorised.
        QStringLiteral("Warning: this program is protected by copyright law. You may copy and"),
        QStringLiteral("distribute it only under the GNU General Public License, version 3 or"),
        QStringLiteral("later; any other reproduction or distribution of it is prohibited."),
        QString(),
        QStringLiteral("* Microsoft and Outlook are trademarks or registered trademarks of"),
        QStringLiteral("Microsoft Corporation in the United States and other countries."),
    };
}

TAgentInitialFrame::TAgentInitialFrame(TBaseInstaller& installer) : TGenericFrame(installer) {
    acBack->setVisible(false);
    BuildMemo();
}

void TAgentInitialFrame::BuildMemo() {
    MessageMemo = new QPlainTextEdit(Body());
    MessageMemo->setObjectName(QStringLiteral("MessageMemo"));
    MessageMemo->setPlainText(IntroductionLines().join(QLatin1Char('\n')));
    MessageMemo->setReadOnly(true);
    MessageMemo->setFrameShape(QFrame::NoFrame);
    MessageMemo->setFocusPolicy(Qt::NoFocus);
    MessageMemo->setContextMenuPolicy(Qt::NoContextMenu);
    MessageMemo->setTextInteractionFlags(Qt::NoTextInteraction);
    QPalette menuColours = MessageMemo->palette();
    menuColours.setColor(QPalette::Base, palette().color(QPalette::Window));
    MessageMemo->setPalette(menuColours);

    // Wide enough that every line stays one line, as it was written.
    int widest = kMemoDesignSize.width();
    const QFontMetrics metrics(MessageMemo->font());
    for (const QString& line : IntroductionLines())
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const int margins = 2 * static_cast<int>(MessageMemo->document()->documentMargin()) + 4;
    MessageMemo->setMinimumSize(widest + margins, kMemoDesignSize.height());

    MessageMemo->installEventFilter(this);
    MessageMemo->viewport()->installEventFilter(this);

    auto* layout = new QVBoxLayout(Body());
    layout->setContentsMargins(kMemoLeft, kMemoTop, kMemoRightMargin, kMemoBottomMargin);
    layout->addWidget(MessageMemo);
}

// The text never keeps the focus: entering or clicking it hands it to Next.
bool TAgentInitialFrame::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        FocusNext();
        return event->type() != QEvent::FocusIn;
    default:
        return TGenericFrame::eventFilter(watched, event);
    }
}

} // namespace rp
