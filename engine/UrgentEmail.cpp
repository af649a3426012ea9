#include "engine/OutlookProcessor.h"

namespace rp {

void TOutlookProcessor::CheckUrgentEmail() {}

} // namespace rp
