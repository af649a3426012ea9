#include "engine/OutlookProcessor.h"

namespace rp {

void TOutlookProcessor::NotifyMorningFirstMeeting() {}
void TOutlookProcessor::NotifyEveningFirstMeeting() {}

} // namespace rp
