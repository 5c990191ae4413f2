#include "graph/renderer.h"

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "base/format.h"
#include "text/fonts.h"
#include "text/render_context.h"

namespace plotmint {

namespace {

constexpr int kMaxDeclaredVertices = 200;
constexpr size_t kVertexBuffer = 300;
constexpr size_t kTextLimit = 300;
constexpr size_t kHersheyBuffer = 300;

class Renderer {
public:
    Renderer(RecordReader& reader, const Extent& extent, const Settings& s, const TonePalette& tone_color,
             Surface& surface, LogSink& log, LogSink& diagnostics, const PassStart& on_pass)
        : reader_(reader), s_(s), tone_color_(tone_color), surface_(surface), log_(log), on_pass_(on_pass),
          ctx_{surface, log, diagnostics, extent.xmin, extent.ymax, s.widths.margin(), nullptr} {}

    RenderOutcome run() {
        setup();
        fill_pass();
        if (abandoned_) return RenderOutcome::abandoned;
        current_ = s_.line_color[1];
        if (replaces_vhline_blocks(s_.vhline)) vhline_pass();
        line_pass();
        if (abandoned_) return RenderOutcome::abandoned;
        if (replaces_hershey_text(s_.hershey)) substitution_pass();
        return RenderOutcome::finished;
    }

private:
    // ---- drawing state -------------------------------------------------------------
    void setup() {
        surface_.set_bk_mode(kTransparent);
        replace_pen(PenStyle::null, 0, 0);
        replace_brush(0);
        last_explicit_ = Rgb{0, 0, 0};
        current_ = Rgb{0, 0, 0};
        width_index_ = 1;
    }

    void replace_pen(PenStyle style, int32_t width, uint32_t color) {
        const ObjectId pen = surface_.create_pen(style, width, color);
        surface_.delete_object(surface_.select_object(pen));
    }

    void replace_brush(uint32_t color) {
        const ObjectId brush = surface_.create_solid_brush(color);
        surface_.delete_object(surface_.select_object(brush));
    }

    // Width indices are not validated by the file's producer; an index outside 1..5
    // keeps the widths table safe by leaving the width index as it was.
    void set_width_index(int32_t index) {
        if (index >= 1 && index <= 5) {
            width_index_ = index;
        } else if (!warned_width_) {
            warned_width_ = true;
            log_.log_line(strformat("width no is out of range : %d.  ignore", index));
        }
    }

    int32_t current_width() const { return s_.widths[static_cast<size_t>(width_index_ - 1)]; }

    void select_line_color(int32_t index) {
        if (index < 0 || index >= kLineColors) {
            if (!warned_color_) {
                warned_color_ = true;
                log_.log_line(strformat("color no is out of range : %d.  ignore", index));
            }
            return;
        }
        const Rgb& e = s_.line_color[static_cast<size_t>(index)];
        if (e.r == -1) {
            current_ = Rgb{255, 255, 255};
        } else if (e.r == -2) {
            current_ = last_explicit_;
        } else {
            current_ = e;
            last_explicit_ = e;
        }
    }

    Rgb fill_color(int32_t tone) const {
        const Rgb& e = tone_color_[static_cast<size_t>(tone)];
        if (e.r == -1) return Rgb{255, 255, 255};
        if (e.r == -2) return last_explicit_;
        return e;
    }

    // Graph point to metafile units, computed wide. A point that does not fit the
    // metafile's 32-bit coordinates is reported once and its drawing call is skipped.
    bool map(int32_t x, int32_t y, Point& p) {
        const PictureMapping m = ctx_.mapping();
        const int64_t X = m.x(static_cast<int64_t>(x));
        const int64_t Y = m.y(static_cast<int64_t>(y));
        constexpr int64_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
        if (X < lo || X > hi || Y < lo || Y > hi) {
            if (!warned_coordinate_) {
                warned_coordinate_ = true;
                log_.log_line(strformat("point (%d, %d) is out of range of the picture.  ignore", x, y));
            }
            return false;
        }
        p = Point{static_cast<int32_t>(X), static_cast<int32_t>(Y)};
        return true;
    }

