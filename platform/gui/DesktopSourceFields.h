// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's own calendars or task lists ([Calendar] or [Tasks]
// Source=desktop) as the Mail Store dialog offers them: a switch, then every
// one switched on at the desktop or only those ticked in the store's list, each
// shown with its account, and a "Test". The store is asked on worker threads
// only, and only once the switch is on, so opening the dialog does not start it.

#include "platform/calendar/DesktopStore.h"
#include "platform/common/ProfileTypes.h"

#include <QGroupBox>
#include <functional>
#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;

namespace rp::mailstore {

class TDesktopSourceFields : public QGroupBox {
public:
    // `name` prefixes the object names ("calendar": calendarDesktop...).
    TDesktopSourceFields(TDesktopKind kind, const QString& name, QWidget* parent);

    void Load(const TDesktopSelection& selection);
    TDesktopSelection Selection() const;
    // Why the selection cannot be saved as it stands (nothing ticked), or empty.
    QString Incomplete() const;

    // The store is being asked for its list.
    void ShowAsking();
    // Its answer: the calendars (task lists) it has, or why none.
    void TakeListing(const std::vector<TDesktopSourceInfo>& sources, const QString& problem);
    // Says how many events (tasks) the selection finds, or why none.
    void Test();

    // Called when the switch changes.
    std::function<void()> changed;

private:
    void ShowSwitch(bool on);
    void Fill(const std::vector<TDesktopSourceInfo>& sources, const QStringList& names);
    void FitList();
    QListWidgetItem* AddItem(const QString& text, const QString& profileName, bool ticked);
    void TickSwitchedOn();
    void ItemTicked();
    QStringList TickedNames() const;

    TDesktopKind kind;
    QString what; // "calendar", "task list"
    QWidget* panel = nullptr;
    QLabel* status = nullptr;
    QRadioButton* every = nullptr;
    QRadioButton* ticked = nullptr;
    QListWidget* list = nullptr;
    QPushButton* test = nullptr;
    QLabel* result = nullptr;
    std::vector<TDesktopSourceInfo> listed;
    bool filling = false;
};

} // namespace rp::mailstore
