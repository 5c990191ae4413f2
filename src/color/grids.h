#pragma once
// The two colour grids as plain cell text, so the window, the converter and the tests share
// one implementation of show, read-back and save.
#include <array>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "color/tables.h"

namespace plotmint {

// rows[r][c]; row 0 is the title row.
using GridCells = std::vector<std::array<std::string, 4>>;

GridCells tone_grid_cells(const ToneTable& table);       // 122 rows, "%3d" cells, rows past count empty
GridCells line_grid_cells(const LineColorTable& table);  // 32 rows, corner cell empty

// Fills `cells` (already sized 122 rows) the way the show operation does: title row,
// rows 1..count written, rows count+1..121 emptied. Cells the show does not touch stay.
void show_tone_cells(const ToneTable& table, GridCells& cells);
void show_line_cells(const LineColorTable& table, GridCells& cells);

// Read-back at a draw run: a cell that does not start with a number keeps the held value.
void read_tone_cells(const GridCells& cells, ToneTable& table);
void read_line_cells(const GridCells& cells, LineColorTable& table);

// The saved file's text ("color", header, "%s %s %s %s" rows, empty last line).
std::string tone_file_text(const GridCells& cells, int32_t node_count);
std::string line_file_text(const GridCells& cells);

// Writes `text` to a temporary file in the target's folder and renames it over the target;
// on any failure the old file is untouched and false is returned.
bool save_file_atomically(const std::string& path, const std::string& text);

// The Save buttons: write the grid as a table file; on failure log "cannot open tone file"
// or "cannot open line color file" and return false.
bool save_tone_table(const std::string& path, const GridCells& cells, int32_t node_count,
                     LogSink& log);
bool save_line_color_table(const std::string& path, const GridCells& cells, LogSink& log);

// The show operations: read the table file (with the readers' fallbacks), then fill the grid.
void show_tone_table(const std::string& file_name, const std::string& program_dir, ToneTable& table,
                     GridCells& cells, LogSink& log);
void show_line_color_table(const std::string& file_name, const std::string& program_dir,
                           LineColorTable& table, GridCells& cells, LogSink& log);

}  // namespace plotmint
