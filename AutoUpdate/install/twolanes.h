#pragma once

#include "base/result.h"

#include <QThread>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

// Work on many files that is mostly reading, hashing and writing, done on two threads: this one
// takes the items of one lane, a second thread those of the other. Each lane stops at the first
// failure on either; the failure is handed back (this lane's first, when both fail).
template <typename T>
Outcome onTwoLanes(const QVector<T>& here, const QVector<T>& beside,
                   const std::function<Outcome(const T&)>& work)
{
    std::atomic_bool failed{false};
    const auto lane = [&](const QVector<T>& items) {
        for (const T& item : items) {
            if (failed)
                break;
            const Outcome done = work(item);
            if (!done) {
                failed = true;
                return done;
            }
        }
        return Outcome::success();
    };
    Outcome besideDone = Outcome::success();
    const std::unique_ptr<QThread> thread(QThread::create([&] { besideDone = lane(beside); }));
    thread->start();
    const Outcome hereDone = lane(here);
    thread->wait();
    return hereDone ? besideDone : hereDone;
}
