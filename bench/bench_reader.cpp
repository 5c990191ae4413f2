// bench_reader GRAPH_FILE [PASSES] [--no-cache]: the project's record reader alone, one pass
// by default. The first pass parses the text (and writes the binary record file that later
// passes read); each pass's time goes to standard output.
#include <time.h>

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "records/record_reader.h"

int main(int argc, char** argv) {
    const char* path = nullptr;
    int passes = 1;
    bool cache = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-cache") == 0) cache = false;
        else if (!path) path = argv[i];
        else passes = std::atoi(argv[i]);
    }
    if (!path || passes < 1) {
        std::fputs("usage: bench_reader GRAPH_FILE [PASSES] [--no-cache]\n", stderr);
        return 2;
    }
    plotmint::RecordReader reader;
    if (!cache) reader.set_cache_threshold(UINT64_MAX);
    if (!reader.open(path)) {
        std::perror(path);
        return 1;
    }
    uint64_t records = 0, sum = 0;
    const auto cpu_seconds = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    };
    for (int p = 1; p <= passes; ++p) {
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = cpu_seconds();
        reader.rewind();
        plotmint::Record r;
        while (reader.read_record(r)) {
            ++records;
            sum += static_cast<uint32_t>(r.code) * 31u + static_cast<uint32_t>(r.a) * 7u + static_cast<uint32_t>(r.b);
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // CPU time as well: on a busy machine the wall clock also counts other programs' turns.
        const double c = cpu_seconds() - c0;
        std::printf("pass %d: %.6f s, %.0f MiB/s, cpu %.6f s%s\n", p, s, static_cast<double>(reader.size()) / 1048576.0 / s,
                    c, reader.reading_cached_records() ? " (binary records)" : "");
    }
    std::printf("%" PRIu64 " records, checksum %" PRIu64 "\n", records, sum);
    return 0;
}
