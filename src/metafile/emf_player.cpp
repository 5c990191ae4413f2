#include "metafile/emf_player.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <uemf.h>

#include "base/format.h"
#include "metafile/emf_records.h"
#include "metafile/text_metrics.h"

namespace plotmint {

namespace {

struct Object {
    enum Kind { none, pen, brush, font } kind = none;
    PenStyle style = PenStyle::solid;
    int32_t width = 0;
    uint32_t color = 0;
    bool null_brush = false;
    LogFont logfont;
};

PenStyle pen_style(uint32_t style) {
    switch (style & U_PS_STYLE_MASK) {
        case U_PS_NULL: return PenStyle::null;
        // The canvas knows one broken style; dashes of every kind become dots.
        case U_PS_DASH:
        case U_PS_DOT:
        case U_PS_DASHDOT:
        case U_PS_DASHDOTDOT: return PenStyle::dot;
        default: return PenStyle::solid;
    }
}

// Stock objects newer than libUEMF's list.
constexpr uint32_t kDcBrush = 0x80000012u;
constexpr uint32_t kDcPen = 0x80000013u;

Object make_brush(uint32_t color, bool null_brush = false) {
    Object o;
    o.kind = Object::brush;
    o.color = color;
    o.null_brush = null_brush;
    return o;
}

Object make_pen(PenStyle style, uint32_t color) {
    Object o;
    o.kind = Object::pen;
    o.style = style;
    o.color = color;
    return o;
}

Object stock_object(uint32_t ih) {
    Object o;
    switch (ih) {
        case U_WHITE_BRUSH: o = make_brush(0xFFFFFF); break;
        case U_LTGRAY_BRUSH: o = make_brush(0xC0C0C0); break;
        case U_GRAY_BRUSH: o = make_brush(0x808080); break;
        case U_DKGRAY_BRUSH: o = make_brush(0x404040); break;
        case U_BLACK_BRUSH: o = make_brush(0x000000); break;
        case U_NULL_BRUSH: o = make_brush(0, true); break;
        case kDcBrush: o = make_brush(0xFFFFFF); break;
        case U_WHITE_PEN: o = make_pen(PenStyle::solid, 0xFFFFFF); break;
        case U_BLACK_PEN:
        case kDcPen: o = make_pen(PenStyle::solid, 0x000000); break;
        case U_NULL_PEN: o = make_pen(PenStyle::null, 0); break;
        case U_OEM_FIXED_FONT:
        case U_ANSI_FIXED_FONT:
        case U_ANSI_VAR_FONT:
        case U_SYSTEM_FONT:
        case U_DEVICE_DEFAULT_FONT:
        case U_SYSTEM_FIXED_FONT:
        case U_DEFAULT_GUI_FONT:
            o.kind = Object::font;
            o.logfont = stock_system_font();
            break;
        default: break;  // DEFAULT_PALETTE and unused indices select nothing drawable
    }
    return o;
}

LogFont read_logfont(const char* rec) {
    const auto lf = load<U_LOGFONT>(rec + 12);
    LogFont f;
    f.height = lf.lfHeight;
    f.width = lf.lfWidth;
    f.escapement = lf.lfEscapement;
    f.orientation = lf.lfOrientation;
    f.weight = lf.lfWeight;
    f.italic = lf.lfItalic;
    f.underline = lf.lfUnderline;
    f.strike_out = lf.lfStrikeOut;
    f.char_set = lf.lfCharSet;
    f.out_precision = lf.lfOutPrecision;
    f.clip_precision = lf.lfClipPrecision;
    f.quality = lf.lfQuality;
    f.pitch_and_family = lf.lfPitchAndFamily;
    for (uint16_t c : lf.lfFaceName) {
        if (c == 0) break;
        f.face_name.push_back(static_cast<char>(utf16_to_cp1252(c)));
    }
    return f;
}

class Player {
public:
    Player(uint32_t handle_count, Canvas& canvas) : canvas_(canvas), table_(handle_count) {
        // A device context starts with these; stating them keeps every canvas in step.
        apply(stock_object(U_BLACK_PEN));
        apply(stock_object(U_WHITE_BRUSH));
        font_ = stock_system_font();
        canvas_.set_font(font_);
        canvas_.set_text_color(0);
        canvas_.set_bk_mode(U_OPAQUE);
    }

