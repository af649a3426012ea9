// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The engine's seams for a run over the real mail store: the tests' clock,
// input and wake event, the store the profile at `location` describes, and the
// state files in `dataDir`.

#include "engine/OutlookProcessor.h"
#include "platform/mailstore/MailStoreApplication.h"
#include "tests/support/EngineFakes.h"

#include <QDir>
#include <memory>

namespace rp::test {

inline TEngineDeps StoreEngineDeps(std::unique_ptr<IClock> clock,
                                   std::unique_ptr<IInputState> input,
                                   std::unique_ptr<IWakeEvent> wake,
                                   const mailstore::TStoreLocation& location,
                                   const QString& dataDir) {
    TEngineDeps deps;
    deps.Clock = std::move(clock);
    deps.Input = std::move(input);
    deps.Wake = std::move(wake);
    deps.Runtime = std::make_unique<FakeRuntime>();
    deps.Factory = std::make_unique<mailstore::TMailStoreFactory>(location);
    deps.DataDir = QDir(dataDir);
    deps.IdlePolls = 2;
    return deps;
}

} // namespace rp::test
