#include "app/core/draw_run.h"

#include <cstdio>
#include <vector>

#include "base/format.h"
#include "records/record_reader.h"
#include "metafile/emf_writer.h"

namespace plotmint {

namespace {

// Standard error as the Hershey layout writes it: the text as is, its own "\n" included.
class RawStderr final : public LogSink {
public:
    void log_line(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
};

// Releases the record file the graph file's reader leaves behind, once the run is over.
struct ParkedRecordsRelease {
    ~ParkedRecordsRelease() { RecordReader::release_parked_cache(); }
};

}  // namespace

DrawRunResult draw_run(const std::string& graph_file, SettingsSource& settings, HeldValues& held,
                       const DrawRunOptions& options, LogSink& log) {
    DrawRunResult result;
    if (graph_file.empty()) {
        log.log_line("File name is empty.");
        return result;
    }
    log.log_line(strformat("open %s.", graph_file.c_str()));
    const ParkedRecordsRelease release_records;  // declared first: runs after the reader closes
    // The reader counts its rewinds; each names the pass that it starts.
    std::vector<RunPass> passes{RunPass::extent_text, RunPass::extent_segments};
    RecordReader reader;
    if (!reader.open(graph_file)) {
        log.log_line("Cannot open file.");
        return result;
    }
    if (options.progress) {
        reader.set_progress([&passes, &options](uint32_t n, uint64_t done, uint64_t total) {
            if (n >= 1 && n <= passes.size()) options.progress(static_cast<int>(passes[n - 1]), done, total);
        });
    }

    Extent& extent = result.extent;
    extent = Extent{};
    scan_extent(reader, extent);
    if (reader.bad_item())
        log.log_line(strformat("item at byte %llu of the graph file is not an integer.  reading stops there.",
                               static_cast<unsigned long long>(reader.bad_item_offset())));
    log.log_line(strformat("xmin : %d", extent.xmin));
    log.log_line(strformat("xmax : %d", extent.xmax));
    log.log_line(strformat("ymin : %d", extent.ymin));
    log.log_line(strformat("ymax : %d", extent.ymax));

    result.picture_renewed = true;
    settings.read_line_width(held.line_width);
    const int32_t margin = held.line_width[4];
    log.log_line(strformat("margin : %d", margin));
    const int64_t width = static_cast<int64_t>(extent.xmax) - extent.xmin + 2 * static_cast<int64_t>(margin);
    const int64_t height = static_cast<int64_t>(extent.ymax) - extent.ymin + 2 * static_cast<int64_t>(margin);

    settings.read_vhline_pen(held.vhline_pen);
    settings.read_tone_nodes(held.tone);
    auto palette = expand_tone_palette(held.tone);
    if (!palette) {
        log.log_line("bug exist in setting tone_color.");
        return result;
    }
    held.tone_color = *palette;
    settings.read_line_colors(held.line_color);

    RenderSettings render;
    render.line_width = held.line_width;
    render.vhline_flag = settings.vhline_flag();
    render.tone_color = held.tone_color;
    render.line_color = held.line_color;
    render.vhline_pen = held.vhline_pen;
    render.hershey_choice = settings.hershey_choice();

    passes.push_back(RunPass::fill);
    if (render.vhline_flag == 1 || render.vhline_flag == 2) passes.push_back(RunPass::vhline);
    passes.push_back(RunPass::line);
    if (render.hershey_choice > 0) passes.push_back(RunPass::substitution);

    log.log_line("making metafile");
    RawStderr stderr_sink;
    LogSink& diagnostics = options.diagnostics ? *options.diagnostics : stderr_sink;
    const Rect frame = metafile_frame(width, height, margin, options.display);
    bool written = false;
    uint64_t written_bytes = 0;
    {
        FileSink sink(options.output_path);
        if (!sink.ok()) {
            log.log_line(strformat("cannot write %s: %s", options.output_path.c_str(), sink.error().c_str()));
        } else {
            EmfWriter writer(sink, options.display, frame);
            result.rendered = true;
            result.abandoned =
                make_metafile(reader, extent, margin, render, writer, log, diagnostics) == RenderOutcome::abandoned;
            written = writer.close();
            written_bytes = writer.size();
            if (!written)
                log.log_line(strformat("cannot write %s: %s", options.output_path.c_str(), writer.error().c_str()));
        }
    }
    log.log_line("making metafile end");
    // A picture that was not written must not be reported as drawn: the file on disk
    // would be the previous run's.
    if (!written) return result;

    std::string error;
    if (options.progress) options.progress(static_cast<int>(RunPass::read_back), 0, written_bytes);
    result.picture = options.keep_picture_bytes ? read_emf_file(options.output_path, error)
                                                : validate_emf_file(options.output_path, error);
    if (options.progress) options.progress(static_cast<int>(RunPass::read_back), written_bytes, written_bytes);
    if (!result.picture) {
        result.read_error = error;
        return result;
    }
    log.log_line("draw finished.");
    result.finished = true;
    return result;
}

Rect preview_rect(const Extent& e, int32_t w, int32_t h) {
    auto div = [](int64_t a, int64_t b) { return static_cast<int32_t>(a / b); };
    return Rect{div(static_cast<int64_t>(w) * e.xmin, 5240), div(static_cast<int64_t>(h) * (7860 - static_cast<int64_t>(e.ymax)), 7860),
                div(static_cast<int64_t>(w) * e.xmax, 5240), div(static_cast<int64_t>(h) * (7860 - static_cast<int64_t>(e.ymin)), 7860)};
}

}  // namespace plotmint
