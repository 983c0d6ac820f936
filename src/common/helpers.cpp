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
    // Batch jobs and their helpers together keep to the cores. A single
    // job's own thread (the window's, the benchmark's) is not counted, and
    // may have one helper more than the cores: an encoding started ahead on
    // a wrong guess then never holds up the next one (the search of a small
    // picture took 3 ms longer without).
    if (g_busy.fetch_add(1) + 1 > cores() + (t_counted ? 0 : 1)) {
        g_busy.fetch_sub(1);
        return;
    }
    try {
        m_thread = std::thread([this] {
            t_counted = true;
            m_work();
            g_busy.fetch_sub(1);
        });
        m_beside = true;
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
    return std::max(0, cores() - g_busy.load());
}

bool helperToBeHad()
{
    Helper probe([] {}, Helper::Optional);
    return probe.beside();
}

} // namespace tovalin
