#pragma once
// The tone table (nodes), the line colour table, their files and the tone palette.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "base/rgb.h"

namespace plotmint {

constexpr int kToneSlots = 121;
constexpr int kLineColors = 31;

struct ToneTable {
    std::array<int32_t, kToneSlots> tone{};
    std::array<Rgb, kToneSlots> color{};
    int32_t count = 0;  // valid nodes: slots 0 .. count-1
};

using LineColorTable = std::array<Rgb, kLineColors>;
using TonePalette = std::array<Rgb, kToneSlots>;

// Table files live in the program directory; names are joined with '/'.
std::string default_tone_path(const std::string& program_dir);   // DIR/tone-default.ktc
std::string default_line_path(const std::string& program_dir);   // DIR/line-default.klc
std::string named_tone_path(const std::string& program_dir, const std::string& name);  // DIR/tone-NAME.ktc
std::string named_line_path(const std::string& program_dir, const std::string& name);  // DIR/line-NAME.klc

void read_tone_table(const std::string& file_name, const std::string& program_dir, ToneTable& table,
                     LogSink& log);
void read_line_color_table(const std::string& file_name, const std::string& program_dir,
                           LineColorTable& table, LogSink& log);

// Expands nodes 0..count-1 into the 121-entry palette; nullopt when it cannot (no node).
std::optional<TonePalette> expand_tone_palette(const ToneTable& table);

}  // namespace plotmint
