// plotmint-convert: the window's start-up and one draw run per graph file, driven by options;
// the picture is then written as EMF, SVG, PDF or PNG.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "app/cli/progress_line.h"
#include "app/core/conversion.h"
#include "app/core/picture_run.h"
#include "app/core/table_dir.h"
#include "base/format.h"
#include "base/log_sink.h"
#include "base/parse_int.h"
#include "base/platform.h"
#include "color/tables.h"
#include "graph/settings.h"
#include "metafile/svg_writer.h"

#include "app/export/picture_format.h"

#ifdef PLOTMINT_HAVE_EXPORT
#include "app/cli/qt_module.h"
#endif

#ifndef PLOTMINT_VERSION
#define PLOTMINT_VERSION "dev"
#endif

namespace {

using namespace plotmint;

constexpr const char* kUsage =
    "Usage: plotmint-convert [OPTIONS] [GRAPH_FILE]\n"
    "   or: plotmint-convert [OPTIONS] --output-dir DIR GRAPH_FILE...\n"
    "Convert a graph file (plain-text plotter records) into an Enhanced Metafile, and from\n"
    "that metafile into SVG, PDF or PNG.\n"
    "\n"
    "GRAPH_FILE is used exactly as typed (default: graph.g). Each conversion loads the\n"
    "start-up tone and line colour tables, loads the tables the graph file names\n"
    "(colour-table discovery), draws the picture into an Enhanced Metafile and reads it\n"
    "back to check it. SVG, PDF and PNG are played back from that metafile, which is\n"
    "written as graph.emf in the current directory first; so every format shows the same\n"
    "picture.\n"
    "\n"
    "{EMF_AND_SVG_ONLY}"
    "Output:\n"
    "  -o, --output PATH        file to write (default: graph.emf, or graph.FORMAT with\n"
    "                           --format, in the current directory); an extension .emf,\n"
    "                           .svg, .pdf or .png chooses the format, any other means EMF\n"
    "  -f, --format FORMAT      emf, svg, pdf or png, whatever the extension of the output\n"
    "      --width PX           width of a PNG in pixels; alone, the height follows the\n"
    "                           picture's aspect\n"
    "      --height PX          height of a PNG in pixels; with --width, the PNG fits inside\n"
    "                           both, aspect kept (default: the longest side {LONGEST} pixels)\n"
    "      --dpi N              instead of a size, a PNG of the picture's physical size at\n"
    "                           N dots per inch, 1 to {MAXDPI} (300 for print; {DPI} is about\n"
    "                           one pixel per graph unit with the default --display)\n"
    "                           A PNG may have up to {MAXSIDE} pixels a side; it is drawn a\n"
    "                           band of rows at a time, so its pixels take at most {BANDMB} MB\n"
    "                           of memory whatever its size; it records its resolution, so\n"
    "                           it prints at the picture's physical size\n"
    "  -d, --output-dir DIR     convert each GRAPH_FILE into DIR/NAME.FORMAT, NAME being the\n"
    "                           graph file's name without its extension; each starts from\n"
    "                           the start-up tables, as separate runs would; DIR is created\n"
    "                           when missing\n"
    "  -q, --quiet              show no progress line on a terminal\n"
    "{COPY}"
    "      --watch              after converting, keep running and convert again whenever a\n"
    "                           graph file changes on disk (written, or replaced under its\n"
    "                           name) and is then left alone for {SETTLE} ms, so a burst of\n"
    "                           writes gives one picture; with --output-dir each file is\n"
    "                           watched and only a changed one converted; a file that is\n"
    "                           removed is converted when it is back; stop with Ctrl-C or\n"
    "                           SIGTERM, which let a conversion under way finish\n"
    "\n"
    "Drawing:\n"
    "      --tone FILE          tone table shown at start-up (default:\n"
    "                           TABLEDIR/tone-default.ktc)\n"
    "      --line FILE          line colour table shown at start-up (default:\n"
    "                           TABLEDIR/line-default.klc)\n"
    "      --table-dir DIR      directory of the default and the named colour tables\n"
    "                           (default: TABLEDIR)\n"
    "      --no-discovery       do not load the colour tables the graph file names\n"
    "      --widths A,B,C,D,E   pen widths for width indices 1..5; E is also the margin\n"
    "                           (default: {WIDTHS})\n"
    "      --vhline N           vertical/horizontal line blocks: 0 as segments, 1 one\n"
    "                           dotted line, 2 one line in the --vhline-pen (default: {VHLINE})\n"
    "      --vhline-pen R,G,B,W colour and width of that line (default: {PEN})\n"
    "      --hershey N          Hershey text: 0 keep the strokes, 1 set in Arial,\n"
    "                           2 set in Times New Roman (default: {HERSHEY})\n"
    "      --display HMM,VMM,HPX,VPX\n"
    "                           reference display: width and height in millimetres,\n"
    "                           width and height in pixels (default: {DISPLAY},\n"
    "                           a common 24-inch display); one graph unit is one pixel\n"
    "\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "TABLEDIR is the directory of this program when it holds tone-default.ktc or\n"
    "line-default.klc, otherwise ../share/plotmint beside that directory.\n"
    "\n"
    "Standard error carries the message log, one line per message, in order. With\n"
    "--output-dir, one more line after each graph file's messages gives its outcome:\n"
    "  plotmint-convert: a.g: converted to DIR/a.svg\n"
    "  plotmint-convert: b.g: failed\n"
    "On a terminal, a status line shows how many bytes of the graph file each pass has\n"
    "read; it is erased before every message, and not shown with --quiet or when standard\n"
    "error is not a terminal.\n"
    "\n"
    "Exit status: 0 when every picture was drawn, read back and written; 1 when a run\n"
    "stopped, a drawing was abandoned, or a picture could not be read back or written;\n"
    "2 for a usage error. With --watch, the status is that of each graph file's last\n"
    "conversion.\n"
    "\n"
    "Examples:\n"
    "{EXAMPLES}"
    "  plotmint-convert --output-dir out --format svg a.g b.g c.g\n";

// Lines for what this build can and cannot do; where it can do all, none, so the help of
// the full build reads as it always has.
constexpr const char* kEmfAndSvgOnly =
    "This build writes EMF and SVG only: PDF and PNG (and with them --width, --height and\n"
    "--dpi) are played back with Qt, which only the Linux build has. Asking for either\n"
    "here ends with exit status 1.\n"
    "\n";
constexpr const char* kCopyOption =
    "      --copy               after the conversion, put its metafile (the EMF written, or\n"
    "                           the one an SVG was played from) on the clipboard as an\n"
    "                           enhanced metafile, the picture other programs paste; only\n"
    "                           when the picture was drawn, read back and written, else\n"
    "                           the clipboard is left as it was; with --watch after each\n"
    "                           such conversion; not with --output-dir\n";
constexpr const char* kExportExamples =
    "  plotmint-convert examples/graph.g -o graph.pdf\n"
    "  plotmint-convert --dpi 300 -o graph.png examples/graph.g\n";
constexpr const char* kCopyExample = "  plotmint-convert --copy examples/graph.g\n";

#ifdef PLOTMINT_HAVE_EXPORT
constexpr bool kHasExport = true;
#else
constexpr bool kHasExport = false;
#endif

// How long a changed graph file must stay unchanged before it is converted again, and how
// often the files are looked at. A writer's burst of writes, or a save by writing a new file
// and renaming it over the old, settles well within this.
constexpr std::chrono::milliseconds kWatchSettle{300};
constexpr std::chrono::milliseconds kWatchPoll{100};

// The help text with the defaults filled in from where they are defined.
std::string usage_text() {
    const Settings d;
    const auto& w = d.widths.width;
    const VhlinePen& p = d.vhline_pen;
    const ReferenceDisplay& s = d.display;
    const std::pair<const char*, std::string> fields[] = {
        {"{WIDTHS}", strformat("%d,%d,%d,%d,%d", w[0], w[1], w[2], w[3], w[4])},
        {"{PEN}", strformat("%d,%d,%d,%d", p.color.r, p.color.g, p.color.b, p.width)},
        {"{DISPLAY}", strformat("%d,%d,%d,%d", s.horz_mm, s.vert_mm, s.horz_px, s.vert_px)},
        {"{VHLINE}", strformat("%d", static_cast<int>(d.vhline))},
        {"{HERSHEY}", strformat("%d", static_cast<int>(d.hershey))},
        {"{MAXDPI}", strformat("%d", kMaxPngDpi)},
        {"{DPI}", strformat("%d", kDefaultPngDpi)},
        {"{LONGEST}", strformat("%d", kDefaultPngLongestSide)},
        {"{MAXSIDE}", strformat("%d", kMaxPngSide)},
        {"{BANDMB}", strformat("%lld", kPngBandBytes >> 20)},
        {"{SETTLE}", strformat("%lld", static_cast<long long>(kWatchSettle.count()))},
        {"{EMF_AND_SVG_ONLY}", kHasExport ? "" : kEmfAndSvgOnly},
        {"{COPY}", platform::metafile_clipboard_available() ? kCopyOption : ""},
        {"{EXAMPLES}", std::string(kHasExport ? kExportExamples : "") +
                           (platform::metafile_clipboard_available() ? kCopyExample : "")},
    };
    std::string text = kUsage;
    for (const auto& [key, value] : fields)
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
            text.replace(at, std::strlen(key), value);
    return text;
}

struct Options {
    std::vector<std::string> graph_files;
    std::optional<std::string> output, output_dir;
    std::optional<PictureFormat> format;
    // PNG size: at most one of a resolution or a box.
    std::optional<int> dpi, width, height;
    bool quiet = false;
    bool watch = false;
    bool copy = false;  // the metafile onto the clipboard after each converted picture
    std::optional<std::string> tone, line, table_dir;
    bool discovery = true;
    // Pen widths, line modes and the display; the tables come from the files at each run.
    Settings drawing;
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
            throw UsageError{strformat("%s: '%s' is not a list of %llu whole numbers", option.c_str(), text.c_str(), static_cast<unsigned long long>(N))};
        out[i] = p->value;
        if (i + 1 < N) {
            if (comma == std::string::npos)
                throw UsageError{strformat("%s: '%s' is not a list of %llu whole numbers", option.c_str(), text.c_str(), static_cast<unsigned long long>(N))};
            pos = comma + 1;
        } else if (comma != std::string::npos) {
            throw UsageError{strformat("%s: '%s' is not a list of %llu whole numbers", option.c_str(), text.c_str(), static_cast<unsigned long long>(N))};
        }
    }
    return out;
}

