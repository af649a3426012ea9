// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MailStoreDialog.h"

#include "platform/mailstore/MailStoreEditor.h"

namespace rp {

void ShowMailStoreDialog(QWidget* parent) {
    mailstore::TMailStoreEditor dialog(mailstore::DefaultProfilePath(),
                                       mailstore::DefaultStoreFolder(), parent);
    dialog.exec();
}

} // namespace rp
