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

#include "app/core/conversion.h"
#include "metafile/call_log.h"
#include "metafile/emf_writer.h"
#include "records/record_reader.h"

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
    // The converter's start-up, discovery and draw run, onto the call log.
    Settings settings;
    settings.vhline = vhline_mode_from_index(vhline);
    settings.hershey = hershey_choice_from_index(hershey);
    const DiscoveryCallbacks show = tables_into(settings, table_dir, log);
    show.show_tone(default_tone_path(table_dir));
    show.show_line(default_line_path(table_dir));
    Conversion conversion(graph);
    conversion.set_diagnostics(log);
    conversion.find_color_tables(table_dir, true, show, log);

    std::FILE* out = std::fopen(calls, "wb");
    if (!out) {
        std::perror(calls);
        return 1;
    }
    // The header is written once the run knows the frame; the calls follow it.
    if (std::fseek(out, static_cast<long>(sizeof(Header)), SEEK_SET) != 0) return 1;
    bool written = true;
    CallEncoder surface(size_t{1} << 16, [&](std::vector<uint32_t>& words) {
        written = written && std::fwrite(words.data(), 4, words.size(), out) == words.size();
    });
    const DrawRunResult r = conversion.run(settings, PictureTarget::onto(surface), log);
    surface.flush();
    if (!r.rendered || !written) return 1;
    const Header h{settings.display, r.frame};
    if (std::fflush(out) != 0 || std::fseek(out, 0, SEEK_SET) != 0 || std::fwrite(&h, sizeof h, 1, out) != 1) return 1;
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
    if (!CallReplayer(writer).replay(words, (size - sizeof h) / 4)) {
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
