#pragma once
#include "batch/batchjob.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tovalin {

// Runs a batch's files on `jobs` threads at once, under one memory budget.
// Each result is handed to `done` as its file ends, from the thread that
// ran it, one call at a time.
class BatchRunner {
public:
    using Done = std::function<void(int index, const BatchOutcome &outcome)>;
    BatchRunner(QList<PlannedFile> files, BatchOptions options, int jobs, std::int64_t memoryBudget, Done done);

    // Blocks until every file has ended or the run was stopped.
    void run(const FileBytes &stdinFile = {});
    // From any thread: files not started are not started; files being made
    // are abandoned before anything of them is written; files being written
    // finish. Their results say NotStarted or Interrupted.
    void stop();
    bool stopped() const { return m_stop; }
    // From `done` (which must not wait for the runner): no further file starts.
    void stopSoon() { m_stop = true; }
    // A flag a signal handler may set: once it is non-zero no further file
    // starts and the files being made are abandoned.
    void watch(const std::atomic<int> *flag) { m_external = flag; }

private:
    void work(const FileBytes &stdinFile);

    const QList<PlannedFile> m_files;
    const BatchOptions m_options;
    const int m_jobs;
    MemoryBudget m_budget;
    const Done m_done;
    std::atomic<int> m_next{0};
    std::atomic<bool> m_stop{false};
    const std::atomic<int> *m_external = nullptr;
    std::mutex m_mutex; // the running jobs' controls, and calls to m_done
    std::vector<JobControl *> m_running;
};

// The default number of parallel jobs: the machine's cores.
int defaultJobs();

// The default memory budget of a batch: half the memory the process may
// count on (machineMemory()).
std::int64_t defaultBatchMemory();

// The jobs asked for, fewer where the budget cannot keep each job's
// reserve beside the others (at least one).
int jobsWithin(int jobs, std::int64_t memoryBudget);

} // namespace tovalin
