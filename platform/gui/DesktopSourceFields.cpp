// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/gui/DesktopSourceFields.h"

#include "platform/calendar/DesktopSource.h"
#include "platform/gui/OffGuiThread.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

namespace rp::mailstore {

namespace {

constexpr int kProfileName = Qt::UserRole;
constexpr int kSwitchedOn = Qt::UserRole + 1;
constexpr int kListRows = 6;

// The name the profile keeps for `info`: the one the desktop shows, unless it
// cannot stand alone in Source= (another source has it, or it holds a comma);
// then the UID.
QString ProfileName(const TDesktopSourceInfo& info,
                    const std::vector<TDesktopSourceInfo>& sources) {
    const QString name = info.name;
    bool usable = !name.isEmpty() && name == name.trimmed() && !name.contains(QLatin1Char(','));
    for (const TDesktopSourceInfo& other : sources)
        if (other.uid != info.uid &&
            (other.uid == name || other.name.compare(name, Qt::CaseInsensitive) == 0))
            usable = false;
    return usable ? name : info.uid;
}

QString Label(const TDesktopSourceInfo& info) {
    QString text = info.account.isEmpty()
                       ? info.name
                       : QObject::tr("%1 \u2014 %2").arg(info.name, info.account);
    if (!info.enabled)
        text += QObject::tr(" (switched off)");
    else if (info.signInNeeded)
        text += QObject::tr(" (needs signing in again)");
    else if (info.certificateRefused)
        text += QObject::tr(" (its server's certificate is not trusted)");
    return text;
}

} // namespace

TDesktopSourceFields::TDesktopSourceFields(TDesktopKind kind, const QString& name, QWidget* parent)
    : QGroupBox(parent), kind(kind),
      what(kind == TDesktopKind::Calendar ? tr("calendar") : tr("task list")) {
    const bool calendar = kind == TDesktopKind::Calendar;
    setObjectName(name + QStringLiteral("Desktop"));
    setTitle(calendar ? tr("Read the desktop's calendars instead (GNOME, Evolution, Online "
                           "Accounts)")
                      : tr("Read the desktop's task lists instead (GNOME, Evolution, Online "
                           "Accounts)"));
    setCheckable(true);
    setChecked(false);
    panel = new QWidget(this);
    status = new QLabel(panel);
    status->setObjectName(name + QStringLiteral("DesktopStatus"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    every = new QRadioButton(calendar ? tr("Every calendar switched on at the desktop")
                                      : tr("Every task list switched on at the desktop"),
                             panel);
    every->setObjectName(name + QStringLiteral("DesktopEvery"));
    ticked = new QRadioButton(calendar ? tr("Only the calendars ticked here:")
                                       : tr("Only the task lists ticked here:"),
                              panel);
    ticked->setObjectName(name + QStringLiteral("DesktopTicked"));
    list = new QListWidget(panel);
    list->setObjectName(name + QStringLiteral("DesktopList"));
    test = new QPushButton(tr("Test"), panel);
    test->setObjectName(name + QStringLiteral("DesktopTest"));
    result = new QLabel(panel);
    result->setObjectName(name + QStringLiteral("DesktopTestResult"));
    result->setWordWrap(true);
    result->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* testRow = new QHBoxLayout;
    testRow->addWidget(test);
    testRow->addStretch(1);
    auto* rows = new QVBoxLayout(panel);
    rows->setContentsMargins(0, 0, 0, 0);
    for (QWidget* widget : {static_cast<QWidget*>(status), static_cast<QWidget*>(every),
                            static_cast<QWidget*>(ticked), static_cast<QWidget*>(list)})
        rows->addWidget(widget);
    rows->addLayout(testRow);
    rows->addWidget(result);
    (new QVBoxLayout(this))->addWidget(panel);

    // As high as its lines need, not as the tab is.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    every->setChecked(true);
    FitList();
    panel->setVisible(false);
    connect(this, &QGroupBox::toggled, this, [this](bool on) {
        panel->setVisible(on);
        if (changed)
            changed();
    });
    connect(every, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            TickSwitchedOn();
    });
    connect(list, &QListWidget::itemChanged, this, [this] { ItemTicked(); });
    connect(test, &QPushButton::clicked, this, [this] { Test(); });
}

void TDesktopSourceFields::Load(const TDesktopSelection& selection) {
    (selection.names.isEmpty() ? every : ticked)->setChecked(true);
    Fill(listed, selection.names);
    setChecked(selection.on);
}

TDesktopSelection TDesktopSourceFields::Selection() const {
    if (!isChecked())
        return {};
    return {true, every->isChecked() ? QStringList() : TickedNames()};
}

QString TDesktopSourceFields::Incomplete() const {
    if (!isChecked() || every->isChecked() || !TickedNames().isEmpty())
        return {};
    return tr("Tick at least one %1 to read, or choose every %1 switched on at the desktop.")
        .arg(what);
}

void TDesktopSourceFields::ShowAsking() {
    status->setText(tr("Asking the desktop's calendar store..."));
    status->show();
}

void TDesktopSourceFields::TakeListing(const std::vector<TDesktopSourceInfo>& sources,
                                       const QString& problem) {
    // What the user ticked meanwhile (or what the profile named) is kept.
    const QStringList names = every->isChecked() ? QStringList() : TickedNames();
    listed = sources;
    Fill(listed, names);
    status->setText(!problem.isEmpty() ? problem
                    : listed.empty()   ? tr("The desktop's store has no %1.").arg(what)
                                       : QString());
    status->setVisible(!status->text().isEmpty());
}

// The store's sources, ticked as `names` chooses them (or, for every one
// switched on, as the desktop has them); a name the store does not have is
// kept as a line of its own.
void TDesktopSourceFields::Fill(const std::vector<TDesktopSourceInfo>& sources,
                                const QStringList& names) {
    filling = true;
    list->clear();
    QStringList unmatched = names;
    // By account, so an account's calendars stand together.
    std::vector<TDesktopSourceInfo> sorted = sources;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        const int account = a.account.compare(b.account, Qt::CaseInsensitive);
        return account != 0 ? account < 0 : a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    for (const TDesktopSourceInfo& info : sorted) {
        bool named = false;
        for (const QString& wanted : names)
            if (DesktopSourceNamed(wanted, info.uid, info.name)) {
                named = true;
                unmatched.removeAll(wanted);
            }
        const bool switchedOn = info.enabled && info.selected;
        QListWidgetItem* item = AddItem(Label(info), ProfileName(info, sources),
                                        every->isChecked() ? switchedOn : named);
        item->setData(kSwitchedOn, switchedOn);
        item->setToolTip(info.uid);
    }
    if (!every->isChecked())
        for (const QString& name : unmatched)
            AddItem(sources.empty() ? name : tr("%1 (not found at the desktop)").arg(name), name,
                    true);
    filling = false;
    FitList();
}

// Up to a few lines high; more scroll.
void TDesktopSourceFields::FitList() {
    const int rows = std::clamp(list->count(), 1, kListRows);
    const int row =
        std::max(list->count() > 0 ? list->sizeHintForRow(0) : 0, list->fontMetrics().height() + 4);
    list->setFixedHeight(rows * row + 2 * list->frameWidth());
}

QListWidgetItem* TDesktopSourceFields::AddItem(const QString& text, const QString& profileName,
                                               bool tickedNow) {
    auto* item = new QListWidgetItem(text, list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setData(kProfileName, profileName);
    item->setCheckState(tickedNow ? Qt::Checked : Qt::Unchecked);
    return item;
}

// "Every one switched on" shows which those are.
void TDesktopSourceFields::TickSwitchedOn() {
    filling = true;
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem* item = list->item(row);
        item->setCheckState(item->data(kSwitchedOn).toBool() ? Qt::Checked : Qt::Unchecked);
    }
    filling = false;
}

// Ticking one chooses the ticked ones.
void TDesktopSourceFields::ItemTicked() {
    if (!filling && every->isChecked())
        ticked->setChecked(true);
}

QStringList TDesktopSourceFields::TickedNames() const {
    QStringList names;
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->checkState() == Qt::Checked)
            names << list->item(row)->data(kProfileName).toString();
    return names;
}

// The store may take its whole bound to answer; the dialog stays usable.
void TDesktopSourceFields::Test() {
    if (const QString missing = Incomplete(); !missing.isEmpty()) {
        result->setText(missing);
        return;
    }
    RunTest(test, result,
            [selection = Selection(), kind = kind] { return ProbeDesktopSource(selection, kind); });
}

} // namespace rp::mailstore
