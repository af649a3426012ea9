// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SourceHealth.h"

#include <algorithm>
#include <array>

namespace rp {

namespace {

int Rank(const QString& source) {
    static const std::array<const char*, 8> order{
        health::Calendar, health::Tasks,      health::Inbox,   health::Send,
        health::Push,     health::StateFiles, health::Profile, health::Gateway};
    for (size_t index = 0; index < order.size(); ++index)
        if (source == QLatin1String(order[index]))
            return static_cast<int>(index);
    return static_cast<int>(order.size());
}

} // namespace

bool TSourceHealth::Report(const QString& source, const QString& problem) {
    std::lock_guard guard(lock);
    const auto found = problems.find(source);
    if (problem.isEmpty()) {
        if (found == problems.end())
            return false;
        problems.erase(found);
        return true;
    }
    if (found != problems.end() && found->second == problem)
        return false;
    problems[source] = problem;
    return true;
}

QList<TSourceProblem> TSourceHealth::Problems() const {
    QList<TSourceProblem> list;
    {
        std::lock_guard guard(lock);
        for (const auto& [source, problem] : problems)
            list.append({source, problem});
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return Rank(a.source) < Rank(b.source); });
    return list;
}

bool TSourceHealth::AnyFailing() const {
    std::lock_guard guard(lock);
    return !problems.empty();
}

} // namespace rp