int32_t parse_choice(const std::string& option, const std::string& text) {
    if (text == "0" || text == "1" || text == "2") return text[0] - '0';
    throw UsageError{strformat("%s: '%s' is not 0, 1 or 2", option.c_str(), text.c_str())};
}

// A whole number from 1 to `max`: a resolution or a side in pixels.
int parse_positive(const std::string& option, const std::string& text, int max) {
    const auto p = parse_int_at(text, 0);
    if (!p || p->end != text.size() || text.empty() || text[0] == ' ' || p->value < 1 || p->value > max)
        throw UsageError{strformat("%s: '%s' is not a whole number from 1 to %d", option.c_str(), text.c_str(), max)};
    return p->value;
}

// Where each graph file of an --output-dir run goes: DIR/NAME.FORMAT.
std::string output_in_dir(const std::string& dir, const std::string& graph_file, PictureFormat format) {
    const std::string name = std::filesystem::path(graph_file).stem().string();
    return (std::filesystem::path(dir) / (name + "." + format_extension(format))).string();
}

Options parse_options(int argc, char** argv, bool& exit_now) {
    Options o;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
            o.graph_files.push_back(arg);
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
        auto flag = [&] {
            if (inline_value) throw UsageError{arg + " takes no value"};
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage_text().c_str(), stdout);
            exit_now = true;
            return o;
        } else if (arg == "--version") {
            std::printf("plotmint-convert %s\n", PLOTMINT_VERSION);
            exit_now = true;
            return o;
        } else if (arg == "-o" || arg == "--output") {
            o.output = need();
            if (o.output->empty()) throw UsageError{arg + ": the path is empty"};
        } else if (arg == "-d" || arg == "--output-dir") {
            o.output_dir = need();
            if (o.output_dir->empty()) throw UsageError{arg + ": the path is empty"};
        } else if (arg == "-f" || arg == "--format") {
            const std::string name = need();
            o.format = format_from_name(name);
            if (!o.format) throw UsageError{strformat("%s: '%s' is not emf, svg, pdf or png", arg.c_str(), name.c_str())};
        } else if (arg == "--dpi") {
            o.dpi = parse_positive(arg, need(), kMaxPngDpi);
        } else if (arg == "--width") {
            o.width = parse_positive(arg, need(), kMaxPngSide);
        } else if (arg == "--height") {
            o.height = parse_positive(arg, need(), kMaxPngSide);
        } else if (arg == "--watch") {
            flag();
            o.watch = true;
        } else if (arg == "-q" || arg == "--quiet") {
            flag();
            o.quiet = true;
        } else if (arg == "--copy" && platform::metafile_clipboard_available()) {
            flag();
            o.copy = true;
        } else if (arg == "--tone") {
            o.tone = need();
        } else if (arg == "--line") {
            o.line = need();
        } else if (arg == "--table-dir") {
            o.table_dir = need();
        } else if (arg == "--no-discovery") {
            flag();
            o.discovery = false;
        } else if (arg == "--widths") {
            o.drawing.widths.width = parse_list<5>(arg, need());
        } else if (arg == "--vhline") {
            o.drawing.vhline = vhline_mode_from_index(parse_choice(arg, need()));
        } else if (arg == "--vhline-pen") {
            const auto p = parse_list<4>(arg, need());
            o.drawing.vhline_pen = VhlinePen{Rgb{p[0], p[1], p[2]}, p[3]};
        } else if (arg == "--hershey") {
            o.drawing.hershey = hershey_choice_from_index(parse_choice(arg, need()));
        } else if (arg == "--display") {
            auto d = parse_list<4>(arg, need());
            for (int32_t v : d)
                if (v <= 0) throw UsageError{arg + ": every value must be above 0"};
            o.drawing.display = ReferenceDisplay{d[0], d[1], d[2], d[3]};
        } else {
            throw UsageError{strformat("unknown option '%s'", argv[i])};
        }
    }

    // A resolution sets the size; a box as well would contradict it or be ignored.
    if (o.dpi && (o.width || o.height))
        throw UsageError{strformat("--dpi cannot be used with %s; give either a resolution or a size",
                                   o.width ? "--width" : "--height")};

    if (o.output_dir) {
        if (o.output) throw UsageError{"--output and --output-dir cannot be used together"};
        // The clipboard holds one picture.
        if (o.copy) throw UsageError{"--copy cannot be used with --output-dir; the clipboard holds one picture"};
        if (o.graph_files.empty()) throw UsageError{"--output-dir needs at least one graph file"};
        // Two graph files of the same name would overwrite each other's picture.
        const PictureFormat format = o.format.value_or(PictureFormat::emf);
        std::map<std::string, std::string> taken;
        for (const std::string& g : o.graph_files) {
            const std::string out = output_in_dir(*o.output_dir, g, format);
            const auto [it, fresh] = taken.emplace(out, g);
            if (!fresh)
                throw UsageError{strformat("'%s' and '%s' would both be written to %s", it->second.c_str(), g.c_str(),
                                           out.c_str())};
        }
    } else {
        if (o.graph_files.size() > 1)
            throw UsageError{strformat("more than one graph file given ('%s'); use --output-dir DIR to convert several",
                                       o.graph_files[1].c_str())};
        if (o.graph_files.empty()) o.graph_files.push_back("graph.g");
    }
    return o;
}

