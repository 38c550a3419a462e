// The pacing tool's load and measures, one file per system: CPU hogs pinned
// to the cores, the calling thread's CPU time, the cores online.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// CPU hogs that spin until this object ends, hog i pinned to core i (modulo
// the cores). Linux: processes in sessions of their own, killed with this
// process; Windows: threads of the lowest priority class kept, since
// Windows has no fork to make a process of this one.
class Hogs {
public:
    explicit Hogs(unsigned count);
    ~Hogs();
    Hogs(const Hogs&) = delete;
    Hogs& operator=(const Hogs&) = delete;
    size_t count() const { return ids_.size(); }

private:
    std::vector<intptr_t> ids_;
};

// The calling thread's CPU time, in ms.
double thread_cpu_ms();
long online_cores();
// What the runner's priority request asks for: "SCHED_FIFO" on Linux,
// "time-critical priority" on Windows.
const char* realtime_priority_name();
