// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QString;
class QWidget;

namespace rp {

// The "Mail Store..." dialog: edits the mail store profile and sends a test
// message, by default to `recipient` (the phone's address).
void ShowMailStoreDialog(QWidget* parent, const QString& recipient);

} // namespace rp