std::string program_directory(const char* argv0) {
    std::error_code ec;
    std::filesystem::path exe = platform::program_path();
    if (exe.empty()) exe = std::filesystem::absolute(argv0, ec);
    return exe.parent_path().string();
}

// Standard error as the Hershey layout writes it: the text as is, its own "\n" included.
class RawStream final : public LogSink {
public:
    explicit RawStream(std::FILE* stream) : stream_(stream) {}
    void log_line(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stream_);
        std::fflush(stream_);
    }

private:
    std::FILE* stream_;
};

// One conversion: where the picture goes and in which format.
struct Job {
    std::string graph_file;
    std::string output;
    PictureFormat format = PictureFormat::emf;
    bool output_named = false;  // -o or --output-dir: graph.emf is not asked for
    std::string metafile;       // where the run writes the metafile
};

// A private folder for a metafile nobody asked to keep, removed with the metafile when the
// conversion ends, and by the cleanup handlers when a signal ends it first.
class ScratchFolder {
public:
    explicit ScratchFolder(std::string path)
        : path_(std::move(path)),
          metafile_((std::filesystem::path(path_) / "graph.emf").string()),
          folder_slot_(platform::register_removal(path_)),
          metafile_slot_(platform::register_removal(metafile_)) {}
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
        platform::unregister_removal(metafile_slot_);
        platform::unregister_removal(folder_slot_);
    }
    const std::string& metafile() const { return metafile_; }

