#pragma once
// What the converter does around one Conversion to get a metafile file: the start-up tables,
// colour-table discovery, the draw run into the file and the note on a picture that does
// not read back. The converter and the browser entry both call it, so that for the same
// inputs their message logs and outcomes are the same.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/conversion.h"
#include "base/log_sink.h"
#include "graph/settings.h"

namespace plotmint {

struct PictureRunRequest {
    std::string graph_file;                // used exactly as typed
    std::string table_dir;                 // TABLEDIR: the default and the named tables
    std::optional<std::string> tone, line;  // start-up tables; TABLEDIR's defaults when unset
    bool discovery = true;
    Settings drawing;  // widths, line modes, Hershey choice, display; the tables come from the files
};

struct PictureRunHooks {
    LogSink* log = nullptr;          // the message log
    LogSink* diagnostics = nullptr;  // the Hershey layout's own text
    ProgressHandler progress;        // none: no progress is reported
    // A line of the front end itself ("plotmint-convert: ..." on the converter's standard
    // error), never part of the core's log.
    std::function<void(const std::string&)> note;
    // Told once the start-up tables are read, before discovery (the browser tells the
    // start-up tables' lines apart from the run's).
    std::function<void()> startup_tables_read;
    // Told, once discovery is done, every file the conversion reads; returns the metafile's
    // path, or nothing when the run must not go ahead (it has said why through `note`).
    std::function<std::optional<std::string>(const std::vector<std::string>& inputs)> metafile;
    // The metafile is only checked as it streams when false, as an EMF needs no more.
    bool keep_bytes = false;
    // False: every pass parses the graph file's text again, instead of the passes after the
    // first reading a record file (the browser, where a temporary file takes memory).
    bool record_file = true;
};

struct PictureRunOutcome {
    bool ran = false;       // the draw run was started (the metafile hook let it)
    DrawRunResult result;
    Settings settings;      // what the run drew with, the tables after discovery included
    // Drawn, read back and not abandoned: an EMF is then converted.
    bool drawn() const { return result.picture.has_value() && result.finished && !result.abandoned; }
};

PictureRunOutcome run_picture(const PictureRunRequest& request, const PictureRunHooks& hooks);

// The pass names the converter's progress shows (and the browser's progress messages carry).
const char* run_pass_name(RunPass pass);

// Whether one of `outputs` is one of the files the conversion reads (a picture written over
// its own graph file or table would destroy it); the first such pair is said through `note`.
bool writes_over_input(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs,
                       const std::function<void(const std::string&)>& note);

// The note for a conversion that ran out of memory.
std::string out_of_memory_note(const std::string& output);

}  // namespace plotmint
