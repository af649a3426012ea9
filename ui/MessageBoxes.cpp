// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MessageBoxes.h"

#include "ui/RingpostForm.h"

#include <QApplication>
#include <QMessageBox>

namespace rp {

namespace {

// The texts keep their CR LF line breaks; a label shows a bare LF as the break.
QString DisplayText(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                 QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, ApplicationTitle(QApplication::applicationFilePath()), DisplayText(text),
                    buttons, parent);
    return QMessageBox::StandardButton(box.exec());
}

} // namespace

void TQtMessageBoxes::Information(const QString& text) {
    Show(parent, QMessageBox::Information, text, QMessageBox::Ok);
}

void TQtMessageBoxes::Warning(const QString& text) {
    Show(parent, QMessageBox::Warning, text, QMessageBox::Ok);
}

void TQtMessageBoxes::Error(const QString& text) {
    Show(parent, QMessageBox::Critical, text, QMessageBox::Ok);
}

void TQtMessageBoxes::Plain(const QString& text) {
    Show(parent, QMessageBox::NoIcon, text, QMessageBox::Ok);
}

bool TQtMessageBoxes::Confirm(const QString& text) {
    return Show(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

} // namespace rp
