#pragma once
// SVG written as a picture plays, straight into a ByteSink: nothing is kept per record, so
// a picture of any size is written in the same small memory. One SVG user unit is one
// logical unit; the viewBox is the picture's logical frame and the physical size its frame,
// so the SVG is exactly the size the metafile states. Text keeps each record's run as one
// <text> with a position per character from its advances, so it reads and searches as words.
#include <cstdint>
#include <string>

#include "metafile/emf_player.h"
#include "metafile/emf_writer.h"

namespace plotmint {

class SvgWriter final : public Canvas {
public:
    explicit SvgWriter(ByteSink& sink);
    // Writes the document's head; the canvas calls before it set state only.
    void begin(const EmfPicture& picture);
    // Ends the document and hands the rest to the sink; false when a write failed.
    bool finish();

    void set_pen(PenStyle style, int32_t width, uint32_t color) override;
    void set_brush(bool null_brush, uint32_t color) override;
    void set_font(const LogFont& font) override;
    void set_text_color(uint32_t color) override;
    void set_bk_mode(int32_t mode) override;
    void line(Point from, Point to) override;
    void polygon(std::span<const Point> points) override;
    void text(Point reference, std::u16string_view text, std::span<const int32_t> dx) override;

private:
    enum class Group { none, lines, fills };
    void open_group(Group kind);
    void close_path();
    void close_group();
    void put(std::string_view s);
    void put(int64_t v);
    void put(double v);
    void put_color(uint32_t colorref);
    void flush();

    ByteSink& sink_;
    std::string out_;
    bool failed_ = false;
    // The open <g>, by the pen and brush it was opened for.
    Group group_ = Group::none;
    uint64_t group_pen_ = 0, group_brush_ = 0;
    uint64_t pen_serial_ = 1, brush_serial_ = 1;
    // The open <path> of lines, its end point and how many segments it holds.
    bool path_open_ = false;
    Point path_end_;
    uint32_t path_segments_ = 0;

    bool pen_null_ = false;
    bool pen_dotted_ = false;
    std::string pen_attributes_;
    std::string brush_attributes_;
    LogFont font_;
    std::string font_attributes_;
    uint32_t text_color_ = 0;
    int32_t bk_mode_ = 2;  // OPAQUE, as a fresh device context starts
    std::string transform_, xs_, chars_;
};

// The SVG of a picture held in memory, into `sink` (not committed). False with a reason when
// a record cannot be played or the sink fails.
bool write_svg(const EmfPicture& picture, ByteSink& sink, std::string& error);
// The SVG of `picture` as the file `svg_path`, whole or not at all.
bool write_svg_file(const EmfPicture& picture, const std::string& svg_path, std::string& error);
// The SVG of the EMF file `emf_path` as the file `svg_path`, whole or not at all, played as
// the metafile streams from its file: neither picture is ever held in memory.
bool convert_emf_file_to_svg(const std::string& emf_path, const std::string& svg_path, std::string& error);

}  // namespace plotmint
