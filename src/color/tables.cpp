#include "color/tables.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>

#include "base/format.h"
#include "base/parse_int.h"
#include "base/platform.h"

namespace plotmint {

namespace {

// Table lines are taken in pieces the size of an 80-byte fgets buffer, so a longer line
// counts as two or more lines, exactly as the files have always been read.
constexpr size_t kPieceChars = 79;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Only regular files count as table files: a directory would "open" and read as empty,
// and a FIFO would block the window for good, in the open itself. The reason is not
// logged: the table files have always said only "cannot open NAME.".
FilePtr open_table_file(const std::string& name) {
    std::string reason;
    return FilePtr(platform::fopen_regular_file(name, reason));
}

// One piece of a line: up to 79 characters, ending after a line feed if one comes first.
// A carriage return right before a line feed is dropped and does not count, as text-mode
// reading does; a lone carriage return is kept. False when nothing was left to read.
bool read_piece(std::FILE* f, std::string& piece) {
    piece.clear();
    while (piece.size() < kPieceChars) {
        int ch = std::getc(f);
        if (ch == EOF) break;
        if (ch == '\r') {
            const int next = std::getc(f);
            if (next == '\n') {
                ch = '\n';
            } else if (next != EOF) {
                std::ungetc(next, f);
            }
        }
        piece.push_back(static_cast<char>(ch));
        if (ch == '\n') break;
    }
    return !piece.empty();
}

// The piece as the C string functions saw it: up to its first NUL byte.
std::string_view c_view(const std::string& piece) {
    const size_t nul = piece.find('\0');
    return std::string_view(piece).substr(0, nul == std::string::npos ? piece.size() : nul);
}

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Only spaces are trimmed: a line holding a tab is not empty.
bool is_empty_line(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    return line.empty();
}

std::string first_word(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && is_c_space(line[i])) ++i;
    size_t j = i;
    while (j < line.size() && !is_c_space(line[j])) ++j;
    return std::string(line.substr(i, j - i));
}

// Control bytes of a file's text are shown as \xNN so a log line stays one printable line.
std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127)
            out += strformat("\\x%02X", u);
        else
            out.push_back(c);
    }
    return out;
}

enum class Mode { gray, color, bad };

// Reads line 1 (and drops line 2 when the mode is good). The mode word is compared
// exactly: "Gray" or "COLOR" are not modes.
Mode read_mode(std::FILE* f, std::string& word) {
    std::string piece;
    word.clear();
    if (!read_piece(f, piece)) return Mode::bad;
    word = first_word(c_view(piece));
    Mode mode = Mode::bad;
    if (word == "gray")
        mode = Mode::gray;
    else if (word == "color")
        mode = Mode::color;
    if (mode != Mode::bad) read_piece(f, piece);
    return mode;
}

// "%d%d" or "%d%d%d%d" over one line. Reading stops at the first field that is not a
// number, as the scanf family does, and every field from there on is reported unread.
// A number outside 32 bits counts as unread rather than wrapping into a plausible value.
template <size_t N>
size_t scan_ints(std::string_view line, std::array<int32_t, N>& out) {
    size_t pos = 0;
    for (size_t i = 0; i < N; ++i) {
        const auto p = parse_int_at(line, pos);
        if (!p) return i;
        out[i] = p->value;
        pos = p->end;
    }
    return N;
}

// A line's colour in its mode. Fields that cannot be read count as 0, so a file always
// reads the same whatever was loaded before it; gray gives the level three times.
Rgb line_color_fields(Mode mode, std::string_view line, int32_t& number, size_t& fields_read) {
    if (mode == Mode::gray) {
        std::array<int32_t, 2> v{};
        fields_read = scan_ints(line, v);
        number = v[0];
        return Rgb{v[1], v[1], v[1]};
    }
    std::array<int32_t, 4> v{};
    fields_read = scan_ints(line, v);
    number = v[0];
    return Rgb{v[1], v[2], v[3]};
}

}  // namespace

std::string default_tone_path(const std::string& program_dir) {
    return program_dir + "/tone-default.ktc";
}

std::string default_line_path(const std::string& program_dir) {
    return program_dir + "/line-default.klc";
}

std::string named_tone_path(const std::string& program_dir, const std::string& name) {
    return program_dir + "/tone-" + name + ".ktc";
}

std::string named_line_path(const std::string& program_dir, const std::string& name) {
    return program_dir + "/line-" + name + ".klc";
}

