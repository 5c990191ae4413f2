#include "metafile/svg_writer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <vector>

#include "metafile/font_geometry.h"
#include "metafile/picture_size.h"
#include "metafile/text_metrics.h"

namespace plotmint {

namespace {

// Bytes gathered before they go to the sink: a record is a few dozen bytes of SVG.
constexpr size_t kFlushAt = 1 << 16;
// A <path> of lines is closed after this many segments, so no element grows with the picture.
constexpr uint32_t kSegmentsPerPath = 1000;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// One character as XML text or attribute content; false for what XML cannot hold.
bool append_escaped(std::string& out, char32_t c) {
    if (c < 0x20 || c == 0xFFFE || c == 0xFFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    switch (c) {
        case U'&': out += "&amp;"; break;
        case U'<': out += "&lt;"; break;
        case U'>': out += "&gt;"; break;
        case U'"': out += "&quot;"; break;
        default: append_utf8(out, c);
    }
    return true;
}

void append_int(std::string& out, int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, static_cast<size_t>(r.ptr - buf));
}

std::string number(double v) {
    char buf[64];
#if defined(__cpp_lib_to_chars)
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    if (ec != std::errc()) return "0";
    std::string s(buf, end);
#else
    // A standard library without floating-point to_chars (the browser build's): printf in
    // the C locale, which rounds the same way.
    const int n = std::snprintf(buf, sizeof buf, "%.3f", v);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return "0";
    std::string s(buf, static_cast<size_t>(n));
#endif
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

std::string hex_color(uint32_t c) {
    static const char digits[] = "0123456789abcdef";
    std::string s = "#";
    for (const uint32_t channel : {c & 0xFFu, (c >> 8) & 0xFFu, (c >> 16) & 0xFFu}) {
        s += digits[channel >> 4];
        s += digits[channel & 0xF];
    }
    return s;
}

// A family name for font-family: plain words stay as they are (as readers match them),
// anything else is quoted for CSS. Face names are code page 1252 bytes.
void append_family(std::string& out, std::string_view face) {
    const bool plain = !face.empty() && std::all_of(face.begin(), face.end(), [](char ch) {
        return std::isalnum(static_cast<unsigned char>(ch)) || ch == ' ' || ch == '-';
    }) && !std::isdigit(static_cast<unsigned char>(face.front()));
    if (!plain) out += '\'';
    for (const char ch : face) {
        if (!plain && (ch == '\'' || ch == '\\')) out += '\\';
        append_escaped(out, byte_to_utf16(static_cast<unsigned char>(ch), 0));
    }
    if (!plain) out += '\'';
}

std::string font_attributes(const LogFont& font) {
    std::string a = " font-family=\"";
    if (is_symbol_face(font.face_name)) {
        // Its text is written as the Unicode characters it stands for, which these faces draw;
        // a reader without any of them takes its own serif face, nearest in design.
        for (const char* f : symbol_stand_in_families()) {
            append_family(a, f);
            a += ", ";
        }
        a += "serif";
    } else {
        append_family(a, font.face_name);
        for (const char* twin : twin_families(font.face_name)) {
            a += ", ";
            append_family(a, twin);
        }
    }
    a += "\" font-size=\"" + number(em_height(font)) + "\"";
    if (font.weight > 0) {
        const int weight = std::clamp((font.weight + 50) / 100 * 100, 100, 900);
        if (weight != 400) a += " font-weight=\"" + std::to_string(weight) + "\"";
    }
    if (font.italic) a += " font-style=\"italic\"";
    if (font.underline || font.strike_out) {
        a += " text-decoration=\"";
        if (font.underline) a += "underline";
        if (font.underline && font.strike_out) a += ' ';
        if (font.strike_out) a += "line-through";
        a += '"';
    }
    return a;
}

}  // namespace

SvgWriter::SvgWriter(ByteSink& sink) : sink_(sink) {
    out_.reserve(kFlushAt + 4096);
    set_pen(PenStyle::solid, 0, 0);
    set_brush(false, 0xFFFFFF);
    set_font(stock_system_font());
}

void SvgWriter::begin(const EmfPicture& picture) {
    const Rect f = picture.logical_frame();
    put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"");
    put(number(picture_width_mm(picture)));
    put("mm\" height=\"");
    put(number(picture_height_mm(picture)));
    put("mm\" viewBox=\"");
    put(int64_t{f.left});
    put(" ");
    put(int64_t{f.top});
    put(" ");
    put(std::max<int64_t>(1, int64_t{f.right} - f.left));
    put(" ");
    put(std::max<int64_t>(1, int64_t{f.bottom} - f.top));
    put("\">\n<title>graph</title>\n");
}

bool SvgWriter::finish() {
    close_group();
    put("</svg>\n");
    flush();
    return !failed_;
}

void SvgWriter::put(std::string_view s) {
    out_.append(s);
    if (out_.size() >= kFlushAt) flush();
}

void SvgWriter::put(int64_t v) {
    append_int(out_, v);
    if (out_.size() >= kFlushAt) flush();
}

void SvgWriter::put(double v) { put(number(v)); }

void SvgWriter::put_color(uint32_t colorref) { put(hex_color(colorref)); }

void SvgWriter::flush() {
    if (out_.empty()) return;
    if (!failed_ && !sink_.write(out_.data(), out_.size())) failed_ = true;
    out_.clear();
}

void SvgWriter::set_pen(PenStyle style, int32_t width, uint32_t color) {
    ++pen_serial_;
    pen_null_ = style == PenStyle::null;
    pen_dotted_ = style == PenStyle::dot;
    if (pen_null_) {
        pen_attributes_ = " stroke=\"none\"";
        return;
    }
    // GDI never draws a pen thinner than one device pixel, and a width of 0 is always one
    // pixel: such a pen stays one pixel wide however the reader scales the picture.
    const double w = std::min(std::abs(static_cast<double>(width)), 32767.0);
    const bool hairline = w < 1.0;
    std::string a = " stroke=\"" + hex_color(color) + "\"";
    a += hairline ? " stroke-width=\"1\" vector-effect=\"non-scaling-stroke\"" : " stroke-width=\"" + number(w) + "\"";
    a += " stroke-linejoin=\"round\"";
    if (pen_dotted_ && hairline) {
        a += " stroke-linecap=\"butt\" stroke-dasharray=\"1 1\"";
    } else {
        a += " stroke-linecap=\"round\"";
        // Round dots one pen width across, one pen width apart: the round caps add half a
        // width to each end of the short dash, as the preview draws them.
        if (pen_dotted_) a += " stroke-dasharray=\"" + number(0.001 * w) + " " + number(1.999 * w) + "\"";
    }
    pen_attributes_ = std::move(a);
}

void SvgWriter::set_brush(bool null_brush, uint32_t color) {
    ++brush_serial_;
    brush_attributes_ = null_brush ? " fill=\"none\"" : " fill=\"" + hex_color(color) + "\" fill-rule=\"evenodd\"";
}

void SvgWriter::set_font(const LogFont& font) {
    font_ = font;
    font_attributes_ = font_attributes(font);
}

void SvgWriter::set_text_color(uint32_t color) { text_color_ = color; }

void SvgWriter::set_bk_mode(int32_t mode) { bk_mode_ = mode; }

void SvgWriter::close_path() {
    if (!path_open_) return;
    put("\"/>\n");
    path_open_ = false;
    path_segments_ = 0;
}

void SvgWriter::close_group() {
    close_path();
    if (group_ == Group::none) return;
    put("</g>\n");
    group_ = Group::none;
}

void SvgWriter::open_group(Group kind) {
    const bool same = group_ == kind && group_pen_ == pen_serial_ && (kind == Group::lines || group_brush_ == brush_serial_);
    if (same) return;
    close_group();
    put("<g");
    put(pen_attributes_);
    put(kind == Group::lines ? std::string_view(" fill=\"none\"") : std::string_view(brush_attributes_));
    put(">\n");
    group_ = kind;
    group_pen_ = pen_serial_;
    group_brush_ = brush_serial_;
}

void SvgWriter::line(Point from, Point to) {
    if (pen_null_) return;
    open_group(Group::lines);
    if (path_open_ && path_segments_ >= kSegmentsPerPath) close_path();
    if (!path_open_) {
        put("<path d=\"");
        path_open_ = true;
    }
    // A solid line that goes on from the last one's end continues its path; a dotted one
    // starts its pattern afresh, as each line does in the preview.
    if (path_segments_ == 0 || pen_dotted_ || from.x != path_end_.x || from.y != path_end_.y) {
        put("M");
        put(int64_t{from.x});
        put(" ");
        put(int64_t{from.y});
    }
    put("L");
    put(int64_t{to.x});
    put(" ");
    put(int64_t{to.y});
    path_end_ = to;
    ++path_segments_;
}

void SvgWriter::polygon(std::span<const Point> points) {
    if (points.size() < 2) return;
    open_group(Group::fills);
    close_path();
    put("<polygon points=\"");
    for (size_t i = 0; i < points.size(); ++i) {
        if (i) put(" ");
        put(int64_t{points[i].x});
        put(",");
        put(int64_t{points[i].y});
    }
    put("\"/>\n");
}

void SvgWriter::text(Point reference, std::u16string_view text, std::span<const int32_t> dx) {
    if (text.empty()) return;
    close_group();
    const double cell = cell_height(font_);
    const double baseline = baseline_offset(font_);
    // The buffers are the writer's, so a run allocates nothing once they have grown.
    std::string& transform = transform_;
    std::string& xs = xs_;
    std::string& chars = chars_;
    transform.clear();
    xs.clear();
    chars.clear();
    // Escapement is in tenths of a degree, counter-clockwise; y grows downward here. Negated
    // as a double: the file may hold the one int whose negation has no int value.
    if (font_.escapement != 0) {
        transform += " transform=\"rotate(";
        transform += number(-static_cast<double>(font_.escapement) / 10.0);
        transform += ' ';
        append_int(transform, reference.x);
        transform += ' ';
        append_int(transform, reference.y);
        transform += ")\"";
    }
    int64_t run = 0;
    for (size_t i = 0; i < text.size() && i < dx.size(); ++i) run += dx[i];
    // The whole run's background first, as GDI fills it.
    if (bk_mode_ != kTransparent) {
        put("<rect x=\"");
        put(int64_t{reference.x});
        put("\" y=\"");
        put(int64_t{reference.y});
        put("\" width=\"");
        put(std::max<int64_t>(run, 0));
        put("\" height=\"");
        put(cell);
        put("\" fill=\"#ffffff\"");
        put(transform);
        put("/>\n");
    }
    // The characters and their positions: one x per character at the sum of the advances
    // before it. A character the face has none for is left blank, its place kept.
    int64_t x = reference.x;
    for (size_t i = 0; i < text.size(); ++i) {
        const int64_t here = x;
        x += i < dx.size() ? dx[i] : 0;
        char32_t code = drawn_character(font_, text[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
            x += i < dx.size() ? dx[i] : 0;
        }
        if (code == 0 || !append_escaped(chars, code)) continue;
        if (!xs.empty()) xs += ' ';
        append_int(xs, here);
    }
    if (chars.empty()) return;
    put("<text x=\"");
    put(xs);
    put("\" y=\"");
    put(static_cast<double>(reference.y) + baseline);
    put("\"");
    put(font_attributes_);
    put(" fill=\"");
    put_color(text_color_);
    put("\"");
    put(transform);
    put(" xml:space=\"preserve\">");
    put(chars);
    put("</text>\n");
}

bool write_svg(const EmfPicture& picture, ByteSink& sink, std::string& error) {
    // A picture checked as it streamed has no bytes to play: an empty SVG would be no picture.
    if (picture.bytes.empty()) {
        error = "the picture's bytes are not in memory";
        return false;
    }
    SvgWriter svg(sink);
    svg.begin(picture);
    std::string why;
    if (!play_emf(picture, svg, &why)) {
        error = "cannot play the picture: " + why;
        return false;
    }
    if (!svg.finish()) {
        error = sink.error().empty() ? std::string("cannot write the SVG") : sink.error();
        return false;
    }
    return true;
}

bool write_svg_file(const EmfPicture& picture, const std::string& svg_path, std::string& error) {
    FileSink file(svg_path);
    if (!file.ok()) {
        error = file.error();
        return false;
    }
    if (!write_svg(picture, file, error)) return false;
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}

bool convert_emf_file_to_svg(const std::string& emf_path, const std::string& svg_path, std::string& error) {
    FileSink file(svg_path);
    if (!file.ok()) {
        error = file.error();
        return false;
    }
    SvgWriter svg(file);
    std::string why;
    if (!play_emf_file(emf_path, svg, why, [&](const EmfPicture& header) { svg.begin(header); })) {
        error = "cannot play " + emf_path + ": " + why;
        return false;
    }
    if (!svg.finish() || !file.commit()) {
        error = file.error().empty() ? std::string("cannot write the SVG") : file.error();
        return false;
    }
    return true;
}

}  // namespace plotmint
