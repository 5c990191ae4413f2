// The floor a converter of graph files into EMF cannot beat: one parse pass over the graph
// file plus writing the picture's bytes.
//
//   bench_floor record GRAPH CALLS [--table-dir DIR] [--hershey N] [--vhline N]
//       Renders GRAPH the way plotmint-convert does with those options (start-up tables,
//       the tables the file names, extent, every pass) onto a call log. Not timed.
//   bench_floor replay GRAPH CALLS OUT.emf
//       One pass of the record reader over GRAPH, then the logged drawing calls replayed
//       into the EMF writer writing OUT.emf: the same calls, so the same bytes as the
//       converter's picture, without any pass over the text beyond the first.
//   bench_floor raw GRAPH PICTURE OUT.emf
//       One pass of the record reader, then PICTURE's bytes copied to OUT.emf and synced,
//       as the EMF writer's file sink does: no EMF records built at all.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/core/draw_run.h"
#include "call_log.h"
#include "color/discovery.h"
#include "color/grids.h"
#include "records/record_reader.h"
#include "graph/renderer.h"
#include "metafile/emf_writer.h"

using namespace plotmint;

namespace {

struct Header {
    ReferenceDisplay display;
    Rect frame;
};

// The bare parse: no binary record file is written, as none is read back.
uint64_t parse_pass(const char* path) {
    RecordReader reader;
    reader.set_cache_threshold(UINT64_MAX);
    if (!reader.open(path)) {
        std::perror(path);
        std::exit(1);
    }
    uint64_t sum = 0;
    Record r;
    while (reader.read_record(r)) sum += static_cast<uint32_t>(r.code) + static_cast<uint32_t>(r.a) + static_cast<uint32_t>(r.b);
    return sum;
}

int record(int argc, char** argv) {
    const char* graph = argv[2];
    const char* calls = argv[3];
    std::string table_dir = ".";
    int32_t hershey = 1, vhline = 2;
    for (int i = 4; i + 1 < argc; i += 2) {
        const std::string o = argv[i];
        if (o == "--table-dir") table_dir = argv[i + 1];
        else if (o == "--hershey") hershey = std::atoi(argv[i + 1]);
        else if (o == "--vhline") vhline = std::atoi(argv[i + 1]);
    }
    NullLog log;
    // The converter's start-up and discovery, through the grid cells as it does them.
    HeldValues held;
    GridCells tone_cells(122), line_cells(32);
    auto show_tone = [&](const std::string& name) {
        read_tone_table(name, table_dir, held.tone, log);
        show_tone_cells(held.tone, tone_cells);
    };
    auto show_line = [&](const std::string& name) {
        read_line_color_table(name, table_dir, held.line_color, log);
        show_line_cells(held.line_color, line_cells);
    };
    show_tone(default_tone_path(table_dir));
    show_line(default_line_path(table_dir));
    find_color_table(graph, table_dir, true, DiscoveryCallbacks{show_tone, show_line}, log);
    read_tone_cells(tone_cells, held.tone);
    read_line_cells(line_cells, held.line_color);
    const auto palette = expand_tone_palette(held.tone);
    if (!palette) return 1;

    RecordReader reader;
    if (!reader.open(graph)) return 1;
    Extent extent;
    scan_extent(reader, extent);
    RenderSettings s;
    const int32_t margin = s.line_width[4];
    s.vhline_flag = vhline;
    s.hershey_choice = hershey;
    s.tone_color = *palette;
    s.line_color = held.line_color;
    const int64_t width = int64_t{extent.xmax} - extent.xmin + 2 * int64_t{margin};
    const int64_t height = int64_t{extent.ymax} - extent.ymin + 2 * int64_t{margin};
    const Header h{kDefaultDisplay, metafile_frame(width, height, margin, kDefaultDisplay)};

    std::FILE* out = std::fopen(calls, "wb");
    if (!out) {
        std::perror(calls);
        return 1;
    }
    std::fwrite(&h, sizeof h, 1, out);
    bench::CallLogSurface surface(out);
    make_metafile(reader, extent, margin, s, surface, log, log);
    if (std::fclose(out) != 0) return 1;
    return 0;
}

int replay(char** argv) {
    const uint64_t sum = parse_pass(argv[2]);
    const int fd = ::open(argv[3], O_RDONLY);
    struct stat st{};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(Header))) {
        std::perror(argv[3]);
        return 1;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }
    ::madvise(map, size, MADV_SEQUENTIAL);
    Header h;
    std::memcpy(&h, map, sizeof h);
    FileSink sink(argv[4]);
    EmfWriter writer(sink, h.display, h.frame);
    const auto* words = reinterpret_cast<const uint32_t*>(static_cast<const char*>(map) + sizeof h);
    if (!bench::replay_calls(words, (size - sizeof h) / 4, writer)) {
        std::fputs("damaged call log\n", stderr);
        return 1;
    }
    if (!writer.close()) {
        std::fprintf(stderr, "%s\n", writer.error().c_str());
        return 1;
    }
    std::printf("checksum %" PRIu64 ", %" PRIu64 " bytes\n", sum, writer.size());
    return 0;
}

int raw(char** argv) {
    const uint64_t sum = parse_pass(argv[2]);
    const int in = ::open(argv[3], O_RDONLY);
    const int out = ::open(argv[4], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0) {
        std::perror("open");
        return 1;
    }
    const size_t chunk = 1 << 20;
    std::unique_ptr<char[]> buf(new char[chunk]);
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(in, buf.get(), chunk);
        if (n < 0) return 1;
        if (n == 0) break;
        if (::write(out, buf.get(), static_cast<size_t>(n)) != n) return 1;
        total += static_cast<uint64_t>(n);
    }
    if (::fsync(out) != 0 || ::close(out) != 0) return 1;
    ::close(in);
    std::printf("checksum %" PRIu64 ", %" PRIu64 " bytes\n", sum, total);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc >= 4) return record(argc, argv);
    if (mode == "replay" && argc == 5) return replay(argv);
    if (mode == "raw" && argc == 5) return raw(argv);
    std::fputs("usage: bench_floor record GRAPH CALLS [--table-dir DIR] [--hershey N] [--vhline N]\n"
               "       bench_floor replay GRAPH CALLS OUT.emf\n"
               "       bench_floor raw GRAPH PICTURE OUT.emf\n",
               stderr);
    return 2;
}
