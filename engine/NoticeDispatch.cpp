#include "engine/OutlookProcessor.h"

namespace rp {

// Sending and the meeting reminder pass arrive with the notices.
bool TOutlookProcessor::SendNewemail(const QString&, const QString&, const QString&) {
    return false;
}
bool TOutlookProcessor::WaitUntilUserIdle() {
    return false;
}
void TOutlookProcessor::NotifyEvent(TEventItem&) {}
void TOutlookProcessor::NotifyEventPrefixed(TEventItem&, const QString&) {}
void TOutlookProcessor::NotifyTask(TTaskEvent&) {}
bool TOutlookProcessor::SendNotice(const QString&) {
    return false;
}
void TOutlookProcessor::HandleNotify() {}

} // namespace rp
