#pragma once
// A second line of work beside the caller's. Where the build has threads (the CMake option
// PLOTMINT_THREADS, on by default on Linux) make_worker() gives one that runs each job on a
// thread of its own while the caller goes on; elsewhere (the browser, Windows) it gives none,
// and the callers take their plain single-thread path. A worker that runs each job inline,
// at start(), exists everywhere: the code that splits its work in two is tested with it on
// builds without threads too. Whichever runs a job, its results must be the same.
#include <exception>
#include <functional>
#include <memory>
#include <utility>

namespace plotmint {

class Worker {
public:
    virtual ~Worker() = default;
    // Runs `job`, one at a time: a job started while another runs waits for it first.
    virtual void start(std::function<void()> job) = 0;
    // Returns once the job started last has finished; an exception it threw is thrown here.
    virtual void wait() = 0;
    // Whether jobs run beside the caller (false: start() has run the job already).
    virtual bool concurrent() const = 0;
};

// A worker on a thread of its own where the build has threads; nullptr where it has none.
std::unique_ptr<Worker> make_worker();
// A worker that runs each job inline, when it is started.
std::unique_ptr<Worker> make_inline_worker();

}  // namespace plotmint
