// Prints every run the Hershey layout produces for a set of inputs, with all doubles as
// hex floats, and the text calls that reach the picture through ps_text_out. Built once
// natively and once for wasm (scripts/hershey-layout-diff.sh), the two outputs differ
// exactly where the platforms' long double arithmetic gives a different result.
//
//   hershey_layout_dump gen COUNT SEED      generated cases
//   hershey_layout_dump drawn COUNT SEED    generated cases at the angles ps_text_out draws
//                                           (0 and 90 degrees after rounding), picture
//                                           calls only
//   hershey_layout_dump graph FILE...       every Hershey block of the graph files
//   hershey_layout_dump angles LO HI        the angle in degrees of every angle10 from LO
//                                           to HI, as a digest, and the direction of
//                                           writing of the drawn angles
//   hershey_layout_dump steps LO HI         for every angle10 from LO to HI, the pen after
//                                           space steps and a superscript, through the
//                                           layout itself
//
// The generator uses integer arithmetic only, so both builds see the same cases.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "metafile/recording_surface.h"
#include "text/fonts.h"
#include "text/hershey.h"
#include "text/ps_fonts.h"

namespace {

using namespace plotmint;

struct Case {
    std::string font;
    int32_t x = 0, y = 0, size = 0, angle10 = 0;
    int32_t xmin = 0, ymax = 0, margin = 0;
    std::vector<int32_t> codes;
};

// splitmix64: the same sequence on every platform.
struct Rng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    // In [lo, hi].
    int64_t range(int64_t lo, int64_t hi) {
        return lo + static_cast<int64_t>(next() % static_cast<uint64_t>(hi - lo + 1));
    }
    template <size_t N>
    int32_t pick(const int32_t (&values)[N]) {
        return values[next() % N];
    }
};

// Angles ps_text_out draws (those rounding to 0 and 90 degrees) most often, since only
// they reach the picture; the others still show whether the layout itself agrees.
int32_t gen_angle(Rng& rng) {
    static const int32_t special[] = {0, 900, 450, 1800, 2700, -900, 3600, 300, 600, 1, -1, 899, 901, 1350};
    switch (rng.next() % 8) {
        case 0: return rng.pick(special);
        case 1:
        case 2: return static_cast<int32_t>(rng.range(-14, 4));
        case 3:
        case 4: return static_cast<int32_t>(rng.range(895, 904));
        case 5: return static_cast<int32_t>(rng.range(-3600, 3600));
        case 6: return 0;
        default: return 900;
    }
}

int32_t gen_code(Rng& rng) {
    const uint64_t kind = rng.next() % 100;
    int32_t v;
    if (kind < 45) {
        v = static_cast<int32_t>(rng.range(1, 9) * 100 + rng.range(0, 71));  // Latin, digits, signs
    } else if (kind < 55) {
        v = static_cast<int32_t>(rng.range(10, 30) * 100 + rng.range(0, 47));  // Greek
    } else if (kind < 63) {
        v = static_cast<int32_t>(rng.range(0, 48));  // set 0
    } else if (kind < 73) {
        v = static_cast<int32_t>(rng.range(1, 9) * 100 + rng.range(0, 61));  // more letters
    } else if (kind < 80) {
        return 9000;
    } else if (kind < 86) {
        return 9001;
    } else if (kind < 91) {
        return 9002;
    } else if (kind < 97) {
        return 9003;
    } else {
        v = static_cast<int32_t>(rng.range(0, 2999));
    }
    // Negative numbers are centred characters.
    if (rng.next() % 10 == 0) v = -v;
    return v;
}

