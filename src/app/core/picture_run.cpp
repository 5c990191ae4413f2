#include "app/core/picture_run.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "base/format.h"
#include "color/tables.h"

namespace plotmint {

bool writes_over_input(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs,
                       const std::function<void(const std::string&)>& note) {
    for (const std::string& output : outputs) {
        for (const std::string& input : inputs) {
            std::error_code ec;
            if (std::filesystem::equivalent(output, input, ec)) {
                note(strformat("%s is the same file as %s, which this conversion reads; nothing is written.",
                               output.c_str(), input.c_str()));
                return true;
            }
        }
    }
    return false;
}

PictureRunOutcome run_picture(const PictureRunRequest& request, const PictureRunHooks& hooks) {
    PictureRunOutcome outcome;
    LogSink& log = *hooks.log;
    // Every conversion starts from the start-up tables, as a separate program run would.
    Settings& settings = outcome.settings;
    settings = request.drawing;
    // Every file the conversion reads, so that no output replaces one of them.
    std::vector<std::string> inputs{request.graph_file};
    const DiscoveryCallbacks load = tables_into(settings, request.table_dir, log);
    const DiscoveryCallbacks show{[&](const std::string& path) {
                                      inputs.push_back(path);
                                      load.show_tone(path);
                                  },
                                  [&](const std::string& path) {
                                      inputs.push_back(path);
                                      load.show_line(path);
                                  }};
    show.show_tone(request.tone ? *request.tone : default_tone_path(request.table_dir));
    show.show_line(request.line ? *request.line : default_line_path(request.table_dir));
    if (hooks.startup_tables_read) hooks.startup_tables_read();

    Conversion conversion(request.graph_file);
    if (!hooks.record_file) conversion.reader().set_cache_threshold(std::numeric_limits<uint64_t>::max());
    if (hooks.diagnostics) conversion.set_diagnostics(*hooks.diagnostics);
    if (hooks.progress) conversion.set_progress(hooks.progress);
    conversion.find_color_tables(request.table_dir, request.discovery, show, log);

    const std::optional<std::string> metafile = hooks.metafile(inputs);
    if (!metafile) return outcome;
    outcome.ran = true;
    outcome.result = conversion.run(settings, PictureTarget::file(*metafile, hooks.keep_bytes), log);
    const DrawRunResult& result = outcome.result;
    if (result.rendered && !result.picture && !result.read_error.empty() && hooks.note)
        hooks.note(strformat("%s: %s.", metafile->c_str(), result.read_error.c_str()));
    return outcome;
}

const char* run_pass_name(RunPass pass) {
    switch (pass) {
        case RunPass::extent: return "extent";
        case RunPass::fill: return "fills";
        case RunPass::vhline: return "vertical and horizontal lines";
        case RunPass::line: return "lines and text";
        case RunPass::substitution: return "Hershey text";
        case RunPass::read_back: return "checking the metafile";
    }
    return "drawing";
}

std::string out_of_memory_note(const std::string& output) {
    return strformat("out of memory while writing %s.", output.c_str());
}

}  // namespace plotmint