    bool play(const EmfPicture& picture, std::string& error) {
        const std::string& bytes = picture.bytes;
        const uint64_t end = bytes.size();
        uint64_t offset = 0;
        uint32_t index = 0;
        while (offset < end) {
            const uint64_t remaining = end - offset;
            const char* rec = bytes.data() + offset;
            if (remaining < 8) {
                error = strformat("record %u at byte %llu is cut off", index, static_cast<unsigned long long>(offset));
                return false;
            }
            const auto emr = load<U_EMR>(rec);
            if (emr.nSize < 8 || emr.nSize % 4 != 0 || emr.nSize > remaining) {
                error = strformat("record %u at byte %llu has a bad size of %u bytes", index,
                                  static_cast<unsigned long long>(offset), emr.nSize);
                return false;
            }
            // The picture may not come from read_emf; never trust a record unchecked.
            if (index > 0 && !check_emf_record(picture.handle_count, index, offset, rec, emr.iType, emr.nSize, error))
                return false;
            if (index > 0 && !play_record(rec, emr.iType, index, offset, error)) return false;
            if (emr.iType == U_EMR_EOF) break;
            offset += emr.nSize;
            ++index;
        }
        return true;
    }

    // One record that has passed check_emf_record.
    bool play_checked(const EmfRecord& r, std::string& error) {
        return play_record(r.data, r.type, r.index, r.offset, error);
    }

private:
    void apply(const Object& o) {
        switch (o.kind) {
            case Object::pen: canvas_.set_pen(o.style, o.width, o.color); break;
            case Object::brush: canvas_.set_brush(o.null_brush, o.color); break;
            case Object::font:
                font_ = o.logfont;
                canvas_.set_font(font_);
                break;
            case Object::none: break;
        }
    }

    bool play_record(const char* rec, uint32_t type, uint32_t index, uint64_t offset, std::string& error) {
        switch (type) {
            case U_EMR_CREATEPEN: {
                const auto r = load<U_EMRCREATEPEN>(rec);
                Object& o = table_[r.ihPen];
                o = {};
                o.kind = Object::pen;
                o.style = pen_style(r.lopn.lopnStyle);
                o.width = static_cast<int32_t>(std::min<int64_t>(std::abs(int64_t{r.lopn.lopnWidth.x}), INT32_MAX));
                o.color = load<uint32_t>(rec + offsetof(U_EMRCREATEPEN, lopn.lopnColor));
                return true;
            }
            case U_EMR_CREATEBRUSHINDIRECT: {
                const auto r = load<U_EMRCREATEBRUSHINDIRECT>(rec);
                Object& o = table_[r.ihBrush];
                o = {};
                o.kind = Object::brush;
                o.null_brush = r.lb.lbStyle == U_BS_NULL;
                o.color = load<uint32_t>(rec + offsetof(U_EMRCREATEBRUSHINDIRECT, lb.lbColor));
                return true;
            }
            case U_EMR_EXTCREATEFONTINDIRECTW: {
                Object& o = table_[load<uint32_t>(rec + 8)];
                o = {};
                o.kind = Object::font;
                o.logfont = read_logfont(rec);
                return true;
            }
            case U_EMR_SELECTOBJECT: {
                const uint32_t ih = load<uint32_t>(rec + 8);
                if (ih & kEmfStockFlag) {
                    apply(stock_object(ih));
                    return true;
                }
                if (table_[ih].kind == Object::none) {
                    error = strformat("EMR_SELECTOBJECT %u at byte %llu selects object %u, which does not exist", index,
                                      static_cast<unsigned long long>(offset), ih);
                    return false;
                }
                apply(table_[ih]);
                return true;
            }
            case U_EMR_DELETEOBJECT: {
                // What is selected stays in use on the canvas, as in GDI.
                const uint32_t ih = load<uint32_t>(rec + 8);
                if (!(ih & kEmfStockFlag)) table_[ih] = {};
                return true;
            }
            case U_EMR_MOVETOEX:
                position_ = load<Point>(rec + 8);
                return true;
            case U_EMR_LINETO: {
                const auto to = load<Point>(rec + 8);
                canvas_.line(position_, to);
                position_ = to;
                return true;
            }
            case U_EMR_POLYGON:
            case U_EMR_POLYGON16: {
                const uint32_t count = load<uint32_t>(rec + 24);
                std::vector<Point> points(count);
                for (uint32_t i = 0; i < count; ++i) {
                    if (type == U_EMR_POLYGON) {
                        points[i] = load<Point>(rec + 28 + 8 * uint64_t{i});
                    } else {
                        const auto p = load<U_POINT16>(rec + 28 + 4 * uint64_t{i});
                        points[i] = {p.x, p.y};
                    }
                }
                canvas_.polygon(points);
                return true;
            }
            case U_EMR_SETTEXTCOLOR:
                canvas_.set_text_color(load<uint32_t>(rec + 8));
                return true;
            case U_EMR_SETBKMODE:
                canvas_.set_bk_mode(static_cast<int32_t>(load<uint32_t>(rec + 8)));
                return true;
            case U_EMR_EXTTEXTOUTW: play_text(rec); return true;
            default:
                // Records this program never writes are passed over.
                return true;
        }
    }

