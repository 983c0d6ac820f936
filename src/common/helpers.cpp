#include "common/helpers.h"

#include <algorithm>
#include <atomic>
#include <system_error>

namespace tovalin {

namespace {

std::atomic<int> g_busy{0};        // helpers running, and batch jobs
thread_local bool t_counted = false; // this thread is one of g_busy

int cores()
{
    static const int n = std::max(1, int(std::thread::hardware_concurrency()));
    return n;
}

} // namespace

Helper::Helper(std::function<void()> work, Kind kind) : m_work(std::move(work)), m_kind(kind)
{
    // The caller takes a core too, unless it is already counted.
    const int busy = g_busy.fetch_add(1) + 1 + (t_counted ? 0 : 1);
    if (busy > cores()) {
        g_busy.fetch_sub(1);
        return;
    }
    try {
        m_thread = std::thread([this] {
            t_counted = true;
            m_work();
            g_busy.fetch_sub(1);
        });
    } catch (const std::system_error &) {
        g_busy.fetch_sub(1); // no thread to be had: the caller does it
    }
}

void Helper::wait()
{
    if (m_waited)
        return;
    m_waited = true;
    if (m_thread.joinable())
        m_thread.join();
    else if (m_kind == Needed)
        m_work();
}

BusyThread::BusyThread()
{
    g_busy.fetch_add(1);
    t_counted = true;
}

BusyThread::~BusyThread()
{
    t_counted = false;
    g_busy.fetch_sub(1);
}

int freeCores()
{
    return std::max(0, cores() - g_busy.load() - (t_counted ? 0 : 1));
}

} // namespace tovalin