Case gen_case(Rng& rng, bool drawn_only) {
    Case c;
    c.font = rng.next() % 2 ? "Helvetica" : "Times-Roman";
    static const int32_t sizes[] = {1, 7, 10, 13, 50, 100, 150, 180, 220, 333, 1000, 4095};
    c.size = rng.next() % 3 == 0 ? rng.pick(sizes) : static_cast<int32_t>(rng.range(1, 3000));
    if (drawn_only) {
        const int32_t a = static_cast<int32_t>(rng.range(-14, 4));
        c.angle10 = rng.next() % 2 ? a : a + 900;
        if (rng.next() % 2) c.angle10 = c.angle10 < 450 ? 0 : 900;
    } else {
        c.angle10 = gen_angle(rng);
    }
    const int64_t span = rng.next() % 4 == 0 ? 2000000000 : 20000;
    c.x = static_cast<int32_t>(rng.range(-span, span));
    c.y = static_cast<int32_t>(rng.range(-span, span));
    c.xmin = static_cast<int32_t>(rng.range(-1000, 5000));
    c.ymax = static_cast<int32_t>(rng.range(0, 20000));
    // Text at the picture's left or top edge: there the position after the ascent is
    // subtracted can be negative, where truncation rounds up.
    if (rng.next() % 4 == 0) c.x = c.xmin + static_cast<int32_t>(rng.range(-50, 50));
    if (rng.next() % 4 == 0) c.y = c.ymax + static_cast<int32_t>(rng.range(-50, 50));
    c.margin = static_cast<int32_t>(rng.range(0, 100));
    const int64_t n = rng.range(1, 40);
    for (int64_t i = 0; i < n; ++i) c.codes.push_back(gen_code(rng));
    return c;
}

// Graph files hold records of three integers; a Hershey block is a begin record (10, x,
// y), a record whose a and b are size and angle, character records (20, number, _) and
// an end record (13).
bool read_graph(const char* path, std::vector<Case>& cases) {
    std::FILE* f = std::fopen(path, "r");
    if (!f) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return false;
    }
    std::vector<int32_t> v;
    long long value;
    while (std::fscanf(f, "%lld", &value) == 1) v.push_back(static_cast<int32_t>(value));
    std::fclose(f);
    for (size_t i = 0; i + 5 < v.size(); i += 3) {
        if (v[i] != 10) continue;
        Case c;
        c.font = "Helvetica";
        c.x = v[i + 1];
        c.y = v[i + 2];
        c.size = v[i + 4];
        c.angle10 = v[i + 5];
        c.xmin = 208;
        c.ymax = 6612;
        c.margin = 28;
        size_t j = i + 6;
        for (; j + 2 < v.size() && v[j] != 13; j += 3)
            if (v[j] == 20) c.codes.push_back(v[j + 1]);
        cases.push_back(c);
        c.font = "Times-Roman";
        cases.push_back(c);
        i = j;
    }
    return true;
}

void dump(size_t index, const Case& c, bool picture_only) {
    std::printf("case %zu font=%s x=%d y=%d size=%d angle10=%d xmin=%d ymax=%d margin=%d codes=", index,
                c.font.c_str(), c.x, c.y, c.size, c.angle10, c.xmin, c.ymax, c.margin);
    for (const int32_t v : c.codes) std::printf(" %d", v);
    std::printf("\n");

    NullLog log, diagnostics;
    if (!picture_only) {
        const HersheyPen pen = hershey_layout(
            find_ps_font(c.font), c.x, c.y, c.size, c.angle10, c.codes, log, diagnostics, [](const HersheyRun& r) {
                std::printf("  run x=%a y=%a size=%a angle=%a font=%.*s text=", r.x, r.y, r.size, r.angle,
                            r.font ? static_cast<int>(r.font->name.size()) : 0, r.font ? r.font->name.data() : "");
                for (const char ch : r.text)
                    std::printf("%02x", static_cast<unsigned>(static_cast<unsigned char>(ch)));
                std::printf("\n");
            });
        std::printf("  pen x=%a y=%a size=%a\n", pen.x, pen.y, pen.size);
    }

    // What the picture receives: fonts (height, escapement) and integer text positions.
    RecordingSurface surface;
    RenderContext ctx{surface, log, diagnostics, c.xmin, c.ymax, c.margin, find_ps_font(c.font)};
    hershey_text(ctx, c.x, c.y, c.size, c.angle10, c.codes);
    for (const std::string& call : surface.calls)
        if (call.rfind("create_font", 0) == 0 || call.rfind("text_out", 0) == 0) std::printf("  emf %s\n", call.c_str());
}

