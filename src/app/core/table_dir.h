#pragma once
// Where the programs find their colour tables.
#include <string>

namespace plotmint {

// The program's own directory when it holds a default table, as a build tree or an unpacked
// copy does. An installed program (PREFIX/bin) keeps its tables in PREFIX/share/plotmint, as
// bin/ holds programs only; that directory is taken when it has a default table and the
// program's own has none. Otherwise the program's directory, so messages name the place the
// tables were looked for.
std::string table_directory(const std::string& program_dir);

}  // namespace plotmint
