#include "batch/batchrunner.h"

#include "common/helpers.h"
#include "common/memorypolicy.h"

#include <algorithm>
#include <thread>

namespace tovalin {

BatchRunner::BatchRunner(QList<PlannedFile> files, BatchOptions options, int jobs, std::int64_t memoryBudget, Done done)
    : m_files(std::move(files)), m_options(std::move(options)), m_jobs(std::max(1, jobs)), m_budget(memoryBudget),
      m_done(std::move(done))
{
}

void BatchRunner::run(const FileBytes &stdinFile)
{
    std::vector<std::thread> helpers;
    const int threads = std::min<int>(m_jobs, int(m_files.size()));
    for (int i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back([this, &stdinFile] { work(stdinFile); });
        } catch (const std::system_error &) {
            break; // no thread to spare: fewer files at once
        }
    }
    work(stdinFile);
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

void BatchRunner::work(const FileBytes &stdinFile)
{
    // A job of its own: the jobs' helper threads take only the cores the
    // jobs leave free.
    const BusyThread busy;
    for (int index = m_next++; index < m_files.size(); index = m_next++) {
        JobControl control;
        control.signal = m_external; // a signal stops the file being made, with no thread to watch for it
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                control.cancel = true;
            m_running.push_back(&control);
        }
        const bool notStarted = control.stopped();
        BatchOutcome outcome = notStarted ? BatchOutcome{} : runBatchFile(m_files[index], m_options, &control, &m_budget, stdinFile);
        if (control.stopped() && outcome.status != BatchStatus::Written) {
            outcome.status = BatchStatus::Failed;
            outcome.problem = notStarted ? BatchProblem::NotStarted : BatchProblem::Interrupted;
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
    return machineMemory() / 2;
}

int jobsWithin(int jobs, std::int64_t memoryBudget)
{
    return int(std::clamp<std::int64_t>(memoryBudget / kJobReserveBytes, 1, std::max(1, jobs)));
}

} // namespace tovalin