private:
    std::string path_, metafile_;
    int folder_slot_, metafile_slot_;
};

// What a conversion needs besides the options: the shared streams and, for the formats
// played back through Qt, the module that writes them, loaded on first use.
class Converter {
public:
    Converter(const Options& options, std::string table_dir, std::string program_dir)
        : options_(options),
          table_dir_(std::move(table_dir)),
          progress_(stderr, !options.quiet && platform::is_terminal(stderr)),
          plain_(stderr),
          raw_(stderr),
          log_(plain_, progress_),
#ifdef PLOTMINT_HAVE_EXPORT
          diagnostics_(raw_, progress_),
          qt_writer_(std::move(program_dir)) {
    }
#else
          diagnostics_(raw_, progress_) {
        (void)program_dir;
    }
#endif

    // True when the picture was drawn, read back and written.
    bool convert(const Job& job);

    // An outcome or error line of the converter itself, after the progress line is erased.
    void note(const std::string& text) {
        progress_.write_around([&] { std::fprintf(stderr, "plotmint-convert: %s\n", text.c_str()); });
    }

private:
    bool convert_picture(const Job& job);
    bool write_picture(const Job& job, const EmfPicture& picture);
    ProgressHandler progress_reporter(const std::string& graph_file);

    const Options& options_;
    std::string table_dir_;
    ProgressLine progress_;
    StreamLog plain_;
    RawStream raw_;
    ProgressAwareLog log_;
    ProgressAwareLog diagnostics_;
#ifdef PLOTMINT_HAVE_EXPORT
    QtPictureWriter qt_writer_;
#endif
};

