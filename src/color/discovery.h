#pragma once
#include <functional>
#include <string>

#include "base/log_sink.h"
#include "records/record_reader.h"

namespace plotmint {

// Scans a graph file for colour-table names (records 33 .. 35, up to -999) and asks the
// caller to show each named pair of tables. A name that could reach outside the table
// directory is refused with a log line. A named table that is there but leads out of the
// table directory (a symbolic link) is logged as a reader logs a missing table, and the
// default table is shown in its place. `enabled` false does nothing at all.
struct DiscoveryCallbacks {
    std::function<void(const std::string& tone_path)> show_tone;
    std::function<void(const std::string& line_path)> show_line;
};

// Reads the graph file through `reader`, which `open` opens on it (false when it cannot be
// read). The reader is the draw run's own, so a draw run that follows on the same file reads
// the records this reading made (see RecordReader::open).
void find_color_table(const std::string& graph_file, RecordReader& reader, const std::function<bool()>& open,
                      const std::string& program_dir, bool enabled, const DiscoveryCallbacks& show, LogSink& log);

// The same through a reader of its own, which opens the file by its name.
void find_color_table(const std::string& graph_file, const std::string& program_dir, bool enabled,
                      const DiscoveryCallbacks& show, LogSink& log);

}  // namespace plotmint
