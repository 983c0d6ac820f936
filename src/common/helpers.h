#pragma once
#include <functional>
#include <thread>

namespace tovalin {

// Work beside the caller, on a helper thread, shared by the whole process:
// a helper starts only while fewer helpers and batch jobs are busy than
// there are cores (so parallel jobs do not multiply threads) and only where
// a thread can be had. Otherwise the work runs on the
// caller when it waits, or is dropped where it was only worth doing beside
// (Optional). Helpers are handed raw pointers to what they work on, never
// an object that detaches (a shared QImage).
class Helper {
public:
    enum Kind {
        Needed,   // the work must be done: inline at wait() if no helper ran it
        Optional, // a speed-up only (mapping memory in): skipped if no helper
    };
    explicit Helper(std::function<void()> work, Kind kind = Needed);
    ~Helper() { wait(); }
    Helper(const Helper &) = delete;
    Helper &operator=(const Helper &) = delete;

    // After it the work has run (or, Optional, was skipped).
    void wait();
    // Whether a helper thread took the work (also after wait()).
    bool beside() const { return m_beside; }

private:
    std::function<void()> m_work;
    Kind m_kind;
    std::thread m_thread;
    bool m_beside = false;
    bool m_waited = false;
};

// A thread that does a batch job of its own counts as busy while this lives.
class BusyThread {
public:
    BusyThread();
    ~BusyThread();
    BusyThread(const BusyThread &) = delete;
    BusyThread &operator=(const BusyThread &) = delete;
};

// How many helpers a caller could start now (0 when every core is busy).
int freeCores();

// Whether a helper could start now: a core is free and a thread could be
// made (one is, and ends at once). For libraries that make threads of their
// own and cannot do without them once asked.
bool helperToBeHad();

} // namespace tovalin
