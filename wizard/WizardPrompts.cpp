// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/WizardPrompts.h"

#include <QMessageBox>

namespace rp {

bool TMessageBoxPrompts::ConfirmExit(QWidget* parent) {
    const auto answer = QMessageBox::warning(
        parent, QStringLiteral("Warning"),
        QStringLiteral("Are you sure you want to exit the configuration Wizard?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void TMessageBoxPrompts::ShowError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("Error"), text, QMessageBox::Ok);
}

} // namespace rp
