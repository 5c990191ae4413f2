// The browser's entry into the core: web/plotmint.js lays the graph file and the tables out
// in emscripten's file system as plotmint-convert would find them in its current folder,
// and calls these functions. A conversion is the converter's own picture run
// (app/core/picture_run.h), so the log and the outcome are the converter's; what is
// written to the converter's standard error is collected here byte for byte instead.
#include <emscripten.h>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "app/core/picture_run.h"
#include "base/format.h"
#include "color/grids.h"
#include "color/tables.h"
#include "graph/settings.h"
#include "metafile/svg_writer.h"

// Progress goes to the page as it happens, not at the end.
EM_JS(void, plotmint_js_progress, (const char* pass, double done, double total), {
    if (Module.plotmintProgress) Module.plotmintProgress(UTF8ToString(pass), done, total);
});

namespace {

using namespace plotmint;

// What the converter would have written to its standard error.
std::string error_stream;
// The last result's tables and SVG error, read by the JavaScript side after a call.
std::string result_json;

// The converter's message log: one line, then a line feed.
class LineLog final : public LogSink {
public:
    void log_line(std::string_view text) override {
        error_stream.append(text);
        error_stream.push_back('\n');
    }
};

// The Hershey layout's own text, written as it comes, its line feeds included.
class RawLog final : public LogSink {
public:
    void log_line(std::string_view text) override { error_stream.append(text); }
};

void note(const std::string& text) {
    error_stream.append("plotmint-convert: ");
    error_stream.append(text);
    error_stream.push_back('\n');
}

void append_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            out += strformat("\\u%04x", u);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

// {"rows":[[tone,r,g,b],...],"text":"..."}: the nodes in use.
std::string tone_json(const ToneTable& table) {
    std::string out = "{\"rows\":[";
    const int32_t count = table.count < 0 ? 0 : table.count > kToneSlots ? kToneSlots : table.count;
    for (int32_t i = 0; i < count; ++i) {
        const size_t k = static_cast<size_t>(i);
        out += strformat("%s[%d,%d,%d,%d]", i ? "," : "", table.tone[k], table.color[k].r, table.color[k].g,
                         table.color[k].b);
    }
    out += "],\"text\":";
    append_json_string(out, tone_file_text(tone_grid_cells(table), count));
    out += "}";
    return out;
}

// {"rows":[[r,g,b],...31],"text":"..."}: entry n is row n.
std::string line_json(const LineColorTable& table) {
    std::string out = "{\"rows\":[";
    for (size_t n = 0; n < table.size(); ++n)
        out += strformat("%s[%d,%d,%d]", n ? "," : "", table[n].r, table[n].g, table[n].b);
    out += "],\"text\":";
    append_json_string(out, line_file_text(line_grid_cells(table)));
    out += "}";
    return out;
}

// The fields of `ints`, in this order.
enum Field : int {
    widths = 0,       // 5
    vhline = 5,       // 1
    vhline_pen = 6,   // 4: r, g, b, width
    hershey = 10,     // 1
    display = 11,     // 4: hmm, vmm, hpx, vpx
    field_count = 15,
};

Settings settings_from(const int32_t* v) {
    Settings s;
    for (size_t i = 0; i < 5; ++i) s.widths.width[i] = v[widths + static_cast<int>(i)];
    s.vhline = vhline_mode_from_index(v[vhline]);
    s.vhline_pen = VhlinePen{Rgb{v[vhline_pen], v[vhline_pen + 1], v[vhline_pen + 2]}, v[vhline_pen + 3]};
    s.hershey = hershey_choice_from_index(v[hershey]);
    s.display = ReferenceDisplay{v[display], v[display + 1], v[display + 2], v[display + 3]};
    return s;
}

}  // namespace

