#include "engine/OutlookProcessor.h"

namespace rp {

// The scan step of each cycle; the scans arrive with the notices.
void TOutlookProcessor::ProcessCheckes() {}
void TOutlookProcessor::CheckAppointments() {}

} // namespace rp