// What is being written, for the last-resort message of on_terminate.
std::string current_output;

// Qt's PDF and PNG writers throw std::bad_alloc through frames that cannot pass it on, and
// the runtime then terminates the program: the same plain line and exit status as any other
// failure, never an abort. Anything else terminates as it would have.
std::terminate_handler previous_terminate = nullptr;

[[noreturn]] void on_terminate() {
    bool out_of_memory = false;
    if (const std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
        } catch (...) {
        }
    }
    if (out_of_memory) {
        if (current_output.empty())
            std::fputs("plotmint-convert: out of memory.\n", stderr);
        else
            std::fprintf(stderr, "plotmint-convert: out of memory while writing %s.\n", current_output.c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (previous_terminate) previous_terminate();
    std::abort();
}

bool Converter::convert(const Job& job) {
    // Memory running out is a failure of this conversion like any other, said plainly; the
    // memory the conversion held is free again by the time the line is written.
    current_output = job.output;
    try {
        const bool ok = convert_picture(job);
        current_output.clear();
        return ok;
    } catch (const std::bad_alloc&) {
        current_output.clear();
        progress_.clear();
        note(out_of_memory_note(job.output));
        return false;
    }
}

bool Converter::convert_picture(const Job& job) {
    PictureRunRequest request;
    request.graph_file = job.graph_file;
    request.table_dir = table_dir_;
    request.tone = options_.tone;
    request.line = options_.line;
    request.discovery = options_.discovery;
    request.drawing = options_.drawing;

    // The other formats are played back from a metafile: graph.emf where the window writes it
    // when no output was named, else a private one, so an export into another folder needs
    // no writable current folder and leaves no graph.emf behind.
    std::optional<ScratchFolder> scratch;
    Job played = job;
    PictureRunHooks hooks;
    hooks.log = &log_;
    hooks.diagnostics = &diagnostics_;
    if (progress_.enabled()) hooks.progress = progress_reporter(job.graph_file);
    hooks.note = [this](const std::string& text) { note(text); };
    // An EMF is only checked, as it streams from the file, and an SVG is written as the
    // metafile streams through the player; only PDF and PNG need its bytes.
    hooks.keep_bytes = job.format == PictureFormat::pdf || job.format == PictureFormat::png;
    hooks.metafile = [&](const std::vector<std::string>& inputs) -> std::optional<std::string> {
        std::string metafile = job.format == PictureFormat::emf ? job.output : std::string("graph.emf");
        if (job.format != PictureFormat::emf && job.output_named) {
            std::string error;
            const auto folder = platform::make_private_directory(error);
            if (!folder) {
                note(strformat("cannot make a private folder for the metafile: %s.", error.c_str()));
                return std::nullopt;
            }
            scratch.emplace(*folder);
            metafile = scratch->metafile();
        }
        if (writes_over_input({job.output, metafile}, inputs, hooks.note)) return std::nullopt;
        played.metafile = metafile;
        return metafile;
    };
    const PictureRunOutcome outcome = run_picture(request, hooks);
    progress_.clear();
    const DrawRunResult& result = outcome.result;
    if (!result.picture) return false;
    // An abandoned drawing is written as far as it went, like its metafile, but not counted
    // as converted.
    const bool written = job.format == PictureFormat::emf || write_picture(played, *result.picture);
    const bool converted = written && result.finished && !result.abandoned;
    // What was checked and written goes on the clipboard, read back from the file as the
    // window's copy takes the picture last loaded from graph.emf; a failed or abandoned
    // conversion leaves the clipboard's earlier contents alone.
    if (!converted || !options_.copy) return converted;
    // Named by the output: a private metafile's path means nothing to the user.
    const char* what = job.format == PictureFormat::emf ? "" : "'s metafile";
    std::string error;
    if (!platform::put_metafile_on_clipboard(played.metafile, error)) {
        note(strformat("%s%s: cannot put it on the clipboard: %s.", job.output.c_str(), what, error.c_str()));
        return false;
    }
    note(strformat("%s%s: copied to the clipboard", job.output.c_str(), what));
    return true;
}

// Shows the run's passes on the status line once the run has taken a moment (a quick one
// shows nothing), and then at most ten times a second.
ProgressHandler Converter::progress_reporter(const std::string& graph_file) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    auto last = clock::time_point{};
    return [this, graph_file, start, last](const RunProgress& p) mutable {
        const auto now = clock::now();
        if (now - start < std::chrono::milliseconds(250) || now - last < std::chrono::milliseconds(100)) return;
        last = now;
        progress_.show(progress_text(graph_file, static_cast<int>(p.pass), kRunPasses, run_pass_name(p.pass),
                                     p.bytes_done, p.bytes_total));
    };
}

