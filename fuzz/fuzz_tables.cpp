// libFuzzer entry: see drivers/tables_driver.h for what the input's bytes mean.
#include <cstdio>
#include <cstdlib>

#include "drivers/tables_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string wrong = plotmint::fuzz::tables_one(data, size);
    if (!wrong.empty()) {
        std::fprintf(stderr, "fuzz_tables: %s\n", wrong.c_str());
        std::abort();
    }
    return 0;
}
