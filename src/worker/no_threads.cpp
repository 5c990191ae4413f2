// make_worker for builds without threads: there is no second line of work, and callers
// take their single-thread path.
#include "worker/worker.h"

namespace plotmint {

std::unique_ptr<Worker> make_worker() { return nullptr; }

std::unique_ptr<WordChannel> make_word_channel(size_t) { return nullptr; }

}  // namespace plotmint
