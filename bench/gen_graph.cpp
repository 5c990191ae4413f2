// Writes a reproducible graph file of a given size and mix, and the same drawing as a
// portable GNU metafile so that `plot -T ps` can draw it for comparison.
//
//   gen_graph --mix line|fill|text --size-mb N [--seed S] --out FILE.g [--meta FILE.meta]
//
// The same seed, mix and size always give the same bytes.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// xorshift64*: fixed across compilers and standard libraries, unlike <random>'s
// distributions.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {
        if (s_ == 0) s_ = 1;
    }
    uint64_t next() {
        s_ ^= s_ >> 12;
        s_ ^= s_ << 25;
        s_ ^= s_ >> 27;
        return s_ * 0x2545F4914F6CDD1Dull;
    }
    // Uniform in [lo, hi].
    int32_t range(int32_t lo, int32_t hi) {
        const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo) + 1;
        return static_cast<int32_t>(lo + static_cast<int64_t>((next() >> 11) % span));
    }
    bool chance(int percent) { return range(0, 99) < percent; }

private:
    uint64_t s_;
};

class Out {
public:
    Out(const char* path) {
        if (path) {
            f_ = std::fopen(path, "wb");
            if (!f_) {
                std::perror(path);
                std::exit(1);
            }
        }
        buf_.reserve(kChunk + 1024);
    }
    ~Out() { finish(); }
    bool active() const { return f_ != nullptr; }
    void finish() {
        if (!f_) return;
        flush();
        if (std::fclose(f_) != 0) {
            std::perror("close");
            std::exit(1);
        }
        f_ = nullptr;
    }
    uint64_t size() const { return written_ + buf_.size(); }
    void put(std::string_view s) {
        if (!f_) return;
        buf_.append(s);
        if (buf_.size() >= kChunk) flush();
    }
    void put_int(int64_t v) {
        if (!f_) return;
        char tmp[24];
        char* e = tmp + sizeof tmp;
        char* p = e;
        const bool neg = v < 0;
        uint64_t u = neg ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
        do {
            *--p = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u);
        if (neg) *--p = '-';
        buf_.append(p, static_cast<size_t>(e - p));
    }

private:
    static constexpr size_t kChunk = 1 << 22;
    void flush() {
        if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) {
            std::perror("write");
            std::exit(1);
        }
        written_ += buf_.size();
        buf_.clear();
    }
    std::FILE* f_ = nullptr;
    std::string buf_;
    uint64_t written_ = 0;
};

constexpr int32_t kPageW = 5240, kPageH = 7860;

struct Colour {
    int r, g, b;
};

// A fixed palette for the metafile; Plotmint takes its colours from its own tables.
Colour palette_colour(int i) {
    return Colour{(i * 97) % 256, (i * 53 + 40) % 256, (i * 151 + 90) % 256};
}

class Writer {
public:
    Writer(Out& g, Out& m) : g_(g), m_(m) {
        m_.put("#PLOT 2\no\ns 0 0 7860 7860\nL 0\nW 12\n- 0 0 0\n");
    }
    void end() {
        rec(-999, 0, 0);
        flush_path();
        m_.put("x\n");
    }

    void rec(int32_t c, int32_t a, int32_t b) {
        g_.put_int(c);
        g_.put(" ");
        g_.put_int(a);
        g_.put(" ");
        g_.put_int(b);
        g_.put("\n");
    }

