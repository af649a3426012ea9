// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a source tells of trouble (a server not reached, a login refused) and of
// its recovery, in words for the status bar; and, for the source-health panel,
// whether it works now (TSourceHealthSink, engine/SourceHealth.h).

#include "engine/SourceHealth.h"

#include <QString>
#include <functional>
#include <utility>

namespace rp::mailstore {

using TStatusSink = std::function<void(const QString& text)>;

// A sink told each text once: a source that fails every cycle says so once,
// and again only when what it says changes.
class TStatusOnce {
public:
    explicit TStatusOnce(TStatusSink sink = {}) : sink(std::move(sink)) {}
    // Whether `text` differs from the last text told, and so was told now.
    bool Tell(const QString& text) {
        if (text == last)
            return false;
        last = text;
        if (sink)
            sink(text);
        return true;
    }
    const QString& Last() const { return last; }
    void Forget() { last.clear(); }

private:
    TStatusSink sink;
    QString last;
};

} // namespace rp::mailstore
