#include "platform/Platform.h"
#include "platform/mailstore/MailStoreApplication.h"

namespace rp {

std::unique_ptr<outlook::IApplicationFactory>
CreateMailStoreFactory(std::function<void(const QString& text)> status) {
    mailstore::TStoreLocation location;
    location.status = std::move(status);
    return std::make_unique<mailstore::TMailStoreFactory>(location);
}

} // namespace rp