extern "C" {

// The converter's standard error of the last call, and its size in bytes.
EMSCRIPTEN_KEEPALIVE const char* plotmint_log_data() { return error_stream.data(); }
EMSCRIPTEN_KEEPALIVE size_t plotmint_log_size() { return error_stream.size(); }
EMSCRIPTEN_KEEPALIVE const char* plotmint_result_json() { return result_json.c_str(); }
EMSCRIPTEN_KEEPALIVE int plotmint_field_count() { return field_count; }

// The converter's defaults, from where they are defined.
EMSCRIPTEN_KEEPALIVE const char* plotmint_defaults_json() {
    const Settings d;
    const auto& w = d.widths.width;
    result_json = strformat(
        "{\"widths\":[%d,%d,%d,%d,%d],\"vhline\":%d,\"vhlinePen\":[%d,%d,%d,%d],\"hershey\":%d,"
        "\"display\":[%d,%d,%d,%d],\"discovery\":true}",
        w[0], w[1], w[2], w[3], w[4], static_cast<int>(d.vhline), d.vhline_pen.color.r, d.vhline_pen.color.g,
        d.vhline_pen.color.b, d.vhline_pen.width, static_cast<int>(d.hershey), d.display.horz_mm, d.display.vert_mm,
        d.display.horz_px, d.display.vert_px);
    return result_json.c_str();
}

// One conversion of `graph_file` into the metafile `metafile`, as
//   plotmint-convert [--tone TONE] [--line LINE] --table-dir TABLE_DIR [--no-discovery]
//                    --widths ... --vhline ... --vhline-pen ... --hershey ... --display ...
//                    -o METAFILE GRAPH_FILE
// would run it (an empty TONE or LINE: the default). With a non-empty `svg`, the SVG is
// played from the metafile into that file. Returns the converter's exit status; 3 when
// memory ran out, after which the module's state is not to be trusted and the caller starts
// a fresh one.
EMSCRIPTEN_KEEPALIVE int plotmint_convert(const char* graph_file, const char* table_dir, const char* tone,
                                          const char* line, int discovery, const int32_t* ints,
                                          const char* metafile, const char* svg) {
    error_stream.clear();
    result_json.clear();
    const std::string output = metafile;
    try {
        PictureRunRequest request;
        request.graph_file = graph_file;
        request.table_dir = table_dir;
        if (*tone) request.tone = tone;
        if (*line) request.line = line;
        request.discovery = discovery != 0;
        request.drawing = settings_from(ints);

        LineLog log;
        RawLog diagnostics;
        PictureRunHooks hooks;
        hooks.log = &log;
        hooks.diagnostics = &diagnostics;
        hooks.progress = [](const RunProgress& p) {
            plotmint_js_progress(run_pass_name(p.pass), static_cast<double>(p.bytes_done),
                                 static_cast<double>(p.bytes_total));
        };
        size_t startup_bytes = 0;
        hooks.startup_tables_read = [&startup_bytes] { startup_bytes = error_stream.size(); };
        hooks.note = note;
        // A temporary file lives in the page's memory; the graph file itself is read a piece
        // at a time, so without a record file memory does not grow with the graph file.
        hooks.record_file = false;
        hooks.metafile = [&output](const std::vector<std::string>& inputs) -> std::optional<std::string> {
            if (writes_over_input({output}, inputs, note)) return std::nullopt;
            return output;
        };
        const PictureRunOutcome outcome = run_picture(request, hooks);
        const bool drawn = outcome.drawn();

        // Whatever picture was written and read back, an abandoned drawing's too, as the
        // window shows it.
        const DrawRunResult& result = outcome.result;
        std::string svg_error;
        bool svg_written = false;
        if (result.picture && *svg) svg_written = convert_emf_file_to_svg(output, svg, svg_error);
        result_json = "{\"tone\":" + tone_json(outcome.settings.tone) + ",\"line\":" +
                      line_json(outcome.settings.line_color) + ",\"svgWritten\":" + (svg_written ? "true" : "false") +
                      strformat(",\"startupBytes\":%llu", static_cast<unsigned long long>(startup_bytes)) +
                      ",\"svgError\":";
        append_json_string(result_json, svg_error);
        if (result.picture_renewed) {
            const Extent& e = result.extent;
            const Rect place = preview_rect(e, 5240, 7860);
            result_json += strformat(",\"extent\":{\"xmin\":%d,\"xmax\":%d,\"ymin\":%d,\"ymax\":%d}", e.xmin,
                                     e.xmax, e.ymin, e.ymax);
            result_json += strformat(",\"place\":{\"left\":%d,\"top\":%d,\"right\":%d,\"bottom\":%d}",
                                     place.left, place.top, place.right, place.bottom);
        }
        result_json += "}";
        return drawn ? 0 : 1;
    } catch (const std::bad_alloc&) {
        note(out_of_memory_note(output));
        return 3;
    }
}

// Reads a table file as the window's show does, starting from an empty table.
// kind 0: tone, 1: line colour. Returns 1 when the table can be drawn with.
EMSCRIPTEN_KEEPALIVE int plotmint_read_table(int kind, const char* path, const char* table_dir) {
    error_stream.clear();
    result_json.clear();
    LineLog log;
    if (kind == 0) {
        // A read that fails keeps the node count but has written the slots of the nodes it
        // read, which the window's grid then shows; the reader does not say how many, so the
        // file is read twice over different fillings: a slot read is the same in both.
        ToneTable table;
        ToneTable other;
        table.tone.fill(std::numeric_limits<int32_t>::min());
        table.color.fill(Rgb{std::numeric_limits<int32_t>::min(), 0, std::numeric_limits<int32_t>::min()});
        other.tone.fill(std::numeric_limits<int32_t>::max());
        other.color.fill(Rgb{std::numeric_limits<int32_t>::max(), 1, std::numeric_limits<int32_t>::max()});
        read_tone_table(path, table_dir, table, log);
        NullLog quiet;
        read_tone_table(path, table_dir, other, quiet);
        const bool ok = table.count >= 2;
        if (!ok) {
            int32_t read = 0;
            while (read < kToneSlots && table.tone[read] == other.tone[read] && table.color[read] == other.color[read])
                ++read;
            table.count = read;
        }
        result_json = tone_json(table);
        return ok ? 1 : 0;
    }
    LineColorTable table{};
    read_line_color_table(path, table_dir, table, log);
    result_json = line_json(table);
    // A table whose colour mode cannot be read draws every line black.
    return error_stream.find("color mode |") == std::string::npos && error_stream.find("cannot open") == std::string::npos
               ? 1
               : 0;
}

// The file a table's Save would write from grid cells: `cells` holds the rows after the
// title row, cells split by 0x1f and rows ended by 0x1e. kind 0: tone (every row a node),
// 1: line colour. The text is read back with plotmint_result_json.
EMSCRIPTEN_KEEPALIVE void plotmint_write_table(int kind, const char* cells) {
    GridCells grid(1);
    std::array<std::string, 4> row;
    size_t column = 0;
    for (const char* c = cells; *c; ++c) {
        if (*c == '\x1e') {
            grid.push_back(row);
            row = {};
            column = 0;
        } else if (*c == '\x1f') {
            if (column < 3) ++column;
        } else {
            row[column].push_back(*c);
        }
    }
    result_json = kind == 0 ? tone_file_text(grid, static_cast<int32_t>(grid.size() - 1)) : line_file_text(grid);
}

}  // extern "C"