    // ---- segments, written to both files ----------------------------------------------
    void move_to(int32_t x, int32_t y) {
        rec(3, x, y);
        flush_path();
        meta_point("m ", x, y);
        in_path_ = true;
    }
    void draw_to(int32_t x, int32_t y) {
        rec(2, x, y);
        if (!in_path_) {
            meta_point("m ", 0, 0);
            in_path_ = true;
        }
        meta_point("n ", x, y);
    }
    void set_width(int32_t index) {
        rec(5, 0, index);
        flush_path();
        static const int widths[5] = {12, 16, 20, 24, 28};
        m_.put("W ");
        m_.put_int(widths[index - 1]);
        m_.put("\n");
    }
    void set_color(int32_t index) {
        rec(6, index, 0);
        flush_path();
        const Colour c = palette_colour(index);
        meta_colour("- ", c);
    }
    void fill(bool overlay, int32_t mode, int32_t tone, const std::vector<int32_t>& xy) {
        const size_t n = xy.size() / 2;  // vertex records, the last repeating the first
        rec(overlay ? 30 : 7, mode, static_cast<int32_t>(n));
        rec(0, tone, 0);
        for (size_t i = 0; i < n; ++i) rec(0, xy[2 * i], xy[2 * i + 1]);
        rec(overlay ? 32 : 9, 0, 0);
        flush_path();
        meta_colour("D ", palette_colour(tone % 31 + 40));
        m_.put("L 1\n");
        meta_point("m ", xy[0], xy[1]);
        for (size_t i = 1; i + 1 < n; ++i) meta_point("n ", xy[2 * i], xy[2 * i + 1]);
        m_.put("E\nL 0\n");
    }
    void text(int32_t font_no, int32_t x, int32_t y, int32_t size, int32_t angle10, std::string_view s) {
        rec(25, font_no, 0);
        rec(0, size, angle10);
        rec(0, x, y);
        for (const char ch : s) rec(0, 0, static_cast<unsigned char>(ch));
        rec(29, static_cast<int32_t>(size * 0.55 * static_cast<double>(s.size())), 0);
        flush_path();
        static const char* const faces[5] = {"Helvetica", "Helvetica-Bold", "Times-Roman", "Times-Bold", "Courier"};
        m_.put("F");
        m_.put(faces[(font_no / 4) % 5]);
        m_.put("\nS ");
        m_.put_int(size);
        m_.put("\nR ");
        m_.put_int(angle10 / 10);
        m_.put("\n");
        meta_point("m ", x, y);
        m_.put("Tlx");
        m_.put(s);
        m_.put("\nR 0\n");
        in_path_ = false;
    }

private:
    void flush_path() {
        if (in_path_) m_.put("E\n");
        in_path_ = false;
    }
    void meta_point(const char* op, int32_t x, int32_t y) {
        m_.put(op);
        m_.put_int(x);
        m_.put(" ");
        m_.put_int(y);
        m_.put("\n");
    }
    void meta_colour(const char* op, Colour c) {
        m_.put(op);
        m_.put_int(c.r * 257);
        m_.put(" ");
        m_.put_int(c.g * 257);
        m_.put(" ");
        m_.put_int(c.b * 257);
        m_.put("\n");
    }

    Out& g_;
    Out& m_;
    bool in_path_ = false;
};

