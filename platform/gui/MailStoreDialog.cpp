// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/gui/MailStoreDialog.h"

#include "platform/gui/MailStoreEditor.h"

namespace rp {

void ShowMailStoreDialog(QWidget* parent, const QString& recipient) {
    mailstore::TMailStoreEditor dialog(mailstore::DefaultProfilePath(),
                                       mailstore::DefaultStoreFolder(), parent);
    dialog.SetTestRecipient(recipient);
    dialog.exec();
}

} // namespace rp
