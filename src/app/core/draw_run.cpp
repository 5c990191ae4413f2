#include "app/core/draw_run.h"

#include <cstdio>

#include "base/format.h"
#include "graph/record_reader.h"
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

}  // namespace

DrawRunResult draw_run(const std::string& graph_file, SettingsSource& settings, HeldValues& held,
                       const DrawRunOptions& options, LogSink& log) {
    DrawRunResult result;
    if (graph_file.empty()) {
        log.log_line("File name is empty.");
        return result;
    }
    log.log_line(strformat("open %s.", graph_file.c_str()));
    RecordReader reader;
    if (!reader.open(graph_file)) {
        log.log_line("Cannot open file.");
        return result;
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

    log.log_line("making metafile");
    RawStderr stderr_sink;
    LogSink& diagnostics = options.diagnostics ? *options.diagnostics : stderr_sink;
    const Rect frame = metafile_frame(width, height, margin, options.display);
    bool written = false;
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
            if (!written)
                log.log_line(strformat("cannot write %s: %s", options.output_path.c_str(), writer.error().c_str()));
        }
    }
    log.log_line("making metafile end");
    // A picture that was not written must not be reported as drawn: the file on disk
    // would be the previous run's.
    if (!written) return result;

    std::string error;
    result.picture = read_emf_file(options.output_path, error);
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
