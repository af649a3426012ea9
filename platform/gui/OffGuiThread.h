// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Work that may wait (a server, the desktop's store, Online Accounts) runs on a
// thread of its own, so a window stays usable; its result comes back on the
// thread of the object that asked.

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <type_traits>

class QLabel;
class QPushButton;

namespace rp::mailstore {

// Runs `work` on a new thread and hands its result to `done` on the thread of
// `context`; `done` is dropped when `context` is gone by then.
template <class Work, class Done> void RunOffGuiThread(QObject* context, Work work, Done done) {
    using TResult = std::invoke_result_t<Work&>;
    auto result = std::make_shared<TResult>();
    QThread* worker =
        QThread::create([work = std::move(work), result]() mutable { *result = work(); });
    QObject::connect(worker, &QThread::finished, context,
                     [done = std::move(done), result] { done(*result); });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

// A "Test" button's run: the button waits while `result` says "Testing...",
// then what `probe` answered, or why it failed.
void RunTest(QPushButton* button, QLabel* result, std::function<QString()> probe);

} // namespace rp::mailstore