// A node line whose numbers cannot all be read still counts as a node; its unread fields
// are 0 (a tab-only line gives tone 0, black). Slots past the nodes read keep what they
// held, and a failed read keeps the old node count, so the grid keeps showing old rows.
void read_tone_table(const std::string& file_name, const std::string& program_dir, ToneTable& table,
                     LogSink& log) {
    std::string opened = file_name;
    FilePtr f = open_table_file(opened);
    if (!f) {
        log.log_line(strformat("cannot open %s.", file_name.c_str()));
        opened = default_tone_path(program_dir);
        f = open_table_file(opened);
        if (!f) {
            log.log_line(strformat("cannot open %s. set default value.", opened.c_str()));
            table.tone[0] = 0;
            table.color[0] = Rgb{0, 0, 0};
            table.tone[1] = 100;
            table.color[1] = Rgb{255, 255, 255};
            table.count = 2;
            return;
        }
    }
    log.log_line(strformat("open %s.", opened.c_str()));

    std::string word;
    const Mode mode = read_mode(f.get(), word);
    int32_t n = 0;
    if (mode != Mode::bad) {
        std::string piece;
        while (read_piece(f.get(), piece)) {
            const std::string_view line = c_view(piece);
            if (is_empty_line(line)) break;
            if (n == kToneSlots) {
                log.log_line(strformat("number of node is too large. npoint = %d\n", n + 1));
                return;  // the file closes with f; the node count stays
            }
            size_t fields = 0;
            int32_t tone = 0;
            table.color[n] = line_color_fields(mode, line, tone, fields);
            table.tone[n] = tone;
            ++n;
        }
    }
    f.reset();
    if (n >= 2)
        table.count = n;
    else
        log.log_line(strformat("npoint is too small in color.  npoint = %d", n));
}

// An entry line without a readable entry number names no entry and is skipped without a
// message; unread colour fields are 0.
void read_line_color_table(const std::string& file_name, const std::string& program_dir,
                           LineColorTable& table, LogSink& log) {
    table.fill(Rgb{0, 0, 0});
    std::string opened = file_name;
    FilePtr f = open_table_file(opened);
    if (!f) {
        log.log_line(strformat("cannot open %s.", file_name.c_str()));
        opened = default_line_path(program_dir);
        f = open_table_file(opened);
        if (!f) {
            log.log_line(strformat("cannot open %s.", opened.c_str()));
            return;
        }
    }
    log.log_line(strformat("open %s.", opened.c_str()));

    std::string word;
    const Mode mode = read_mode(f.get(), word);
    if (mode == Mode::bad) {
        log.log_line(strformat("color mode |%s| is not correct in color-table.\n",
                               printable(word).c_str()));
        return;
    }
    std::string piece;
    while (read_piece(f.get(), piece)) {
        const std::string_view line = c_view(piece);
        if (is_empty_line(line)) break;
        size_t fields = 0;
        int32_t number = 0;
        const Rgb color = line_color_fields(mode, line, number, fields);
        if (fields == 0) continue;
        if (number < 0 || number >= kLineColors) {
            log.log_line(strformat("no is out of range in color : %d.  ignore\n", number));
            continue;
        }
        table[number] = color;
    }
}

namespace {

// trunc(d * l / t + base) with the product and quotient in double; the differences are
// formed in 64 bits because colour values are arbitrary 32-bit numbers from a file.
int32_t interpolate(int32_t from, int32_t to, int64_t dl, int64_t dt) {
    const double d = static_cast<double>(static_cast<int64_t>(to) - from);
    const double v = std::trunc(d * static_cast<double>(dl) / static_cast<double>(dt) + from);
    // With t[i] <= L <= t[i+1] the result lies between the two colours; rounding in the
    // wide product must still not step outside 32 bits.
    if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(v);
}

}  // namespace

std::optional<TonePalette> expand_tone_palette(const ToneTable& table) {
    const int32_t n = table.count < 0 ? 0 : (table.count > kToneSlots ? kToneSlots : table.count);
    if (n == 0) return std::nullopt;
    const auto& t = table.tone;
    const auto& c = table.color;

    int32_t k = n;
    for (int32_t i = 0; i < n; ++i) {
        if (t[i] >= 101) {
            k = i;
            break;
        }
    }

    TonePalette palette{};
    for (int32_t tone = 101; tone <= 120; ++tone) palette[tone] = Rgb{128, 128, 128};
    for (int32_t i = k; i < n; ++i) {
        if (t[i] >= 101 && t[i] <= 120) palette[t[i]] = c[i];
    }

    for (int32_t level = 0; level <= 100; ++level) {
        if (level <= t[0]) {
            palette[level] = c[0];
            continue;
        }
        // With k == 0 the first node lies above 100, so the rule above took every tone.
        if (level >= t[k - 1]) {
            palette[level] = c[k - 1];
            continue;
        }
        bool set = false;
        for (int32_t i = 0; i + 1 < k; ++i) {
            if (t[i] <= level && level <= t[i + 1]) {
                const int64_t dt = static_cast<int64_t>(t[i + 1]) - t[i];
                const int64_t dl = static_cast<int64_t>(level) - t[i];
                if (dt == 0) {
                    // Two nodes on one tone: the tone is the first node's colour.
                    palette[level] = c[i];
                } else {
                    palette[level] = Rgb{interpolate(c[i].r, c[i + 1].r, dl, dt),
                                         interpolate(c[i].g, c[i + 1].g, dl, dt),
                                         interpolate(c[i].b, c[i + 1].b, dl, dt)};
                }
                set = true;
                break;
            }
        }
        // Cannot happen with at least one node (the rules above always cover a tone), but
        // a palette with a hole must never be handed to the renderer.
        if (!set) return std::nullopt;
    }
    return palette;
}

}  // namespace plotmint