    void play_text(const char* rec) {
        const auto r = load<U_EMREXTTEXTOUTW>(rec);
        const uint32_t options = r.emrtext.fOptions;
        const uint32_t fixed = (options & U_ETO_NO_RECT) ? kTextFixedSizeNoRect : kTextFixedSize;
        const uint32_t n = r.emrtext.nChars;
        std::u16string text(n, u'\0');
        for (uint32_t i = 0; i < n; ++i) text[i] = load<char16_t>(rec + r.emrtext.offString + 2 * uint64_t{i});
        std::vector<int32_t> dx;
        const uint32_t off_dx = load<uint32_t>(rec + fixed - 4);
        if (off_dx != 0) {
            const uint64_t stride = (options & U_ETO_PDY) ? 8 : 4;
            dx.resize(n);
            for (uint32_t i = 0; i < n; ++i) dx[i] = load<int32_t>(rec + off_dx + stride * i);
        } else {
            // No advances in the record: space the characters as the font would.
            std::string bytes;
            for (char16_t c : text)
                bytes.push_back(static_cast<char>(font_.char_set == kSymbolCharset && c >= 0xF000 ? c & 0xFF
                                                                                                 : utf16_to_cp1252(c)));
            dx = text_advances(font_, bytes);
        }
        canvas_.text({r.emrtext.ptlReference.x, r.emrtext.ptlReference.y}, text, dx);
    }

    Canvas& canvas_;
    std::vector<Object> table_;
    LogFont font_;
    Point position_;
};

}  // namespace

bool play_emf(const EmfPicture& picture, Canvas& canvas, std::string* error) {
    std::string why;
    const bool ok = Player(picture.handle_count, canvas).play(picture, why);
    if (!ok && error) *error = why;
    return ok;
}

std::optional<EmfPicture> play_emf_file(const std::string& path, Canvas& canvas, std::string& error,
                                        const std::function<void(const EmfPicture&)>& on_header) {
    std::optional<Player> player;
    bool ended = false;
    const EmfRecordVisitor visit = [&](const EmfPicture& picture, const EmfRecord& record, std::string& why) {
        if (ended) return true;  // what follows EMR_EOF is the walk's to refuse
        if (!player) {
            if (on_header) on_header(picture);
            player.emplace(picture.handle_count, canvas);
        }
        ended = record.type == U_EMR_EOF;
        return player->play_checked(record, why);
    };
    return walk_emf_file(path, visit, error);
}

}  // namespace plotmint
