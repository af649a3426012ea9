// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether each place Ringpost reads from or writes to works: the calendar, the
// task list, the inbox, sending, push, the state files, the profile. Any thread
// may report; the window keeps what fails in view until the source works again.

#include <QList>
#include <QString>
#include <functional>
#include <map>
#include <mutex>

namespace rp {

// The stable ids of the sources, in the order the window lists them.
namespace health {
inline constexpr char Calendar[] = "calendar";
inline constexpr char Tasks[] = "tasks";
inline constexpr char Inbox[] = "inbox";
inline constexpr char Send[] = "send";
inline constexpr char Push[] = "push";
inline constexpr char StateFiles[] = "state-files";
inline constexpr char Profile[] = "profile";
inline constexpr char Gateway[] = "gateway";
} // namespace health

// One report: `problem` says what fails in words the user can act on; an empty
// `problem` says the source works (again).
using TSourceHealthSink = std::function<void(const QString& source, const QString& problem)>;

struct TSourceProblem {
    QString source;
    QString problem;
    bool operator==(const TSourceProblem&) const = default;
};

// What fails now. Reports may come from any thread.
class TSourceHealth {
public:
    // True when the report changed what fails.
    bool Report(const QString& source, const QString& problem);
    // The known ids in their order, then any other id by name.
    QList<TSourceProblem> Problems() const;
    bool AnyFailing() const;

private:
    mutable std::mutex lock;
    std::map<QString, QString> problems;
};

} // namespace rp
