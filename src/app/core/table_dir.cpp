#include "app/core/table_dir.h"

#include <filesystem>
#include <system_error>

#include "color/tables.h"

namespace plotmint {

namespace {

bool holds_default_table(const std::string& dir) {
    std::error_code ec;
    return std::filesystem::is_regular_file(default_tone_path(dir), ec) ||
           std::filesystem::is_regular_file(default_line_path(dir), ec);
}

}  // namespace

std::string table_directory(const std::string& program_dir) {
    if (program_dir.empty() || holds_default_table(program_dir)) return program_dir;
    const std::string shared =
        (std::filesystem::path(program_dir) / ".." / "share" / "plotmint").lexically_normal().string();
    if (holds_default_table(shared)) return shared;
    return program_dir;
}

}  // namespace plotmint
