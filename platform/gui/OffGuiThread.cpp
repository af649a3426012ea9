// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/gui/OffGuiThread.h"

#include "engine/OutlookModel.h"

#include <QLabel>
#include <QPushButton>

namespace rp::mailstore {

void RunTest(QPushButton* button, QLabel* result, std::function<QString()> probe) {
    button->setEnabled(false);
    result->setText(QObject::tr("Testing..."));
    RunOffGuiThread(
        button,
        [probe = std::move(probe)] {
            try {
                return probe();
            } catch (const outlook::EAutomationError& error) {
                return QObject::tr("Not working: %1").arg(error.Message());
            }
        },
        [button, result](const QString& answer) {
            result->setText(answer);
            button->setEnabled(true);
        });
}

} // namespace rp::mailstore
