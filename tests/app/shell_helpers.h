#pragma once
// What the converter tests share: reading a whole file and quoting a word for /bin/sh.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace plotmint_test
