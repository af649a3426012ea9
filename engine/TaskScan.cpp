#include "engine/OutlookProcessor.h"

namespace rp {

void TOutlookProcessor::CheckTasks() {}
void TOutlookProcessor::HandleTaskNotify() {}

} // namespace rp
