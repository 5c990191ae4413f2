// libFuzzer entry: see drivers/emf_driver.h for what the input's bytes mean.
#include <cstdio>
#include <cstdlib>

#include "drivers/emf_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string wrong = plotmint::fuzz::emf_one(data, size);
    if (!wrong.empty()) {
        std::fprintf(stderr, "fuzz_emf: %s\n", wrong.c_str());
        std::abort();
    }
    return 0;
}
