#include "platform/MailStoreDialog.h"

namespace rp {

// Placeholder until the mail store dialog lands.
void ShowMailStoreDialog(QWidget*) {}

} // namespace rp