bool Converter::write_picture(const Job& job, const EmfPicture& picture) {
    if (job.format == PictureFormat::svg) {
        // Played from the metafile the run has just written and checked; the picture's
        // bytes were never read into memory.
        std::string error;
        if (convert_emf_file_to_svg(job.metafile, job.output, error)) return true;
        note(strformat("%s: cannot write the SVG picture: %s.", job.output.c_str(), error.c_str()));
        return false;
    }
#ifdef PLOTMINT_HAVE_EXPORT
    std::string error;
    const PngSizing sizing = options_.dpi ? PngSizing::at_dpi(*options_.dpi)
                                          : PngSizing::fit(options_.width.value_or(0), options_.height.value_or(0));
    const auto result = qt_writer_.write(picture, job.format, job.output, sizing, error);
    if (result == QtPictureWriter::Result::written) return true;
    std::string name = format_extension(job.format);
    for (char& c : name) c = static_cast<char>(c - 'a' + 'A');
    if (result == QtPictureWriter::Result::unavailable)
        note(strformat("%s: cannot write %s pictures: %s.", job.output.c_str(), name.c_str(), error.c_str()));
    else
        note(strformat("%s: cannot write the %s picture: %s.", job.output.c_str(), name.c_str(), error.c_str()));
    return false;
#else
    (void)picture;
    note(strformat("%s: this plotmint-convert was built without PDF and PNG output.", job.output.c_str()));
    return false;
#endif
}

}  // namespace

