#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tovalin {

// Bytes shared by a batch's parallel jobs: a job claims what its picture
// will take before decoding it, and waits while the others hold too much,
// so a large picture waits rather than pushing the process past the
// budget. A claim larger than the whole budget goes alone.
class MemoryBudget {
public:
    explicit MemoryBudget(std::int64_t bytes) : m_total(bytes) {}

    void acquire(std::int64_t bytes)
    {
        std::unique_lock lock(m_mutex);
        m_freed.wait(lock, [&] { return m_held == 0 || m_held + bytes <= m_total; });
        m_held += bytes;
    }

    void release(std::int64_t bytes)
    {
        {
            std::lock_guard lock(m_mutex);
            m_held -= bytes;
        }
        m_freed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::int64_t m_total;
    std::int64_t m_held = 0;
};

} // namespace tovalin
