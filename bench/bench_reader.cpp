// bench_reader GRAPH_FILE [PASSES] [--no-cache]: the project's record reader alone, one pass
// by default. The first pass parses the text (and writes the binary record file that later
// passes read); each pass's time goes to standard output.
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "graph/record_reader.h"

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
    for (int p = 1; p <= passes; ++p) {
        const auto t0 = std::chrono::steady_clock::now();
        reader.rewind();
        plotmint::Record r;
        while (reader.read_record(r)) {
            ++records;
            sum += static_cast<uint32_t>(r.code) * 31u + static_cast<uint32_t>(r.a) * 7u + static_cast<uint32_t>(r.b);
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("pass %d: %.6f s, %.0f MiB/s%s\n", p, s, static_cast<double>(reader.size()) / 1048576.0 / s,
                    reader.reading_cached_records() ? " (binary records)" : "");
    }
    std::printf("%" PRIu64 " records, checksum %" PRIu64 "\n", records, sum);
    return 0;
}
