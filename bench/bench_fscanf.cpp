// bench_fscanf GRAPH_FILE: one pass with fscanf("%d%d%d"), the plain way to read a graph
// file.
#include <cinttypes>
#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bench_fscanf GRAPH_FILE\n", stderr);
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "r");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    int c, a, b;
    uint64_t records = 0, sum = 0;
    while (std::fscanf(f, "%d%d%d", &c, &a, &b) == 3) {
        ++records;
        sum += static_cast<uint32_t>(c) * 31u + static_cast<uint32_t>(a) * 7u + static_cast<uint32_t>(b);
    }
    std::fclose(f);
    std::printf("%" PRIu64 " records, checksum %" PRIu64 "\n", records, sum);
    return 0;
}
