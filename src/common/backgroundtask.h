#pragma once
#include <QMetaObject>
#include <QObject>

#include <functional>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace tovalin {

// One piece of work at a time off the window's thread, its result handed
// to `done` on the owner's thread as a queued call. Where no thread can be
// had, the work runs on the caller at start() instead (the window waits,
// but the work is done) and the result still arrives queued, so the
// caller sees the same order of events either way. Qt's own pool would
// queue the work and never run it.
template <typename Result>
class BackgroundTask {
public:
    BackgroundTask(QObject *owner, std::function<void(Result)> done) : m_owner(owner), m_done(std::move(done)) {}
    ~BackgroundTask() { wait(); }
    BackgroundTask(const BackgroundTask &) = delete;
    BackgroundTask &operator=(const BackgroundTask &) = delete;

    void start(std::function<Result()> work)
    {
        wait();
        // Shared, so the work is still there when the thread cannot be made.
        const auto job = std::make_shared<std::function<Result()>>(std::move(work));
        try {
            m_thread = std::thread([this, job] { deliver((*job)()); });
        } catch (const std::system_error &) {
            deliver((*job)());
        }
    }

    // Until the work under way has run; its result may still be queued.
    void wait()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // The last work's result, after wait(): for a caller that cannot wait
    // for the queued call.
    const Result &result() const { return m_result; }

private:
    void deliver(Result result)
    {
        m_result = result;
        QMetaObject::invokeMethod(
            m_owner, [done = m_done, result = std::move(result)]() mutable { done(std::move(result)); },
            Qt::QueuedConnection);
    }

    QObject *m_owner;
    std::function<void(Result)> m_done;
    std::thread m_thread;
    Result m_result{};
};

} // namespace tovalin
