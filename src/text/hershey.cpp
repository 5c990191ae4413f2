#include "text/hershey.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "base/format.h"
#include "text/fonts.h"
#include "text/x87_arith.h"

namespace plotmint {

namespace {

constexpr int32_t kSpaceStep = 9000;
constexpr int32_t kSuperscriptBegin = 9001;
constexpr int32_t kSubscriptBegin = 9002;
constexpr int32_t kScriptEnd = 9003;

// A sign with no glyph in either font; any value above 255 would do.
constexpr int32_t kUnsupported = 256;

constexpr size_t kRunCapacity = 300;
constexpr size_t kScriptDepth = 20;

using CodeMap = std::array<int32_t, 100>;

// Sets 1 to 9 share one Latin alphabet.
constexpr CodeMap make_latin_map() {
    CodeMap m{};
    m.fill(' ');
    for (int32_t i = 0; i < 26; ++i) m[i] = 'A' + i;
    for (int32_t i = 0; i < 26; ++i) m[26 + i] = 'a' + i;
    for (int32_t i = 0; i < 10; ++i) m[52 + i] = '0' + i;
    constexpr std::string_view signs = "+-/=()*,.$";
    for (size_t i = 0; i < signs.size(); ++i) m[62 + i] = signs[i];
    return m;
}

// Sets 10 and above: Greek in alphabetical order, on the Latin positions the Symbol font
// gives each letter.
constexpr CodeMap make_greek_map() {
    CodeMap m{};
    m.fill(' ');
    constexpr std::string_view capitals = "ABGDEZHQIKLMNXOPRSTUFCYW";
    for (size_t i = 0; i < capitals.size(); ++i) {
        m[i] = capitals[i];
        m[24 + i] = capitals[i] - 'A' + 'a';
    }
    return m;
}

// Set 0: punctuation and mathematical signs; codes above 127 are Symbol-font codes.
constexpr CodeMap make_sign_map() {
    CodeMap m{};
    m.fill(' ');
    m[1] = '<';
    m[2] = '>';
    m[3] = 182;  // partial differential
    m[4] = 209;  // nabla
    m[6] = 163;  // less than or equal
    m[7] = 179;  // greater than or equal
    m[8] = 181;  // proportional to
    m[9] = kUnsupported;
    m[11] = 165;  // infinity
    m[12] = 177;  // plus-minus
    m[14] = 180;  // multiplication sign
    m[15] = 184;  // division sign
    m[16] = 213;  // n-ary product
    m[18] = 214;  // square root
    m[19] = 229;  // n-ary summation
    m[20] = kUnsupported;
    m[21] = '{';
    m[22] = '}';
    m[23] = '@';
    m[24] = '^';
    m[25] = '[';
    m[26] = ']';
    m[27] = '#';
    m[28] = kUnsupported;
    m[29] = kUnsupported;
    m[30] = ':';
    m[31] = ';';
    m[32] = '!';
    m[33] = '?';
    m[34] = '%';
    m[35] = '&';
    m[40] = '~';
    m[41] = kUnsupported;
    m[42] = kUnsupported;
    m[43] = '|';
    m[44] = '"';
    m[45] = 176;  // degree
    m[46] = kUnsupported;
    m[47] = kUnsupported;
    m[48] = '\'';
    return m;
}

constexpr CodeMap kLatinMap = make_latin_map();
constexpr CodeMap kGreekMap = make_greek_map();
constexpr CodeMap kSignMap = make_sign_map();

enum class Script { superscript, subscript };

// The layout's arithmetic is x87 extended precision: a 64-bit significand, each operation
// rounded to nearest even, as x86 builds have always drawn. Where long double is IEEE
// binary128 (wasm), each operation is done in binary128 together with its exact error and
// then rounded once to 64 bits, which gives the x87 result bit for bit. Cosine and sine
// come from each platform's own library, rounded to 64 bits: they agree at every angle
// ps_text_out draws, and at all but a few others, whose text is never drawn.
#if LDBL_MANT_DIG == 64
struct Ext {
    long double v;
};
Ext mul(Ext a, Ext b) { return {a.v * b.v}; }
Ext add(Ext a, Ext b) { return {a.v + b.v}; }
Ext ext_cos(Ext a) { return {std::cos(a.v)}; }
Ext ext_sin(Ext a) { return {std::sin(a.v)}; }
#elif LDBL_MANT_DIG == 113
struct Ext {
    long double v;
};
Ext mul(Ext a, Ext b) { return {x87::mul(a.v, b.v)}; }
Ext add(Ext a, Ext b) { return {x87::add(a.v, b.v)}; }
Ext ext_cos(Ext a) { return {x87::round_to_64_bits(std::cos(a.v), 0)}; }
Ext ext_sin(Ext a) { return {x87::round_to_64_bits(std::sin(a.v), 0)}; }
#else
#error "the Hershey layout needs x87 or binary128 long double"
#endif
Ext ext(double d) { return {d}; }
Ext neg(Ext a) { return {-a.v}; }
double to_double(Ext a) { return static_cast<double>(a.v); }

// The constants as x87 has them, each rounded to 64 bits once: 0.1L, 1.0L / 180.0L and
// 1.5384615384615384L (the scale that undoes a script's 0.65).
constexpr Ext kTenth{0xcccccccccccccccdp-67L};
constexpr Ext kOver180{0xb60b60b60b60b60bp-71L};
constexpr Ext kScriptEndScale{0xc4ec4ec4ec4ec2b5p-63L};

}  // namespace

HersheyPen hershey_layout(const PsFont* hershey_font, int32_t x, int32_t y, int32_t size,
                          int32_t angle10, std::span<const int32_t> codes, LogSink& log,
                          LogSink& diagnostics, const std::function<void(const HersheyRun&)>& draw) {
    // The angle and its direction are worked out in extended precision; positions and
    // sizes are kept as doubles between steps.
    const Ext degrees = mul(Ext{static_cast<long double>(angle10)}, kTenth);
    const Ext pi = ext(std::acos(-1.0));
    const Ext r = mul(mul(degrees, kOver180), pi);
    const Ext dx = ext_cos(r), dy = ext_sin(r);  // direction of writing
    const Ext ux = neg(dy), uy = dx;             // up
    const double angle = to_double(degrees);

    double s = size;
    double pen_x = x, pen_y = y;
    auto move_pen = [&](double along, double up) {
        pen_x = to_double(add(add(ext(pen_x), mul(ext(along), dx)), mul(ext(up), ux)));
        pen_y = to_double(add(add(ext(pen_y), mul(ext(along), dy)), mul(ext(up), uy)));
    };

    const PsFont* const symbol_font = &ps_font(PsFontId::symbol);
    const PsFont* run_font = hershey_font;
    std::array<char, kRunCapacity> run_chars{};
    size_t run_count = 0;
    double run_x = 0, run_y = 0;

    std::array<Script, kScriptDepth> scripts{};
    size_t script_depth = 0;

    auto draw_run = [&] {
        if (run_count == 0) return;
        draw(HersheyRun{run_x, run_y, s, angle, run_font, std::string_view(run_chars.data(), run_count)});
        run_count = 0;
    };

    for (const int32_t v : codes) {
        // Control numbers are only the positive ones: -9000 and so on are characters.
        // A script begin beyond the stack's depth, or an end with no open script, is
        // dropped as if it were not in the block, so begins and ends stay paired.
        if (v == kSpaceStep) {
            draw_run();
            move_pen(s, 0);
            continue;
        }
        if (v == kSuperscriptBegin || v == kSubscriptBegin) {
            if (script_depth == kScriptDepth) continue;
            draw_run();
            if (v == kSuperscriptBegin)
                move_pen(0, 0.65 * s);
            else
                move_pen(0, -(0.2 * s));
            s = 0.65 * s;
            scripts[script_depth++] = v == kSuperscriptBegin ? Script::superscript : Script::subscript;
            continue;
        }
        if (v == kScriptEnd) {
            if (script_depth == 0) continue;
            draw_run();
            const Script open = scripts[--script_depth];
            s = to_double(mul(ext(s), kScriptEndScale));
            if (open == Script::superscript)
                move_pen(0, -(0.65 * s));
            else
                move_pen(0, 0.2 * s);
            continue;
        }

        // Wide arithmetic: |INT32_MIN| has no int32 value.
        const int64_t g = v < 0 ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
        const int64_t hi = g / 100;
        const size_t lo = static_cast<size_t>(g % 100);

        int32_t code;
        const PsFont* char_font = nullptr;
        bool keeps_run_font = false;
        if (hi == 0) {
            code = kSignMap[lo];
            if (code <= 127) {
                char_font = hershey_font;
            } else if (code <= 255) {
                char_font = symbol_font;
            } else {
                diagnostics.log_line(strformat(
                    "This hershey font no.%d is not supported. Replaced by space.\n", static_cast<int>(lo)));
                code = ' ';
                keeps_run_font = true;
            }
        } else if (hi <= 9) {
            code = kLatinMap[lo];
            // The Symbol font's 45 is a true minus sign, wider than a hyphen.
            char_font = code == '-' ? symbol_font : hershey_font;
        } else {
            code = kGreekMap[lo];
            char_font = symbol_font;
        }
        const char byte = static_cast<char>(static_cast<unsigned char>(code));

        if (v >= 0) {
            // A full run is drawn and a new one starts at the pen; only blocks longer than
            // any graph file should hold get that far.
            if ((!keeps_run_font && char_font != run_font) || run_count == kRunCapacity) draw_run();
            if (run_count == 0) {
                run_x = pen_x;
                run_y = pen_y;
            }
            if (!keeps_run_font) run_font = char_font;
            const double w = font_width(run_font, code, log);
            run_chars[run_count++] = byte;
            move_pen(s * w, 0);
        } else {
            // Centred in a cell one size wide, whatever the character's own width.
            draw_run();
            if (!keeps_run_font) run_font = char_font;
            const double w = font_width(run_font, code, log);
            const double offset = (1.0 - w) * s * 0.5;
            draw(HersheyRun{to_double(add(ext(pen_x), mul(ext(offset), dx))),
                            to_double(add(ext(pen_y), mul(ext(offset), dy))), s,
                            angle, run_font, std::string_view(&byte, 1)});
            move_pen(s, 0);
        }
    }
    draw_run();
    return HersheyPen{pen_x, pen_y, s};
}

void hershey_text(RenderContext& ctx, int32_t x, int32_t y, int32_t size, int32_t angle10,
                  std::span<const int32_t> codes) {
    hershey_layout(ctx.hershey_font, x, y, size, angle10, codes, ctx.log, ctx.diagnostics,
                   [&ctx](const HersheyRun& run) {
                       ps_text_out(ctx, run.x, run.y, run.size, run.angle, run.font ? plain(*run.font) : FontSelection{},
                                   run.text);
                   });
}

}  // namespace plotmint
