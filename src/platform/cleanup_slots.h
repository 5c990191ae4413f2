#pragma once
// Names the cleanup handlers remove, shared by both platforms' implementations. A handler
// (a POSIX signal handler, or a Windows console handler in a thread of its own) may run at
// any moment, so the table is fixed storage and a slot's state says whether its name is
// complete: 0 free, 1 being filled or emptied, 2 complete. Only src/platform/ includes this.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>

namespace plotmint::platform::detail {

inline constexpr int kCleanupSlots = 32;
inline constexpr size_t kCleanupPathMax = 4096;

struct CleanupSlot {
    std::atomic<int> state{0};
    char path[kCleanupPathMax]{};
};
static_assert(std::atomic<int>::is_always_lock_free, "the handlers read the slot states");

// Filled in at compile time, never by code run at start-up: the converter's Qt module shares
// the converter's table (see src/app/export/convert_qt_shared.list), and an initialisation
// of its own, run as it is loaded, would empty the table under names already registered.
inline constinit CleanupSlot g_cleanup[kCleanupSlots];

inline int register_cleanup(const std::string& path) {
    if (path.size() >= kCleanupPathMax) return -1;
    for (int i = 0; i < kCleanupSlots; ++i) {
        int expected = 0;
        if (!g_cleanup[i].state.compare_exchange_strong(expected, 1)) continue;
        std::memcpy(g_cleanup[i].path, path.c_str(), path.size() + 1);
        g_cleanup[i].state.store(2);
        return i;
    }
    // More temporaries at once than slots: this one is only removed by its owner.
    return -1;
}

inline void unregister_cleanup(int& slot) {
    if (slot < 0 || slot >= kCleanupSlots) return;
    g_cleanup[slot].state.store(1);
    g_cleanup[slot].path[0] = '\0';
    g_cleanup[slot].state.store(0);
    slot = -1;
}

}  // namespace plotmint::platform::detail
