// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace rp {

// The "Mail Store..." dialog: edits the mail store profile and sends a test message.
void ShowMailStoreDialog(QWidget* parent);

} // namespace rp
