#pragma once
// One whole conversion of a graph file held in memory, through the same Conversion every
// front end uses: extent scan, every pass onto a metafile in memory, then the result read
// back with the checked reader and played. The first 8 bytes of the input choose the
// settings; the rest is the graph file.
//
//   byte 0: bits 0-1 vhline_flag (0..3), bits 2-3 Hershey choice (0..3), bit 4 play back,
//           bit 5 also convert from a file through the reader's record file, whose picture
//           must be byte for byte the one drawn from memory; bit 6 a first reader reads
//           the first (byte 7) records and closes, handing its record file over
//   byte 1: pen widths: 0..191 the defaults, 192..253 bytes 2..6 as signed widths,
//           254 and 255 extreme widths and margins
//   bytes 2..6: the widths when byte 1 asks for them
//   byte 7: seed of the palette and vhline pen perturbation; bits 0-3 how many entries
//
// Returns an empty string, or what went wrong: the reader must give the records a plain
// token-by-token reading of the text gives, and our own writer's output must always read
// back and play.
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/conversion.h"
#include "base/log_sink.h"
#include "fuzz_bytes.h"
#include "metafile/emf_player.h"
#include "metafile/emf_reader.h"
#include "records/record_reader.h"
#include "scratch_file.h"

namespace plotmint::fuzz {

// The palette a fuzz input draws with, given to the run as a full table of nodes (one per
// tone, which expands to exactly these colours).
inline ToneTable tone_nodes(const TonePalette& palette) {
    ToneTable t;
    t.count = kToneSlots;
    for (int i = 0; i < kToneSlots; ++i) {
        t.tone[static_cast<size_t>(i)] = i;
        t.color[static_cast<size_t>(i)] = palette[static_cast<size_t>(i)];
    }
    return t;
}

inline Settings convert_settings(ByteReader& in, bool& play_back) {
    Settings s;
    const uint8_t mode = in.byte();
    // 3 stands for an index no radio item has, which draws like the first.
    s.vhline = vhline_mode_from_index(mode & 3);
    s.hershey = hershey_choice_from_index((mode >> 2) & 3);
    play_back = (mode & 0x10) != 0;

    const uint8_t widths = in.byte();
    // Held as int: GCC cannot tell byte-wide stores from stores into the reader and warns.
    std::array<int, 5> w{};
    for (auto& b : w) b = in.byte();
    auto& width = s.widths.width;
    if (widths >= 192 && widths < 254) {
        for (size_t i = 0; i < 5; ++i) width[i] = static_cast<int8_t>(w[i]) * 8;
    } else if (widths == 254) {
        width = {std::numeric_limits<int32_t>::max(), -1, 0, std::numeric_limits<int32_t>::min(),
                 std::numeric_limits<int32_t>::max()};
    } else if (widths == 255) {
        width = {1, 2, 3, 4, std::numeric_limits<int32_t>::min()};
    }

    // The draw run's palettes: a grey ramp and numbered line colours, then a few entries
    // replaced by markers or hostile values, as edited grids may hold them.
    TonePalette tones{};
    for (int i = 0; i <= 100; ++i) tones[i] = Rgb{i * 2, i * 2, i * 2};
    for (int i = 101; i <= 120; ++i) tones[i] = Rgb{128, 128, 128};
    for (int i = 0; i < kLineColors; ++i) s.line_color[i] = Rgb{i * 8, 255 - i * 8, i};
    std::array<int32_t, 4> pen{s.vhline_pen.color.r, s.vhline_pen.color.g, s.vhline_pen.color.b, s.vhline_pen.width};
    const uint8_t seed = in.byte();
    Perturb p(seed);
    for (int k = 0; k < (seed & 15); ++k) {
        const uint32_t which = p.below(3);
        if (which == 0) {
            Rgb& c = tones[p.below(kToneSlots)];
            c = Rgb{p.component(), p.component(), p.component()};
        } else if (which == 1) {
            Rgb& c = s.line_color[p.below(kLineColors)];
            c = Rgb{p.component(), p.component(), p.component()};
        } else {
            pen[p.below(4)] = p.component();
        }
    }
    s.vhline_pen = VhlinePen{Rgb{pen[0], pen[1], pen[2]}, pen[3]};
    s.tone = tone_nodes(tones);
    return s;
}

// The graph file read the slow, obvious way: white-space separated tokens, each an
// optional sign and at most 64 characters of decimal digits within 32 bits; the first
// token that is not ends the data, a partial record at the end is dropped. The reader's
// fast paths (whole windows of digits at a time, the record file) must agree with it.
struct PlainReading {
    std::vector<Record> records;
    bool bad = false;
    uint64_t bad_offset = 0;
};

inline PlainReading read_plainly(std::string_view s) {
    const auto space = [](char c) {
        return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    PlainReading out;
    int32_t values[3];
    int k = 0;
    // A UTF-8 byte-order mark before the first item is skipped; offsets still count it.
    size_t i = s.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    for (;;) {
        while (i < s.size() && space(s[i])) ++i;
        if (i == s.size()) break;
        size_t j = i;
        while (j < s.size() && !space(s[j])) ++j;
        const std::string_view token = s.substr(i, j - i);
        size_t q = 0;
        bool negative = false;
        if (token[0] == '+' || token[0] == '-') negative = token[q++] == '-';
        bool ok = token.size() <= 64 && q < token.size();
        uint64_t magnitude = 0;
        for (; ok && q < token.size(); ++q) {
            if (token[q] < '0' || token[q] > '9') ok = false;
            else if ((magnitude = magnitude * 10 + static_cast<uint64_t>(token[q] - '0')) > 2147483648ULL) ok = false;
        }
        if (!ok || magnitude > (negative ? 2147483648ULL : 2147483647ULL)) {
            out.bad = true;
            out.bad_offset = i;
            break;
        }
        values[k++] = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
        if (k == 3) {
            out.records.push_back(Record{values[0], values[1], values[2]});
            k = 0;
        }
        i = j;
    }
    return out;
}

inline std::string check_reading(RecordReader& reader, const PlainReading& plain) {
    reader.rewind();
    Record r;
    size_t n = 0;
    while (reader.read_record(r)) {
        if (n >= plain.records.size() || !(r == plain.records[n])) return "the reader gives other records than the text holds";
        ++n;
    }
    if (n != plain.records.size()) return "the reader stops before the text does";
    if (reader.bad_item() != plain.bad || (plain.bad && reader.bad_item_offset() != plain.bad_offset))
        return "the reader reports another item as not an integer than the text holds";
    return {};
}

struct Converted {
    Extent extent;
    bool closed = false;  // the metafile was complete (a picture too large is refused)
    std::string bytes;
    std::string read_error;
};

inline Converted converted(const DrawRunResult& r) {
    Converted out;
    out.extent = r.extent;
    out.closed = r.picture.has_value() || !r.written_bytes.empty();
    out.bytes = r.picture ? r.picture->bytes : r.written_bytes;
    out.read_error = r.read_error;
    return out;
}

// The graph file on disk, read through the record file: a first pass parses the text and
// stores the records, the passes after it read them back (and resume parsing where an
// earlier pass stopped). Every pass must give exactly what the text gives.
inline std::string convert_from_file(std::string_view graph, const Settings& settings, bool hand_over,
                                     uint8_t first_records, const Converted& expected) {
    static ScratchFile file;
    file.assign(graph);
    Conversion conversion(file.path());
    RecordReader& reader = conversion.reader();
    reader.set_cache_threshold(0);
    if (hand_over) {
        // Discovery reads up to -999 and closes; the draw run then reads its records.
        if (!reader.open(file.path())) return "the graph file does not open";
        Record r;
        for (int i = 0; i < first_records && reader.read_record(r); ++i) {
        }
        reader.close();
    }
    NullLog log, diagnostics;
    conversion.set_diagnostics(diagnostics);
    const Converted got = converted(conversion.run(settings, PictureTarget::memory(), log));
    // Two more passes, both from the records the conversion left in the record file.
    if (!reader.open(file.path())) return "the graph file does not open again";
    const PlainReading plain = read_plainly(graph);
    for (int pass = 0; pass < 2; ++pass) {
        const std::string misread = check_reading(reader, plain);
        if (!misread.empty()) return misread + " (through the record file)";
    }
    const Extent& a = got.extent;
    const Extent& b = expected.extent;
    if (a.xmin != b.xmin || a.xmax != b.xmax || a.ymin != b.ymin || a.ymax != b.ymax)
        return "the extent read through the record file differs from the text's";
    if (got.closed != expected.closed || got.bytes != expected.bytes)
        return "the picture drawn through the record file differs from the text's";
    return {};
}

inline std::string convert_one(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    bool play_back = false;
    const uint8_t mode = data && size > 0 ? data[0] : 0;
    const uint8_t first_records = size > 7 ? data[7] : 0;
    const Settings settings = convert_settings(in, play_back);

    {
        RecordReader reader;
        reader.open_memory(std::string(in.rest()));
        const std::string misread = check_reading(reader, read_plainly(in.rest()));
        if (!misread.empty()) return misread;
    }
    Conversion conversion = Conversion::of_text(std::string(in.rest()));
    NullLog log, diagnostics;
    conversion.set_diagnostics(diagnostics);
    const DrawRunResult result = conversion.run(settings, PictureTarget::memory(), log);
    const Converted drawn = converted(result);
    if (mode & 0x20) {
        const std::string wrong = convert_from_file(in.rest(), settings, (mode & 0x40) != 0, first_records, drawn);
        if (!wrong.empty()) return wrong;
    }
    if (!drawn.closed) return {};  // a refused picture (too large, too many objects) is a result too
    if (!result.picture) return "our own metafile does not read back: " + drawn.read_error;
    if (!play_back) return {};
    std::string error;
    NullCanvas canvas;
    if (!play_emf(*result.picture, canvas, &error)) return "our own metafile does not play: " + error;
    if (canvas.mismatched()) return "text advances and characters differ in number";
    return {};
}

}  // namespace plotmint::fuzz
