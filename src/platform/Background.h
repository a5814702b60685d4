#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <utility>

namespace reelbox {

// Runs `work` on the pool and hands its result to `done` on the main thread, unless `receiver`
// is gone by then. `work` must not throw: it returns its failure as part of its result.
template <class Work, class Done>
void runInBackground(QThreadPool* pool, QObject* receiver, Work work, Done done) {
    QPointer<QObject> guard(receiver);
    pool->start([guard, work = std::move(work), done = std::move(done)]() mutable {
        auto result = work();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done = std::move(done), result = std::move(result)]() mutable {
                if (guard)
                    done(std::move(result));
            },
            Qt::QueuedConnection);
    });
}

} // namespace reelbox
