#pragma once
// The colour-table side of a graph file's journey: the tone and line colour table readers,
// the grids' show / read-back / save text, and colour-table discovery over a graph file.
//
//   byte 0: bits 0-1 what the rest is: 0 a tone table file, 1 a line colour table file,
//           2 a graph file for discovery, 3 grid cells (rows by line feed, cells by tab);
//           bits 2-4 the tone node count held before the read
//
// Returns an empty string, or what went wrong: a table shown in its grid and read back, or
// saved and read again, must come back unchanged; a discovered table path must lie in the
// table directory.
#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

#include "base/log_sink.h"
#include "color/discovery.h"
#include "color/grids.h"
#include "color/tables.h"
#include "fuzz_bytes.h"
#include "scratch_file.h"

namespace plotmint::fuzz {

// Never created: discovery only forms names in it, and a reader that falls back to the
// default table finds nothing there and uses the built-in one.
inline const std::string kTableDir = "/nonexistent/plotmint-fuzz-tables";

inline int32_t held_node_count(uint8_t choice) {
    constexpr std::array<int32_t, 8> counts{0, 1, 2, kToneSlots, kToneSlots + 1, -1,
                                            std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};
    return counts[choice & 7];
}

inline bool same_nodes(const ToneTable& a, const ToneTable& b, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (a.tone[i] != b.tone[i] || !(a.color[i] == b.color[i])) return false;
    return true;
}

inline std::string check_tone(ScratchFile& file, ScratchFile& saved, int32_t held) {
    NullLog log;
    ToneTable table;
    table.count = held;
    read_tone_table(file.path(), kTableDir, table, log);

    GridCells cells(kToneSlots + 1);
    show_tone_cells(table, cells);
    ToneTable back = table;
    back.tone.fill(-7);
    read_tone_cells(cells, back);
    const int32_t shown = table.count < 0 ? 0 : std::min(table.count, kToneSlots);
    if (!same_nodes(table, back, shown)) return "a tone table read back from its grid differs";

    if (table.count >= 1 && table.count <= kToneSlots && !expand_tone_palette(table))
        return "a tone table with nodes gives no palette";

    if (table.count >= 2 && table.count <= kToneSlots) {
        saved.assign(tone_file_text(cells, table.count));
        ToneTable again;
        read_tone_table(saved.path(), kTableDir, again, log);
        if (again.count != table.count || !same_nodes(table, again, table.count))
            return "a saved tone table reads back differently";
    }
    return {};
}

inline std::string check_line(ScratchFile& file, ScratchFile& saved) {
    NullLog log;
    LineColorTable table{};
    read_line_color_table(file.path(), kTableDir, table, log);

    GridCells cells(kLineColors + 1);
    show_line_cells(table, cells);
    LineColorTable back{};
    back.fill(Rgb{-7, -7, -7});
    read_line_cells(cells, back);
    if (back != table) return "a line colour table read back from its grid differs";

    saved.assign(line_file_text(cells));
    LineColorTable again{};
    read_line_color_table(saved.path(), kTableDir, again, log);
    if (again != table) return "a saved line colour table reads back differently";
    return {};
}

// A named table must be DIR/PREFIX NAME SUFFIX with a name that cannot leave DIR.
inline bool confined(const std::string& path, std::string_view prefix, std::string_view suffix) {
    const std::string head = kTableDir + "/" + std::string(prefix);
    if (path.size() < head.size() + suffix.size() || path.compare(0, head.size(), head) != 0 ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string_view name = std::string_view(path).substr(head.size(), path.size() - head.size() - suffix.size());
    if (name.find("..") != std::string_view::npos) return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 32 || u == 127) return false;
    }
    return std::filesystem::path(path).lexically_normal().parent_path() == std::filesystem::path(kTableDir);
}

inline std::string check_discovery(ScratchFile& file) {
    NullLog log;
    std::string wrong;
    DiscoveryCallbacks show;
    show.show_tone = [&](const std::string& p) {
        if (!confined(p, "tone-", ".ktc")) wrong = "a discovered tone table lies outside the table directory: " + p;
    };
    show.show_line = [&](const std::string& p) {
        if (!confined(p, "line-", ".klc")) wrong = "a discovered line table lies outside the table directory: " + p;
    };
    find_color_table(file.path(), kTableDir, true, show, log);
    return wrong;
}

inline std::string check_cells(std::string_view text, int32_t held) {
    GridCells cells(kToneSlots + 1);
    size_t row = 0, col = 0;
    for (const char c : text) {
        if (c == '\n') {
            if (++row == cells.size()) break;
            col = 0;
        } else if (c == '\t') {
            col = (col + 1) % 4;
        } else {
            cells[row][col].push_back(c);
        }
    }
    ToneTable tone;
    tone.count = held;
    read_tone_cells(cells, tone);
    LineColorTable line{};
    read_line_cells(cells, line);
    const std::string a = tone_file_text(cells, held);
    const std::string b = line_file_text(cells);
    if (a.rfind("color\n", 0) != 0 || b.rfind("color\n", 0) != 0) return "saved table text lacks its mode line";
    return {};
}

inline std::string tables_one(const uint8_t* data, size_t size) {
    static ScratchFile file, saved;
    ByteReader in(data, size);
    const uint8_t mode = in.byte();
    const int32_t held = held_node_count(static_cast<uint8_t>(mode >> 2));
    switch (mode & 3) {
        case 0: file.assign(in.rest()); return check_tone(file, saved, held);
        case 1: file.assign(in.rest()); return check_line(file, saved);
        case 2: file.assign(in.rest()); return check_discovery(file);
        default: return check_cells(in.rest(), held);
    }
}

}  // namespace plotmint::fuzz
