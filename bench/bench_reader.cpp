// bench_reader GRAPH_FILE [PASSES]: the project's record reader alone, one pass by default.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "graph/record_reader.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bench_reader GRAPH_FILE [PASSES]\n", stderr);
        return 2;
    }
    const int passes = argc > 2 ? std::atoi(argv[2]) : 1;
    plotmint::RecordReader reader;
    if (!reader.open(argv[1])) {
        std::perror(argv[1]);
        return 1;
    }
    uint64_t records = 0, sum = 0;
    for (int p = 0; p < passes; ++p) {
        reader.rewind();
        plotmint::Record r;
        while (reader.read_record(r)) {
            ++records;
            sum += static_cast<uint32_t>(r.code) * 31u + static_cast<uint32_t>(r.a) * 7u + static_cast<uint32_t>(r.b);
        }
    }
    std::printf("%" PRIu64 " records, checksum %" PRIu64 "\n", records, sum);
    return 0;
}
