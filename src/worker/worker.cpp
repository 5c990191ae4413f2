#include "worker/worker.h"

namespace plotmint {

namespace {

class InlineWorker final : public Worker {
public:
    void start(std::function<void()> job) override {
        failure_ = nullptr;
        try {
            job();
        } catch (...) {
            failure_ = std::current_exception();
        }
    }
    void wait() override {
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    bool concurrent() const override { return false; }

private:
    std::exception_ptr failure_;
};

}  // namespace

std::unique_ptr<Worker> make_inline_worker() { return std::make_unique<InlineWorker>(); }

}  // namespace plotmint
