#pragma once
// One conversion of one graph file: colour-table discovery, the draw run (extent, margin and
// frame, the metafile with every pass) and the picture read back checked. Every front end
// (the window, the converter, fuzzers, benchmarks) is a thin caller of it; they differ only
// in where settings come from and where the picture goes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/geometry.h"
#include "base/log_sink.h"
#include "color/discovery.h"
#include "graph/renderer.h"
#include "graph/settings.h"
#include "metafile/emf_reader.h"
#include "records/record_reader.h"
#include "worker/worker.h"

namespace plotmint {

struct ExtentHalves;

class Surface;

// How far a run has got: which pass, and how many bytes of the graph file it has read (of the
// picture, for the read-back). Reported as each pass starts (bytes_done 0) and then about
// every 4 MiB, on the thread that runs the conversion, never per record; the read-back
// reports its start and its end.
struct RunProgress {
    RunPass pass;
    uint64_t bytes_done;
    uint64_t bytes_total;
};
using ProgressHandler = std::function<void(const RunProgress&)>;

// Where the picture goes.
struct PictureTarget {
    enum class Kind {
        file,     // `path`, written whole or not at all, then read back from the file
        memory,   // kept in memory and read back from there; the result's picture holds it
        surface,  // drawn onto `surface` (benchmarks); nothing is written or read back
    };
    Kind kind = Kind::file;
    std::string path = "graph.emf";
    // File only: whether the result's picture keeps the bytes of the file. Without them the
    // file is checked as it streams, in memory that does not grow with it.
    bool keep_bytes = true;
    Surface* surface = nullptr;

    static PictureTarget file(std::string path, bool keep_bytes = true) {
        return PictureTarget{Kind::file, std::move(path), keep_bytes, nullptr};
    }
    static PictureTarget memory() { return PictureTarget{Kind::memory, {}, true, nullptr}; }
    static PictureTarget onto(Surface& surface) { return PictureTarget{Kind::surface, {}, false, &surface}; }
};

struct DrawRunResult {
    bool picture_renewed = false;  // reached the step that drops the old picture
    bool rendered = false;         // make_metafile ran
    bool abandoned = false;        // the render was abandoned
    bool finished = false;         // "draw finished." was logged
    Extent extent;
    Rect frame;                         // the picture's rclFrame, once the run got that far
    TonePalette tone_color{};           // the fill tones the run drew with
    std::optional<EmfPicture> picture;  // the picture as read back
    std::string read_error;             // why the picture could not be read back
    std::string written_bytes;          // Kind::memory: what was written, when it did not read back
};

class Conversion {
public:
    // The graph file as named, used exactly as typed.
    explicit Conversion(std::string graph_file);
    // A graph file held in memory (tests, fuzzers, the browser).
    static Conversion of_text(std::string graph_text, std::string name = "graph.g");

    Conversion(Conversion&&) noexcept;
    Conversion& operator=(Conversion&&) noexcept;
    ~Conversion();

    const std::string& graph_file() const { return graph_file_; }

    // Where the Hershey layout's own diagnostics go; standard error unless set.
    void set_diagnostics(LogSink& diagnostics) { diagnostics_ = &diagnostics; }
    void set_progress(ProgressHandler progress) { progress_ = std::move(progress); }

    // Colour-table discovery on this graph file: the tables it names are shown through
    // `show`. The draw run after it reads the same file through the same reader.
    void find_color_tables(const std::string& table_dir, bool enabled, const DiscoveryCallbacks& show,
                           LogSink& log);

    // The draw run with `settings`, as built by the caller just before. The graph file is
    // closed when it returns; the reader's record file goes with the conversion, so a
    // conversion lives for one run.
    DrawRunResult run(const Settings& settings, const PictureTarget& target, LogSink& log);

    // The second line of work: make_worker() unless set (none where the build has no
    // threads). With one, the first pass parses a large file's two halves side by side, the
    // passes draw on the calling thread while the metafile's records are built and written
    // on another, and the picture is read back and checked while the file is made durable
    // and renamed into place; nullptr runs everything on the calling thread. The bytes, the
    // log lines and the outcome are the same either way.
    void use_worker(std::unique_ptr<Worker> worker);
    Worker* worker() const { return worker_.get(); }

    // The reader (tests that look at how records were read).
    RecordReader& reader() { return *reader_; }

private:
    Conversion(std::string graph_file, std::optional<std::string> text);
    bool open_source();
    void report(RunPass pass, uint64_t done, uint64_t total) const;

    std::string graph_file_;
    std::optional<std::string> text_;  // the graph file itself, when held in memory
    // What the extent scan needs of the halves of a file parsed in two, gathered while they
    // are parsed; the reader feeds them, so they outlive it.
    std::unique_ptr<ExtentHalves> halves_;
    std::unique_ptr<RecordReader> reader_;
    std::unique_ptr<Worker> worker_;
    // Writes the metafile while the passes draw: a thread of its own beside worker_, which
    // syncs what it writes meanwhile. With an inline worker the drawing calls take the same
    // way through the call log, replayed as they gather.
    std::unique_ptr<Worker> writer_worker_;
    LogSink* diagnostics_ = nullptr;
    ProgressHandler progress_;
    RunPass pass_ = RunPass::extent;
};

// For callers without grids (the converter, benchmarks): showing a table reads it straight
// into `settings`, as the window's grids would hand it to the run.
DiscoveryCallbacks tables_into(Settings& settings, const std::string& table_dir, LogSink& log);

// The preview rectangle for a W x H paint box (truncating integer arithmetic).
Rect preview_rect(const Extent& extent, int32_t box_width, int32_t box_height);

}  // namespace plotmint
