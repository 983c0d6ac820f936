#include "batch/batchrunner.h"

#include "common/helpers.h"

#include <algorithm>
#include <thread>
#include <unistd.h>

namespace tovalin {

BatchRunner::BatchRunner(QList<PlannedFile> files, BatchOptions options, int jobs, std::int64_t memoryBudget, Done done)
    : m_files(std::move(files)), m_options(std::move(options)), m_jobs(std::max(1, jobs)), m_budget(memoryBudget),
      m_done(std::move(done))
{
}

void BatchRunner::run(const QByteArray &stdinBytes)
{
    std::vector<std::thread> helpers;
    const int threads = std::min<int>(m_jobs, int(m_files.size()));
    for (int i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back([this, &stdinBytes] { work(stdinBytes); });
        } catch (const std::system_error &) {
            break; // no thread to spare: fewer files at once
        }
    }
    work(stdinBytes);
    for (std::thread &t : helpers)
        t.join();
}

void BatchRunner::stop()
{
    m_stop = true;
    std::lock_guard lock(m_mutex);
    for (JobControl *control : m_running)
        control->cancel = true;
}

void BatchRunner::work(const QByteArray &stdinBytes)
{
    // A job of its own: the jobs' helper threads take only the cores the
    // jobs leave free.
    const BusyThread busy;
    for (int index = m_next++; index < m_files.size(); index = m_next++) {
        JobControl control;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop || (m_external && *m_external))
                control.cancel = true;
            m_running.push_back(&control);
        }
        BatchOutcome outcome = control.cancel ? BatchOutcome{} : runBatchFile(m_files[index], m_options, &control, &m_budget, stdinBytes);
        if (control.cancel && outcome.status != BatchStatus::Written) {
            outcome.status = BatchStatus::Failed;
            outcome.problem = BatchProblem::Interrupted;
        }
        std::lock_guard lock(m_mutex);
        m_running.erase(std::find(m_running.begin(), m_running.end(), &control));
        m_done(index, outcome);
    }
}

int defaultJobs()
{
    return std::max(1, int(std::thread::hardware_concurrency()));
}

std::int64_t defaultBatchMemory()
{
    return std::int64_t(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE) / 2;
}

} // namespace tovalin