// The layout's angle arithmetic, repeated here: the angle in degrees, and the direction of
// writing as two doubles whose sum is the long double (head and the rest).
void dump_angles(long lo, long hi) {
    uint64_t digest = 0xcbf29ce484222325u;  // FNV-1a over the angles' bits
    for (long a10 = lo; a10 <= hi; ++a10) {
        const long double degrees = static_cast<int32_t>(a10) * 0.1L;
        const double angle = static_cast<double>(degrees);
        uint64_t bits;
        std::memcpy(&bits, &angle, sizeof bits);
        for (int i = 0; i < 8; ++i) digest = (digest ^ ((bits >> (8 * i)) & 0xff)) * 0x100000001b3u;
    }
    std::printf("angles %ld..%ld digest %016" PRIx64 "\n", lo, hi, digest);
    for (int32_t a10 = -14; a10 <= 904; a10 = a10 == 4 ? 895 : a10 + 1) {
        const long double degrees = a10 * 0.1L;
        const long double pi = std::acos(-1.0);
        const long double r = degrees * (1.0L / 180.0L) * pi;
        const long double dx = std::cos(r), dy = std::sin(r);
        const double dx0 = static_cast<double>(dx), dy0 = static_cast<double>(dy);
        std::printf("angle10 %d degrees %a dx %a%+a dy %a%+a\n", a10, static_cast<double>(degrees), dx0,
                    static_cast<double>(dx - dx0), dy0, static_cast<double>(dy - dy0));
    }
}

// The direction of writing as the layout uses it, for whichever arithmetic it is built
// with: the pen after steps along and up from the origin.
void dump_steps(long lo, long hi) {
    static const int32_t codes[] = {9000, 9001, 9000, 9003, 9000, -100};
    NullLog log;
    for (long a10 = lo; a10 <= hi; ++a10) {
        std::printf("%ld", a10);
        const HersheyPen pen =
            hershey_layout(find_ps_font("Helvetica"), 0, 0, 1000, static_cast<int32_t>(a10), codes, log, log,
                           [](const HersheyRun& r) { std::printf(" run %a %a", r.x, r.y); });
        std::printf(" pen %a %a %a\n", pen.x, pen.y, pen.size);
    }
}

int usage() {
    std::fprintf(stderr, "usage: hershey_layout_dump gen|drawn COUNT SEED | graph FILE... | angles|steps LO HI\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    std::vector<Case> cases;
    const bool drawn = std::strcmp(argv[1], "drawn") == 0;
    if (std::strcmp(argv[1], "steps") == 0 && argc == 4) {
        dump_steps(std::strtol(argv[2], nullptr, 10), std::strtol(argv[3], nullptr, 10));
        return 0;
    }
    if (std::strcmp(argv[1], "angles") == 0 && argc == 4) {
        dump_angles(std::strtol(argv[2], nullptr, 10), std::strtol(argv[3], nullptr, 10));
        return 0;
    }
    if ((drawn || std::strcmp(argv[1], "gen") == 0) && argc == 4) {
        const long count = std::strtol(argv[2], nullptr, 10);
        Rng rng{std::strtoull(argv[3], nullptr, 10)};
        // One case at a time: a large count needs no memory.
        for (long i = 0; i < count; ++i) dump(static_cast<size_t>(i), gen_case(rng, drawn), drawn);
        return 0;
    } else if (std::strcmp(argv[1], "graph") == 0) {
        for (int i = 2; i < argc; ++i)
            if (!read_graph(argv[i], cases)) return 1;
    } else {
        return usage();
    }
    for (size_t i = 0; i < cases.size(); ++i) dump(i, cases[i], false);
    return 0;
}
