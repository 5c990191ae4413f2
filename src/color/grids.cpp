#include "color/grids.h"


#include <cerrno>
#include <filesystem>
#include <optional>

#include "base/format.h"
#include "base/platform.h"
#include "base/parse_int.h"

namespace plotmint {

namespace {

constexpr size_t kToneRows = kToneSlots + 1;
constexpr size_t kLineRows = kLineColors + 1;

std::string cell(int32_t v) { return strformat("%3d", v); }

// The node count comes from a table that files and callers fill; never let it index past
// the grid or the table.
size_t clamp_rows(int32_t count, size_t limit) {
    if (count <= 0) return 0;
    return static_cast<size_t>(count) < limit ? static_cast<size_t>(count) : limit;
}

void read_cell(const std::string& text, int32_t& held) {
    if (const auto v = parse_int(text)) held = *v;
}

std::string rows_text(const GridCells& cells, size_t rows) {
    std::string out = "color\nno.   r   g   b\n";
    for (size_t r = 1; r <= rows && r < cells.size(); ++r) {
        const auto& row = cells[r];
        out += row[0] + ' ' + row[1] + ' ' + row[2] + ' ' + row[3] + '\n';
    }
    out += '\n';
    return out;
}

bool write_all(int fd, const std::string& text) { return platform::write_all(fd, text.data(), text.size()); }

}  // namespace

GridCells tone_grid_cells(const ToneTable& table) {
    GridCells cells(kToneRows);
    show_tone_cells(table, cells);
    return cells;
}

GridCells line_grid_cells(const LineColorTable& table) {
    GridCells cells(kLineRows);
    show_line_cells(table, cells);
    return cells;
}

void show_tone_cells(const ToneTable& table, GridCells& cells) {
    if (cells.size() < kToneRows) cells.resize(kToneRows);
    cells[0] = {"   ", "  R", "  G", "  B"};
    const size_t count = clamp_rows(table.count, kToneSlots);
    for (size_t i = 0; i < count; ++i)
        cells[i + 1] = {cell(table.tone[i]), cell(table.color[i].r), cell(table.color[i].g),
                        cell(table.color[i].b)};
    for (size_t r = count + 1; r < kToneRows; ++r) cells[r] = {};
}

void show_line_cells(const LineColorTable& table, GridCells& cells) {
    if (cells.size() < kLineRows) cells.resize(kLineRows);
    cells[0][1] = "  R";
    cells[0][2] = "  G";
    cells[0][3] = "  B";
    for (size_t n = 0; n < kLineColors; ++n)
        cells[n + 1] = {cell(static_cast<int32_t>(n)), cell(table[n].r), cell(table[n].g),
                        cell(table[n].b)};
}

void read_tone_cells(const GridCells& cells, ToneTable& table) {
    const size_t count = clamp_rows(table.count, kToneSlots);
    for (size_t i = 0; i < count && i + 1 < cells.size(); ++i) {
        const auto& row = cells[i + 1];
        read_cell(row[0], table.tone[i]);
        read_cell(row[1], table.color[i].r);
        read_cell(row[2], table.color[i].g);
        read_cell(row[3], table.color[i].b);
    }
}

void read_line_cells(const GridCells& cells, LineColorTable& table) {
    for (size_t n = 0; n < kLineColors && n + 1 < cells.size(); ++n) {
        const auto& row = cells[n + 1];
        read_cell(row[1], table[n].r);
        read_cell(row[2], table[n].g);
        read_cell(row[3], table[n].b);
    }
}

std::string tone_file_text(const GridCells& cells, int32_t node_count) {
    return rows_text(cells, clamp_rows(node_count, kToneSlots));
}

std::string line_file_text(const GridCells& cells) { return rows_text(cells, kLineColors); }

// A save that fails half-way (full disk, lost folder) must not leave the user's table
// truncated, so the text goes to a fresh file beside the target and is renamed over it
// only once it is completely on disk. What is not a regular file (a device, a FIFO, a
// folder) is never replaced; through a link to a table, the table is.
bool save_file_atomically(const std::string& path, const std::string& text) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    if (!std::filesystem::path(path).has_filename()) return false;
    std::string error;
    const std::optional<std::string> target = platform::replace_target(path, error);
    if (!target) return false;
    std::optional<platform::TempFile> temp = platform::create_temporary(*target, error);
    if (!temp) return false;
    // Keep the permissions of a table that is being replaced.
    platform::keep_permissions(temp->fd, *target);
    if (!write_all(temp->fd, text)) {
        platform::discard_temporary(*temp);
        return false;
    }
    return platform::commit_temporary(*temp, *target, error);
}

bool save_tone_table(const std::string& path, const GridCells& cells, int32_t node_count,
                     LogSink& log) {
    if (save_file_atomically(path, tone_file_text(cells, node_count))) return true;
    log.log_line("cannot open tone file");
    return false;
}

bool save_line_color_table(const std::string& path, const GridCells& cells, LogSink& log) {
    if (save_file_atomically(path, line_file_text(cells))) return true;
    log.log_line("cannot open line color file");
    return false;
}

void show_tone_table(const std::string& file_name, const std::string& program_dir, ToneTable& table,
                     GridCells& cells, LogSink& log) {
    read_tone_table(file_name, program_dir, table, log);
    show_tone_cells(table, cells);
}

void show_line_color_table(const std::string& file_name, const std::string& program_dir,
                           LineColorTable& table, GridCells& cells, LogSink& log) {
    read_line_color_table(file_name, program_dir, table, log);
    show_line_cells(table, cells);
}

}  // namespace plotmint
