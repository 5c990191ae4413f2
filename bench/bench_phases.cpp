// bench_phases GRAPH_FILE [TABLE_DIR] [--keep-bytes] [--hershey N] [--vhline N]
// Runs what plotmint-convert runs (start-up tables, discovery, the draw run) and prints
// where the time goes: discovery, each pass of the draw run (from its progress reports),
// closing graph.emf and reading it back.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/core/conversion.h"

using namespace plotmint;
using Clock = std::chrono::steady_clock;

namespace {

// CPU time of this process: on a busy machine it says more about the work than the clock.
double cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

struct Mark {
    std::string what;
    Clock::time_point at;
    double cpu = cpu_ms();
};

class MarkingLog final : public LogSink {
public:
    explicit MarkingLog(std::vector<Mark>& marks) : marks_(marks) {}
    void log_line(std::string_view text) override {
        const std::string t(text);
        if (t.rfind("open ", 0) == 0 || t == "making metafile" || t == "making metafile end" || t == "draw finished." ||
            t.rfind("xmin", 0) == 0)
            marks_.push_back({t, Clock::now(), cpu_ms()});
    }

private:
    std::vector<Mark>& marks_;
};

const char* pass_name(RunPass pass) {
    static const char* const names[] = {"?", "extent", "fill pass", "vhline pass", "line pass", "substitution pass",
                                        "read-back"};
    const int n = static_cast<int>(pass);
    return n >= 1 && n <= kRunPasses ? names[n] : "?";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bench_phases GRAPH_FILE [TABLE_DIR] [--keep-bytes] [--hershey N] [--vhline N]\n", stderr);
        return 2;
    }
    const std::string graph = argv[1];
    std::string table_dir = ".";
    Settings settings;
    bool keep_bytes = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--keep-bytes") keep_bytes = true;
        else if (a == "--hershey" && i + 1 < argc) settings.hershey = hershey_choice_from_index(std::atoi(argv[++i]));
        else if (a == "--vhline" && i + 1 < argc) settings.vhline = vhline_mode_from_index(std::atoi(argv[++i]));
        else table_dir = a;
    }
    std::vector<Mark> marks;
    const auto start = Clock::now();
    marks.push_back({"start-up tables", start, cpu_ms()});
    MarkingLog log(marks);
    NullLog quiet;
    Conversion conversion(graph);
    conversion.set_diagnostics(quiet);
    RunPass last_pass{};
    conversion.set_progress([&](const RunProgress& p) {
        if (p.pass != last_pass) marks.push_back({pass_name(p.pass), Clock::now(), cpu_ms()});
        last_pass = p.pass;
    });
    const DiscoveryCallbacks show = tables_into(settings, table_dir, quiet);
    show.show_tone(default_tone_path(table_dir));
    show.show_line(default_line_path(table_dir));
    conversion.find_color_tables(table_dir, true, show, log);
    const DrawRunResult r = conversion.run(settings, PictureTarget::file("graph.emf", keep_bytes), log);
    const auto end = Clock::now();
    marks.push_back({"end", end, cpu_ms()});
    for (size_t i = 0; i + 1 < marks.size(); ++i) {
        std::string what = marks[i].what;
        if (what.rfind("open ", 0) == 0) what = what.find("searching") != std::string::npos ? "discovery" : "draw run start";
        if (what.rfind("xmin", 0) == 0) what = "settings";
        if (what == "making metafile end") what = "close graph.emf";
        const double ms = std::chrono::duration<double, std::milli>(marks[i + 1].at - marks[i].at).count();
        if (ms >= 0.05) std::printf("%-22s %9.1f ms  cpu %9.1f ms\n", what.c_str(), ms, marks[i + 1].cpu - marks[i].cpu);
    }
    std::printf("%-22s %9.1f ms  cpu %9.1f ms%s\n", "total", std::chrono::duration<double, std::milli>(end - start).count(),
                marks.back().cpu - marks.front().cpu, r.finished ? "" : "  (run did not finish)");
    return r.finished ? 0 : 1;
}