    // Reads up to and including the next record with `end_code`; false at end of file.
    bool skip_block(int32_t end_code) {
        Record r;
        while (reader_.read_record(r))
            if (r.code == end_code) return true;
        return false;
    }

    void abandon() { abandoned_ = true; }

    // ---- fills -------------------------------------------------------------------------
    void draw_fill_block(int32_t fill_mode, int32_t declared, int32_t end_code) {
        if (declared > kMaxDeclaredVertices) {
            log_.log_line("エラー発生");
            log_.log_line("塗りつぶし多角形の頂点数が多すぎます。");
            return;
        }
        Record tone_record;
        if (!reader_.read_record(tone_record)) return;
        const int32_t tone = tone_record.a;
        size_t n = 0;
        bool outside = false;
        bool closed = false;
        Record r;
        while (reader_.read_record(r)) {
            if (r.code == end_code) {
                closed = true;
                break;
            }
            if (n < kVertexBuffer) {
                if (!map(r.a, r.b, vertices_[n])) outside = true;
                ++n;
            } else if (!warned_vertices_) {
                warned_vertices_ = true;
                log_.log_line("too many vertices in a fill block.  the rest are ignored");
            }
        }
        if (tone < 0 || tone > 120) {
            log_.log_line("gray is out of range");
            abandon();
            return;
        }
        if (!closed) return;  // cut off by the end of the file
        const Rgb fill = fill_color(tone);
        if (fill_mode == 2)
            replace_pen(PenStyle::solid, current_width(), pack_color(current_));
        else
            replace_pen(PenStyle::solid, s_.widths[0], pack_color(fill));
        replace_brush(pack_color(fill));
        if (n >= 2 && !outside) surface_.polygon(std::span<const Point>(vertices_.data(), n - 1));
    }

    // ---- passes ------------------------------------------------------------------------
    void start(RunPass pass) {
        if (on_pass_) on_pass_(pass);
        reader_.rewind();
    }

    void fill_pass() {
        start(RunPass::fill);
        Record r;
        while (!abandoned_ && reader_.read_record(r)) {
            switch (r.code) {
            case code::set_width: set_width_index(r.b); break;
            case code::set_color: select_line_color(r.a); break;
            case code::fill_begin: draw_fill_block(r.a, r.b, code::fill_end); break;
            default: break;
            }
        }
    }

    void vhline_pass() {
        start(RunPass::vhline);
        if (s_.vhline == VhlineMode::dotted)
            replace_pen(PenStyle::dot, 1, pack_color(current_));
        else
            replace_pen(PenStyle::solid, s_.vhline_pen.width, pack_color(s_.vhline_pen.color));
        Record r;
        while (reader_.read_record(r)) {
            if (r.code != code::vhline_begin) continue;
            Record end;
            if (!reader_.read_record(end)) break;
            Point p0, p1;
            if (map(r.a, r.b, p0) && map(end.a, end.b, p1)) {
                surface_.move_to(p0.x, p0.y);
                surface_.line_to(p1.x, p1.y);
            }
            if (!skip_block(code::vhline_end)) break;
        }
    }