namespace {

// What a watched file looks like from outside: another file put in its place, a write, or
// a removal each change some of it.
struct FileState {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t mtime_ns = 0;
    bool operator==(const FileState&) const = default;
};

FileState file_state(const std::string& path) {
    // By name, so a file renamed over the watched one is the one looked at from then on.
    const std::optional<platform::FileStamp> st = platform::file_stamp(path);
    if (!st) return {};
    return FileState{true, st->device, st->inode, st->size, st->mtime_ns};
}

volatile std::sig_atomic_t stop_requested = 0;

// A stop request ends the watch once the conversion under way is done, so no picture is
// left half written; a second one ends the program at once.
void catch_stop_signals() { platform::request_stop_on_signal(stop_requested); }

// A stop request cuts the sleep short.
void sleep_for(std::chrono::milliseconds time) { platform::pause_for(time); }

// Converts each job; with several (an --output-dir run) each gets its outcome line.
// Returns whether each was converted.
bool convert_jobs(Converter& converter, const std::vector<Job>& jobs, bool outcome_lines) {
    bool all = true;
    for (const Job& job : jobs) {
        const bool converted = converter.convert(job);
        if (outcome_lines)
            converter.note(converted ? strformat("%s: converted to %s", job.graph_file.c_str(), job.output.c_str())
                                     : strformat("%s: failed", job.graph_file.c_str()));
        all = all && converted;
    }
    return all;
}

// Converts every job, then again each one whose graph file changed and settled, until a stop
// is asked for. The exit status follows each file's last conversion.
int watch(Converter& converter, const std::vector<Job>& jobs, bool outcome_lines) {
    using clock = std::chrono::steady_clock;
    catch_stop_signals();
    struct Watched {
        FileState converted;  // as it was just before its last conversion
        FileState seen;
        clock::time_point seen_since;
        bool ok = false;
    };
    std::vector<Watched> files(jobs.size());
    for (size_t i = 0; i < jobs.size() && !stop_requested; ++i) {
        files[i].converted = files[i].seen = file_state(jobs[i].graph_file);
        files[i].seen_since = clock::now();
        files[i].ok = convert_jobs(converter, {jobs[i]}, outcome_lines);
    }
    while (!stop_requested) {
        sleep_for(kWatchPoll);
        for (size_t i = 0; i < jobs.size() && !stop_requested; ++i) {
            Watched& f = files[i];
            const FileState now = file_state(jobs[i].graph_file);
            const auto at = clock::now();
            if (now != f.seen) {
                f.seen = now;
                f.seen_since = at;
            }
            // The state is taken before the conversion, so a write during it is seen next time.
            if (f.seen == f.converted || !f.seen.exists || at - f.seen_since < kWatchSettle) continue;
            f.converted = f.seen;
            f.ok = convert_jobs(converter, {jobs[i]}, outcome_lines);
        }
    }
    for (const Watched& f : files)
        if (!f.ok) return 1;
    return 0;
}

int run_converter(int argc, char** argv) {
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

    const std::string program_dir = program_directory(argv[0]);
    const std::string table_dir = options.table_dir ? *options.table_dir : table_directory(program_dir);
    Converter converter(options, table_dir, program_dir);

    std::vector<Job> jobs;
    if (!options.output_dir) {
        Job job;
        job.graph_file = options.graph_files.front();
        if (options.output) {
            job.output_named = true;
            job.output = *options.output;
            job.format = options.format.value_or(format_from_path(job.output).value_or(PictureFormat::emf));
        } else {
            job.format = options.format.value_or(PictureFormat::emf);
            job.output = std::string("graph.") + format_extension(job.format);
        }
        jobs.push_back(job);
    } else {
        const std::string& dir = *options.output_dir;
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec || !std::filesystem::is_directory(dir)) {
            converter.note(strformat("%s: cannot make the output folder: %s.", dir.c_str(),
                                     ec ? ec.message().c_str() : "a file of that name is in the way"));
            return 1;
        }
        for (const std::string& graph_file : options.graph_files) {
            Job job;
            job.graph_file = graph_file;
            job.format = options.format.value_or(PictureFormat::emf);
            job.output = output_in_dir(dir, graph_file, job.format);
            job.output_named = true;
            jobs.push_back(job);
        }
    }
    const bool outcome_lines = options.output_dir.has_value();
    if (options.watch) return watch(converter, jobs, outcome_lines);
    return convert_jobs(converter, jobs, outcome_lines) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    plotmint::platform::install_cleanup_handlers();
#ifdef __GLIBC__
    // glibc reserves 64 MiB of address space for the heap of every thread that allocates;
    // the draw run's helper threads allocate little, so they share the main heap, and a run
    // under an address-space limit keeps that room for the PDF/PNG module it may load later.
    mallopt(M_ARENA_MAX, 1);
#endif
    // A conversion that runs out of memory says so itself; this is for what lies outside
    // one (reading the options, the first tables), which must not end in an abort either.
    previous_terminate = std::set_terminate(on_terminate);
    try {
        return run_converter(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("plotmint-convert: out of memory.\n", stderr);
        return 1;
    }
}
