#include "platform/Platform.h"
#include "platform/mailstore/MailStoreApplication.h"

namespace rp {

std::unique_ptr<outlook::IApplicationFactory> CreateMailStoreFactory() {
    return std::make_unique<mailstore::TMailStoreFactory>();
}

} // namespace rp
