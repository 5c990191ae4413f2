// plotmint-convert: the window's start-up and one draw run, driven by options.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/core/draw_run.h"
#include "base/format.h"
#include "base/log_sink.h"
#include "base/parse_int.h"
#include "color/discovery.h"
#include "color/grids.h"
#include "color/tables.h"

#ifndef PLOTMINT_VERSION
#define PLOTMINT_VERSION "dev"
#endif

namespace {

using namespace plotmint;

constexpr const char* kUsage =
    "Usage: plotmint-convert [OPTIONS] [GRAPH_FILE]\n"
    "Convert a graph file (plain-text plotter records) into an Enhanced Metafile.\n"
    "\n"
    "GRAPH_FILE is used exactly as typed (default: graph.g). The run loads the start-up\n"
    "tone and line colour tables, loads the tables the graph file names (colour-table\n"
    "discovery), then draws the picture and reads it back to check it.\n"
    "\n"
    "Options:\n"
    "  -o, --output PATH        picture file to write (default: graph.emf in the current\n"
    "                           directory)\n"
    "      --tone FILE          tone table shown at start-up (default:\n"
    "                           TABLEDIR/tone-default.ktc)\n"
    "      --line FILE          line colour table shown at start-up (default:\n"
    "                           TABLEDIR/line-default.klc)\n"
    "      --table-dir DIR      directory of the default and the named colour tables\n"
    "                           (default: the directory of this program)\n"
    "      --no-discovery       do not load the colour tables the graph file names\n"
    "      --widths A,B,C,D,E   pen widths for width indices 1..5; E is also the margin\n"
    "                           (default: 12,16,20,24,28)\n"
    "      --vhline N           vertical/horizontal line blocks: 0 as segments, 1 one\n"
    "                           dotted line, 2 one line in the --vhline-pen (default: 2)\n"
    "      --vhline-pen R,G,B,W colour and width of that line (default: 200,200,200,1)\n"
    "      --hershey N          Hershey text: 0 keep the strokes, 1 set in Arial,\n"
    "                           2 set in Times New Roman (default: 1)\n"
    "      --display HMM,VMM,HPX,VPX\n"
    "                           reference display: width and height in millimetres,\n"
    "                           width and height in pixels (default: 527,296,1920,1080,\n"
    "                           a common 24-inch display); one graph unit is one pixel\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "Standard error carries the message log, one line per message, in order.\n"
    "Exit status: 0 when the picture was drawn and read back, 1 when the run stopped,\n"
    "the drawing was abandoned or the picture could not be read back, 2 for a usage error.\n";

struct Options {
    std::string graph_file = "graph.g";
    std::string output = "graph.emf";
    std::optional<std::string> tone, line, table_dir;
    bool discovery = true;
    std::array<int32_t, 5> widths{12, 16, 20, 24, 28};
    int32_t vhline = 2;
    std::array<int32_t, 4> vhline_pen{200, 200, 200, 1};
    int32_t hershey = 1;
    ReferenceDisplay display = kDefaultDisplay;
};

struct UsageError {
    std::string message;
};

// "a,b,c": exactly N whole numbers.
template <size_t N>
std::array<int32_t, N> parse_list(const std::string& option, const std::string& text) {
    std::array<int32_t, N> out{};
    size_t pos = 0;
    for (size_t i = 0; i < N; ++i) {
        const size_t comma = text.find(',', pos);
        const std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        auto p = parse_int_at(item, 0);
        if (!p || p->end != item.size() || item.empty() || item[0] == ' ')
            throw UsageError{strformat("%s: '%s' is not a list of %zu whole numbers", option.c_str(), text.c_str(), N)};
        out[i] = p->value;
        if (i + 1 < N) {
            if (comma == std::string::npos)
                throw UsageError{strformat("%s: '%s' is not a list of %zu whole numbers", option.c_str(), text.c_str(), N)};
            pos = comma + 1;
        } else if (comma != std::string::npos) {
            throw UsageError{strformat("%s: '%s' is not a list of %zu whole numbers", option.c_str(), text.c_str(), N)};
        }
    }
    return out;
}

int32_t parse_choice(const std::string& option, const std::string& text) {
    if (text == "0" || text == "1" || text == "2") return text[0] - '0';
    throw UsageError{strformat("%s: '%s' is not 0, 1 or 2", option.c_str(), text.c_str())};
}

Options parse_options(int argc, char** argv, bool& exit_now) {
    Options o;
    bool have_file = false;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
            if (have_file) throw UsageError{strformat("more than one graph file given ('%s')", arg.c_str())};
            o.graph_file = arg;
            have_file = true;
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        std::string value;
        bool inline_value = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inline_value = true;
            }
        }
        auto need = [&]() -> std::string {
            if (inline_value) return value;
            if (i + 1 >= argc) throw UsageError{arg + ": a value is missing"};
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            exit_now = true;
            return o;
        } else if (arg == "--version") {
            std::printf("plotmint-convert %s\n", PLOTMINT_VERSION);
            exit_now = true;
            return o;
        } else if (arg == "-o" || arg == "--output") {
            o.output = need();
            if (o.output.empty()) throw UsageError{arg + ": the path is empty"};
        } else if (arg == "--tone") {
            o.tone = need();
        } else if (arg == "--line") {
            o.line = need();
        } else if (arg == "--table-dir") {
            o.table_dir = need();
        } else if (arg == "--no-discovery") {
            if (inline_value) throw UsageError{arg + " takes no value"};
            o.discovery = false;
        } else if (arg == "--widths") {
            o.widths = parse_list<5>(arg, need());
        } else if (arg == "--vhline") {
            o.vhline = parse_choice(arg, need());
        } else if (arg == "--vhline-pen") {
            o.vhline_pen = parse_list<4>(arg, need());
        } else if (arg == "--hershey") {
            o.hershey = parse_choice(arg, need());
        } else if (arg == "--display") {
            auto d = parse_list<4>(arg, need());
            for (int32_t v : d)
                if (v <= 0) throw UsageError{arg + ": every value must be above 0"};
            o.display = ReferenceDisplay{d[0], d[1], d[2], d[3]};
        } else {
            throw UsageError{strformat("unknown option '%s'", argv[i])};
        }
    }
    return o;
}

