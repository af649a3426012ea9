#include "platform/Platform.h"

namespace rp {

namespace {
// Placeholder until the local mail store lands.
class TNoStoreFactory : public outlook::IApplicationFactory {
public:
    std::shared_ptr<outlook::Application> Connect() override {
        throw outlook::EAutomationError(QStringLiteral("No mail store is configured."));
    }
};
} // namespace

std::unique_ptr<outlook::IApplicationFactory> CreateMailStoreFactory() {
    return std::make_unique<TNoStoreFactory>();
}

} // namespace rp
