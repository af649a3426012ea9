// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The introduction page.

#include "wizard/BaseFrame.h"

class QPlainTextEdit;

namespace rp {

// The introduction text, one entry per line.
QStringList IntroductionLines();

class TAgentInitialFrame : public TGenericFrame {
    Q_OBJECT
public:
    explicit TAgentInitialFrame(TBaseInstaller& installer);

    QPlainTextEdit* MessageMemo = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMemo();
};

} // namespace rp
