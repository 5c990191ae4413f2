#pragma once
// What the converter tests share: reading a whole file, quoting a word for /bin/sh and
// the command line that runs the converter in a folder.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace plotmint_test {

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// "cd DIR && plotmint-convert [--table-dir TABLES] ARGS...", every word quoted; the caller
// adds its redirections. No table directory when `table_dir` is empty.
inline std::string converter_command(const std::filesystem::path& dir, const std::filesystem::path& table_dir,
                                     const std::vector<std::string>& args) {
    std::string cmd = "cd ";
    cmd += quote(dir.string());
    cmd += " && ";
    cmd += quote(std::string(PLOTMINT_BIN_DIR) + "/plotmint-convert");
    if (!table_dir.empty()) {
        cmd += " --table-dir ";
        cmd += quote(table_dir.string());
    }
    for (const auto& a : args) {
        cmd += ' ';
        cmd += quote(a);
    }
    return cmd;
}

}  // namespace plotmint_test
