#pragma once
// A second line of work beside the caller's. Where the build has threads (the CMake option
// PLOTMINT_THREADS, on by default on Linux) make_worker() gives one that runs each job on a
// thread of its own while the caller goes on; elsewhere (the browser, Windows) it gives none,
// and the callers take their plain single-thread path. A worker that runs each job inline,
// at start(), exists everywhere: the code that splits its work in two is tested with it on
// builds without threads too. Whichever runs a job, its results must be the same.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

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

// Chunks of words handed from one thread to a job on another, in order, with at most a few
// waiting: the giver waits while the taker is behind, so the memory they hold stays bounded
// however much is handed over.
class WordChannel {
public:
    virtual ~WordChannel() = default;
    // Hands `chunk` over and leaves an empty vector in its place (one the taker is done
    // with, when there is one, so that its memory is used again). Once the taker has
    // stopped, chunks are dropped and put() never waits.
    virtual void put(std::vector<uint32_t>& chunk) = 0;
    // The next chunk, into `chunk` (whose old contents are given back for reuse); false once
    // the giver has closed the channel and every chunk has been taken.
    virtual bool take(std::vector<uint32_t>& chunk) = 0;
    // The giver's last word: nothing more will come.
    virtual void close() = 0;
    // The taker's last word: it takes nothing more (it failed), so the giver must not wait.
    virtual void stop_taking() = 0;
};

// A channel that holds at most `depth` chunks waiting; nullptr where the build has no threads.
std::unique_ptr<WordChannel> make_word_channel(size_t depth);

}  // namespace plotmint
