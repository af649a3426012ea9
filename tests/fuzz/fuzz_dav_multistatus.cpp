// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the reader of a calendar server's multistatus answer:
// nothing may crash or run away, and what it keeps is consistent.

#include "platform/calendar/CalDavXml.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace rp;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const mailstore::TMultistatus status = mailstore::ParseMultistatus(text);
    if (!status.ok && !status.resources.empty())
        fuzz::Fail("a failed read kept resources");
    if (status.ok != status.error.isEmpty())
        fuzz::Fail("a read is both good and failed");
    for (const auto& resource : status.resources)
        if (resource.isCalendar && resource.href.size() > text.size() * 4 + 4)
            fuzz::Fail("an href larger than the input");
    return 0;
}
