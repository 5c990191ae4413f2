#include "color/discovery.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/format.h"
#include "base/platform.h"
#include "color/tables.h"

namespace plotmint {

namespace {

// A name becomes part of "tone-NAME.ktc"; 200 bytes keep that file name well inside the
// 255 bytes a directory entry may hold.
constexpr size_t kMaxNameBytes = 200;
// Bytes kept of a name for the log line; anything longer is refused anyway.
constexpr size_t kKeptNameBytes = 299;

// The name comes from an untrusted graph file and is pasted into a path: it must name a
// file in the program directory and nothing else.
bool name_allowed(std::string_view name, bool overflowed) {
    if (overflowed || name.size() > kMaxNameBytes) return false;
    if (name.find("..") != std::string_view::npos) return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127 || c == '/' || c == '\\') return false;
    }
    return true;
}

std::string shown_name(std::string_view name, bool overflowed) {
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127)
            out += strformat("\\x%02X", u);
        else
            out.push_back(c);
    }
    if (overflowed) out += "...";
    return out;
}

// The name alone cannot leave the table directory, but a link planted there can, and the
// readers log the first word of what they open. A named table that leads out of the
// directory is taken for a missing one: the line a reader logs for a missing table, then
// the default table, just as the reader itself would go on.
std::string inside_or_default(const std::string& named, const std::string& fallback, const std::string& dir,
                              LogSink& log) {
    std::error_code ec;
    const bool present = std::filesystem::exists(std::filesystem::symlink_status(named, ec));
    if (!present || platform::resolves_inside(named, dir)) return named;
    log.log_line(strformat("cannot open %s.", named.c_str()));
    return fallback;
}

}  // namespace

// A file that ends inside a name (no record 35, or an item that is not an integer) ends
// the scan, and the partial name is not loaded: half a name would pick some other table.
// A refused name loads nothing and does not count as found.
void find_color_table(const std::string& graph_file, RecordReader& reader, const std::function<bool()>& open,
                      const std::string& program_dir, bool enabled, const DiscoveryCallbacks& show, LogSink& log) {
    if (!enabled) return;
    if (graph_file.empty()) {
        log.log_line("File name is empty.");
        return;
    }
    log.log_line(strformat("open %s for searching color table name.", graph_file.c_str()));

    std::error_code ec;
    if (graph_file.find('\0') != std::string::npos ||
        std::filesystem::is_directory(graph_file, ec) || !open()) {
        log.log_line("Cannot open file.");
        return;
    }

    bool found = false;
    Record rec;
    while (reader.read_record(rec) && rec.code != code::end_of_plot) {
        if (rec.code != code::table_name_begin) continue;
        std::string name;
        bool overflowed = false;
        bool closed = false;
        while (reader.read_record(rec)) {
            if (rec.code == code::table_name_end) {
                closed = true;
                break;
            }
            // Records of any other code, -999 included, are characters here.
            if (name.size() < kKeptNameBytes)
                name.push_back(static_cast<char>(static_cast<unsigned char>(rec.a & 0xFF)));
            else
                overflowed = true;
        }
        if (!closed) break;
        if (!name_allowed(name, overflowed)) {
            log.log_line(strformat("color table name |%s| is not allowed.  ignore",
                                   shown_name(name, overflowed).c_str()));
            continue;
        }
        if (show.show_tone)
            show.show_tone(inside_or_default(named_tone_path(program_dir, name), default_tone_path(program_dir),
                                             program_dir, log));
        if (show.show_line)
            show.show_line(inside_or_default(named_line_path(program_dir, name), default_line_path(program_dir),
                                             program_dir, log));
        found = true;
    }
    reader.close();
    log.log_line(found ? "find color table." : "no color table.");
}

void find_color_table(const std::string& graph_file, const std::string& program_dir, bool enabled,
                      const DiscoveryCallbacks& show, LogSink& log) {
    RecordReader reader;
    find_color_table(graph_file, reader, [&] { return reader.open(graph_file); }, program_dir, enabled, show, log);
}

}  // namespace plotmint