int32_t clampi(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

class Generator {
public:
    Generator(Writer& w, Rng& rng) : w_(w), r_(rng) {}

    void polyline(int min_pts, int max_pts, int step) {
        int32_t x = r_.range(0, kPageW), y = r_.range(0, kPageH);
        w_.move_to(x, y);
        const int n = r_.range(min_pts, max_pts);
        for (int i = 0; i < n; ++i) {
            x = clampi(x + r_.range(-step, step), 0, kPageW);
            y = clampi(y + r_.range(-step, step), 0, kPageH);
            w_.draw_to(x, y);
        }
    }

    void fill(int min_v, int max_v, int radius, bool overlay) {
        const int n = r_.range(min_v, max_v);
        const int32_t cx = r_.range(radius, kPageW - radius), cy = r_.range(radius, kPageH - radius);
        const double turn = 6.283185307179586 / n;
        xy_.clear();
        for (int i = 0; i < n; ++i) {
            const double rr = radius * (0.5 + 0.5 * r_.range(0, 1000) / 1000.0);
            xy_.push_back(cx + static_cast<int32_t>(rr * std::cos(turn * i)));
            xy_.push_back(cy + static_cast<int32_t>(rr * std::sin(turn * i)));
        }
        xy_.push_back(xy_[0]);
        xy_.push_back(xy_[1]);
        w_.fill(overlay, r_.chance(30) ? 2 : 1, r_.range(0, 120), xy_);
    }

    void vhline() {
        const bool vertical = r_.chance(50);
        const int32_t x0 = r_.range(0, kPageW), y0 = r_.range(0, kPageH);
        const int32_t len = r_.range(200, 2000);
        const int32_t x1 = vertical ? x0 : clampi(x0 + len, 0, kPageW);
        const int32_t y1 = vertical ? clampi(y0 + len, 0, kPageH) : y0;
        w_.rec(21, x0, y0);
        w_.rec(0, x1, y1);
        const int n = std::max(1, static_cast<int>(std::hypot(x1 - x0, y1 - y0) / 40));
        for (int i = 0; i < n; ++i) {
            w_.move_to(x0 + (x1 - x0) * i / n, y0 + (y1 - y0) * i / n);
            w_.draw_to(x0 + (x1 - x0) * (2 * i + 1) / (2 * n), y0 + (y1 - y0) * (2 * i + 1) / (2 * n));
        }
        w_.rec(24, 0, 0);
    }

    void text() {
        static const int32_t fonts[5] = {1, 5, 9, 13, 17};
        const int len = r_.range(3, 40);
        std::string s;
        for (int i = 0; i < len; ++i) s.push_back(static_cast<char>(r_.range(32, 126)));
        // Text is drawn at 0 and 90 degrees only; other angles are refused with a log line.
        const int32_t angle = r_.chance(70) ? 0 : 900;
        w_.text(fonts[r_.range(0, 4)], r_.range(0, kPageW - 1000), r_.range(0, kPageH - 300), r_.range(50, 300), angle, s);
    }

    // A Hershey block: character numbers and, interleaved, the strokes of each character.
    void hershey() {
        const int32_t x = r_.range(0, kPageW - 1500), y = r_.range(0, kPageH - 300);
        const int32_t size = r_.range(60, 250);
        w_.rec(10, x, y);
        w_.rec(0, size, r_.chance(80) ? 0 : 900);
        const int n = r_.range(3, 30);
        int32_t px = x;
        for (int i = 0; i < n; ++i) {
            int32_t c;
            const int kind = r_.range(0, 99);
            if (kind < 75) c = r_.range(100, 161);
            else if (kind < 85) c = r_.range(1000, 1047);
            else if (kind < 95) c = 9000;
            else c = r_.range(162, 171);
            w_.rec(20, c, 0);
            const int strokes = c == 9000 ? 0 : r_.range(1, 3);
            for (int k = 0; k < strokes; ++k) {
                const int pts = r_.range(2, 6);
                w_.move_to(px + r_.range(0, size / 2), y + r_.range(0, size));
                for (int j = 0; j < pts; ++j) w_.draw_to(px + r_.range(0, size / 2), y + r_.range(0, size));
            }
            px += size / 2;
        }
        w_.rec(13, 0, 0);
    }

    void attributes(int percent_color, int percent_width) {
        if (r_.chance(percent_color)) w_.set_color(r_.range(0, 30));
        if (r_.chance(percent_width)) w_.set_width(r_.range(1, 5));
    }

private:
    Writer& w_;
    Rng& r_;
    std::vector<int32_t> xy_;
};

[[noreturn]] void usage() {
    std::fputs("usage: gen_graph --mix line|fill|text --size-mb N [--seed S] --out FILE.g [--meta FILE.meta]\n",
               stderr);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::string mix, out, meta;
    double size_mb = 0;
    uint64_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) usage();
        const char* v = argv[++i];
        if (a == "--mix") mix = v;
        else if (a == "--size-mb") size_mb = std::atof(v);
        else if (a == "--seed") seed = std::strtoull(v, nullptr, 10);
        else if (a == "--out") out = v;
        else if (a == "--meta") meta = v;
        else usage();
    }
    if (out.empty() || size_mb <= 0 || (mix != "line" && mix != "fill" && mix != "text")) usage();

    Out g(out.c_str());
    Out m(meta.empty() ? nullptr : meta.c_str());
    Writer w(g, m);
    Rng rng(seed);
    Generator gen(w, rng);
    const uint64_t target = static_cast<uint64_t>(size_mb * 1024 * 1024);

    // The colour tables shipped as "demo", named the way a plotting program names them.
    w.rec(33, 0, 0);
    for (const char c : std::string_view("demo")) w.rec(0, c, 0);
    w.rec(35, 0, 0);
    w.set_color(1);
    while (g.size() < target) {
        const int pick = rng.range(0, 99);
        if (mix == "line") {
            gen.attributes(4, 3);
            if (pick < 88) gen.polyline(2, 40, 60);
            else if (pick < 94) gen.fill(3, 12, 150, false);
            else if (pick < 95) gen.fill(3, 12, 150, true);
            else gen.vhline();
        } else if (mix == "fill") {
            gen.attributes(5, 3);
            if (pick < 60) gen.fill(4, 60, 300, false);
            else if (pick < 72) gen.fill(4, 60, 300, true);
            else if (pick < 95) gen.polyline(2, 20, 80);
            else gen.vhline();
        } else {
            gen.attributes(8, 3);
            if (pick < 35) gen.text();
            else if (pick < 75) gen.hershey();
            else gen.polyline(2, 20, 60);
        }
    }
    w.end();
    g.finish();
    m.finish();
    return 0;
}