    void line_pass() {
        current_ = s_.line_color[1];
        width_index_ = 1;
        replace_pen(PenStyle::solid, s_.widths[0], pack_color(current_));
        surface_.set_text_color(pack_color(current_));
        start(RunPass::line);
        Record r;
        Point p;
        while (!abandoned_ && reader_.read_record(r)) {
            switch (r.code) {
            case code::draw_to:
                if (map(r.a, r.b, p)) surface_.line_to(p.x, p.y);
                break;
            case code::move_to:
                if (map(r.a, r.b, p)) surface_.move_to(p.x, p.y);
                break;
            case code::set_width:
                set_width_index(r.b);
                replace_pen(PenStyle::solid, current_width(), pack_color(current_));
                break;
            case code::set_color:
                select_line_color(r.a);
                replace_pen(PenStyle::solid, current_width(), pack_color(current_));
                surface_.set_text_color(pack_color(current_));
                break;
            case code::fill_begin:
                skip_block(code::fill_end);
                break;
            case code::hershey_begin:
                if (replaces_hershey_text(s_.hershey)) skip_block(code::hershey_end);
                break;
            case code::vhline_begin:
                if (replaces_vhline_blocks(s_.vhline)) skip_block(code::vhline_end);
                break;
            case code::text_begin:
                draw_text_block(r.a);
                break;
            case code::overlay_fill_begin:
                draw_fill_block(r.a, r.b, code::overlay_fill_end);
                break;
            default:
                break;
            }
        }
    }

    void draw_text_block(int32_t font_no) {
        Record a, b;
        if (!reader_.read_record(a) || !reader_.read_record(b)) return;
        text_.clear();
        Record r;
        bool closed = false;
        while (reader_.read_record(r)) {
            if (r.code == code::text_end) {
                closed = true;
                break;
            }
            text_.push_back(static_cast<char>(r.b & 0xFF));
            if (text_.size() == kTextLimit) {
                log_.log_line(strformat("ic is too large. ic = %d\n", static_cast<int>(kTextLimit)));
                abandon();
                return;
            }
        }
        if (!closed) return;  // cut off by the end of the file
        const PsFont& font = nameconv(font_no, log_);
        ps_text_out(ctx_, static_cast<double>(b.a), static_cast<double>(b.b), static_cast<double>(a.a),
                    a.b * 0.1, plain(font), text_);
    }

    void substitution_pass() {
        set_hershey_font(ctx_, ps_font(s_.hershey == HersheyChoice::arial ? PsFontId::helvetica : PsFontId::times_roman));
        start(RunPass::substitution);
        Record r;
        while (reader_.read_record(r)) {
            if (r.code == code::set_color) {
                select_line_color(r.a);
                surface_.set_text_color(pack_color(current_));
            } else if (r.code == code::hershey_begin) {
                Record size;
                if (!reader_.read_record(size)) break;
                codes_.clear();
                bool closed = false;
                Record c;
                while (reader_.read_record(c)) {
                    if (c.code == code::hershey_end) {
                        closed = true;
                        break;
                    }
                    if (c.code != code::hershey_char) continue;
                    if (codes_.size() < kHersheyBuffer) {
                        codes_.push_back(c.a);
                    } else if (!warned_hershey_) {
                        warned_hershey_ = true;
                        log_.log_line("too many hershey characters in a block.  the rest are ignored");
                    }
                }
                if (!closed) break;
                hershey_text(ctx_, r.a, r.b, size.a, size.b, codes_);
            }
        }
    }

    RecordReader& reader_;
    const Settings& s_;
    const TonePalette& tone_color_;
    Surface& surface_;
    LogSink& log_;
    const PassStart& on_pass_;
    RenderContext ctx_;

    Rgb last_explicit_{}, current_{};
    int32_t width_index_ = 1;
    bool abandoned_ = false;
    bool warned_width_ = false, warned_color_ = false, warned_coordinate_ = false,
         warned_vertices_ = false, warned_hershey_ = false;
    std::array<Point, kVertexBuffer> vertices_{};
    std::string text_;
    std::vector<int32_t> codes_;
};

}  // namespace

RenderOutcome make_metafile(RecordReader& reader, const Extent& extent, const Settings& settings,
                            const TonePalette& tone_color, Surface& surface, LogSink& log,
                            LogSink& diagnostics, const PassStart& on_pass) {
    Renderer renderer(reader, extent, settings, tone_color, surface, log, diagnostics, on_pass);
    return renderer.run();
}

}  // namespace plotmint
