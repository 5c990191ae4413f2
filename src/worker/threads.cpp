// make_worker for builds with threads: one thread per job. A job is a whole half of a parse
// or the commit of a picture, tens of milliseconds at least, so a thread's start-up (tens of
// microseconds) is not worth a pool. The thread gets a small stack of its own: the default
// (8 MiB, kept by the C library after the thread ends) would count against an address-space
// limit that the single-thread program fits in.
#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "worker/worker.h"

namespace plotmint {

namespace {

constexpr size_t kStackBytes = size_t{512} << 10;

class ThreadWorker final : public Worker {
public:
    ~ThreadWorker() override { join(); }
    void start(std::function<void()> job) override {
        join();
        failure_ = nullptr;
        job_ = std::move(job);
        pthread_attr_t attr;
        int err = pthread_attr_init(&attr);
        if (err == 0) {
            err = pthread_attr_setstacksize(&attr, kStackBytes);
            if (err == 0) err = pthread_create(&thread_, &attr, &ThreadWorker::run, this);
            pthread_attr_destroy(&attr);
        }
        if (err != 0) {
            // No thread to be had (a process or memory limit): the job runs here instead.
            run(this);
            return;
        }
        running_ = true;
    }
    void wait() override {
        join();
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    bool concurrent() const override { return true; }

private:
    static void* run(void* self) {
        auto* worker = static_cast<ThreadWorker*>(self);
        try {
            worker->job_();
        } catch (...) {
            worker->failure_ = std::current_exception();
        }
        worker->job_ = nullptr;
        return nullptr;
    }
    void join() {
        if (!running_) return;
        pthread_join(thread_, nullptr);
        running_ = false;
    }

    pthread_t thread_{};
    bool running_ = false;
    std::function<void()> job_;   // touched by the thread only between start and join
    std::exception_ptr failure_;  // written by the job, read after the join
};

class ThreadChannel final : public WordChannel {
public:
    explicit ThreadChannel(size_t depth) : depth_(depth < 1 ? 1 : depth) {}
    void put(std::vector<uint32_t>& chunk) override {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return waiting_.size() < depth_ || stopped_; });
        if (stopped_) {
            chunk.clear();
            return;
        }
        waiting_.push_back(std::move(chunk));
        chunk = take_spare();
        lock.unlock();
        ready_.notify_one();
    }
    bool take(std::vector<uint32_t>& chunk) override {
        std::unique_lock lock(mutex_);
        if (chunk.capacity() > 0) {
            chunk.clear();
            spare_.push_back(std::move(chunk));
        }
        ready_.wait(lock, [this] { return !waiting_.empty() || closed_; });
        if (waiting_.empty()) return false;
        chunk = std::move(waiting_.front());
        waiting_.pop_front();
        lock.unlock();
        room_.notify_one();
        return true;
    }
    void close() override {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
        }
        ready_.notify_all();
    }
    void stop_taking() override {
        {
            const std::lock_guard lock(mutex_);
            stopped_ = true;
            waiting_.clear();
        }
        room_.notify_all();
    }

private:
    std::vector<uint32_t> take_spare() {
        if (spare_.empty()) return {};
        std::vector<uint32_t> v = std::move(spare_.back());
        spare_.pop_back();
        return v;
    }

    const size_t depth_;
    std::mutex mutex_;
    std::condition_variable room_, ready_;
    std::deque<std::vector<uint32_t>> waiting_;
    std::vector<std::vector<uint32_t>> spare_;
    bool closed_ = false, stopped_ = false;
};

}  // namespace

std::unique_ptr<Worker> make_worker() { return std::make_unique<ThreadWorker>(); }

std::unique_ptr<WordChannel> make_word_channel(size_t depth) { return std::make_unique<ThreadChannel>(depth); }

}  // namespace plotmint