std::string program_directory(const char* argv0) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe = std::filesystem::absolute(argv0, ec);
    return exe.parent_path().string();
}

// The grids of the window, kept as cell text so a run reads them back exactly as the
// window would.
class GridSettings final : public SettingsSource {
public:
    explicit GridSettings(const Options& o) : o_(o) {
        tone_cells.assign(122, {});
        line_cells.assign(32, {});
    }
    void read_line_width(std::array<int32_t, 5>& w) override { w = o_.widths; }
    void read_vhline_pen(std::array<int32_t, 4>& p) override { p = o_.vhline_pen; }
    void read_tone_nodes(ToneTable& t) override { read_tone_cells(tone_cells, t); }
    void read_line_colors(LineColorTable& c) override { read_line_cells(line_cells, c); }
    int32_t vhline_flag() override { return o_.vhline; }
    int32_t hershey_choice() override { return o_.hershey; }

    GridCells tone_cells, line_cells;

private:
    const Options& o_;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        bool exit_now = false;
        options = parse_options(argc, argv, exit_now);
        if (exit_now) return 0;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "plotmint-convert: %s\nTry 'plotmint-convert --help' for more information.\n",
                     e.message.c_str());
        return 2;
    }

    StreamLog log(stderr);
    const std::string table_dir = options.table_dir ? *options.table_dir : program_directory(argv[0]);
    GridSettings grids(options);
    HeldValues held;

    auto show_tone = [&](const std::string& name) {
        read_tone_table(name, table_dir, held.tone, log);
        show_tone_cells(held.tone, grids.tone_cells);
    };
    auto show_line = [&](const std::string& name) {
        read_line_color_table(name, table_dir, held.line_color, log);
        show_line_cells(held.line_color, grids.line_cells);
    };
    show_tone(options.tone ? *options.tone : default_tone_path(table_dir));
    show_line(options.line ? *options.line : default_line_path(table_dir));

    find_color_table(options.graph_file, table_dir, options.discovery, DiscoveryCallbacks{show_tone, show_line}, log);

    DrawRunOptions run_options;
    run_options.output_path = options.output;
    run_options.display = options.display;
    const DrawRunResult result = draw_run(options.graph_file, grids, held, run_options, log);
    if (result.rendered && !result.picture && !result.read_error.empty())
        std::fprintf(stderr, "plotmint-convert: %s: %s.\n", options.output.c_str(), result.read_error.c_str());
    return result.finished && !result.abandoned ? 0 : 1;
}
