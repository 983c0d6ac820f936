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
    void run(const QByteArray &stdinBytes = {});
    // From any thread: files not started are not started; files being made
    // are abandoned before anything of them is written; files being written
    // finish. Their results say Interrupted.
    void stop();
    bool stopped() const { return m_stop; }
    // A flag a signal handler may set: once it is non-zero no further file
    // starts (stop() then abandons those being made).
    void watch(const std::atomic<int> *flag) { m_external = flag; }

private:
    void work(const QByteArray &stdinBytes);

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

// The default memory budget of a batch: half the machine's memory.
std::int64_t defaultBatchMemory();

} // namespace tovalin
