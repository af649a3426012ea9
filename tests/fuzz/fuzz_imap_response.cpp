// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes, as an IMAP server might send them, to the response reader
// in pieces of a size the input chooses, and maps every FETCH it reads the way the
// inbox does. Nothing may crash, nothing read may be larger than what was sent,
// and the mapped subject and sender must be exactly what the notice would carry.

#include "platform/inbox/ImapInbox.h"
#include "platform/inbox/ImapResponse.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using namespace rp;
using namespace rp::mailstore;

void Examine(const TImapResponse& response, size_t fed) {
    if (response.line.size() > static_cast<qsizetype>(fed))
        fuzz::Fail("a response line longer than the input");
    TMailboxStatus status;
    ReadMailboxStatus(response, status);
    StatusCondition(response);
    ResponseCode(response);
    ResponseText(response);
    ReadSearch(response);
    ReadCapabilities(response);
    const std::optional<TFetchedMessage> fetched = ReadFetch(response);
    if (!fetched)
        return;
    if (fetched->uid == 0)
        fuzz::Fail("a FETCH without a UID was taken");
    if (fetched->header && fetched->header->size() > static_cast<qsizetype>(fed))
        fuzz::Fail("a header longer than the input");
    const TImapMessage message = MessageFromFetch(*fetched);
    if (message.uid != fetched->uid || message.record.UniqueName() != QString::number(message.uid))
        fuzz::Fail("a message filed under another UID");
    if (message.record.importance < 0 || message.record.importance > 2)
        fuzz::Fail("an importance outside low, normal and high");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const qsizetype chunk = 1 + data[0] % 64;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const qsizetype length = static_cast<qsizetype>(size - 1);
    TImapReader reader(4096);
    try {
        for (qsizetype at = 0; at < length; at += chunk) {
            reader.Feed(bytes + at, std::min(chunk, length - at));
            while (std::optional<TImapResponse> response = reader.Next())
                Examine(*response, size);
        }
        if (reader.Pending() > length)
            fuzz::Fail("more bytes pending than were fed");
    } catch (const EImapProtocol&) {
        // A broken response is refused: that is the expected outcome.
    }
    return 0;
}
