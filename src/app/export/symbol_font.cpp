#include "app/export/symbol_font.h"

#include <QFont>
#include <QFontDatabase>
#include <QRawFont>
#include <algorithm>
#include <array>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "metafile/symbol_encoding.h"

namespace plotmint {

namespace {

void put16(QByteArray& out, uint32_t v) {
    out.append(static_cast<char>((v >> 8) & 0xFFu));
    out.append(static_cast<char>(v & 0xFFu));
}

void put32(QByteArray& out, uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFFu);
}

uint32_t get16(const QByteArray& in, qsizetype at) {
    if (at < 0 || at + 2 > in.size()) return 0;
    return (static_cast<uint32_t>(static_cast<uint8_t>(in[at])) << 8) | static_cast<uint8_t>(in[at + 1]);
}

// The binary search fields of an sfnt table directory and a format 4 map: the largest power
// of two not above `count`, times `unit`, and its logarithm.
std::pair<uint32_t, uint32_t> search_range(uint32_t count, uint32_t unit) {
    uint32_t power = 1, log = 0;
    while (power * 2 <= count) {
        power *= 2;
        ++log;
    }
    return {power * unit, log};
}

// A format 4 map (Windows, Unicode BMP) with one segment per character: simple, and at
// under two hundred characters small enough.
QByteArray cmap_table(const std::vector<std::pair<uint32_t, uint32_t>>& code_to_glyph) {
    const auto segments = static_cast<uint32_t>(code_to_glyph.size() + 1);  // and the closing 0xFFFF
    QByteArray sub;
    put16(sub, 4);
    put16(sub, 16 + 8 * segments);
    put16(sub, 0);  // language
    put16(sub, 2 * segments);
    const auto [range, selector] = search_range(segments, 2);
    put16(sub, range);
    put16(sub, selector);
    put16(sub, 2 * segments - range);
    for (const auto& [code, glyph] : code_to_glyph) put16(sub, code);
    put16(sub, 0xFFFF);
    put16(sub, 0);  // reserved
    for (const auto& [code, glyph] : code_to_glyph) put16(sub, code);
    put16(sub, 0xFFFF);
    for (const auto& [code, glyph] : code_to_glyph) put16(sub, (glyph - code) & 0xFFFFu);
    put16(sub, 1);
    for (size_t i = 0; i < segments; ++i) put16(sub, 0);  // idRangeOffset: glyphs by delta

    QByteArray table;
    put16(table, 0);  // version
    put16(table, 1);
    put16(table, 3);  // Windows
    put16(table, 1);  // Unicode BMP
    put32(table, 12);
    return table + sub;
}

struct NameRecord {
    uint32_t platform, encoding, language, id;
    QByteArray text;  // as stored
};

QByteArray utf16be(const QString& s) {
    QByteArray out;
    for (QChar c : s) put16(out, c.unicode());
    return out;
}

// The original's copyright, version and licence records stay; the names are ours, so the
// copy never stands in for the original under its own name.
QByteArray name_table(const QByteArray& original, const QString& family) {
    std::vector<NameRecord> records;
    const uint32_t count = get16(original, 2);
    const uint32_t strings = get16(original, 4);
    for (uint32_t i = 0; i < count; ++i) {
        const qsizetype at = 6 + 12 * static_cast<qsizetype>(i);
        NameRecord r{get16(original, at), get16(original, at + 2), get16(original, at + 4), get16(original, at + 6), {}};
        const qsizetype length = get16(original, at + 8);
        const qsizetype offset = strings + get16(original, at + 10);
        const bool kept = r.id == 0 || r.id == 5 || r.id == 13 || r.id == 14;
        if (!kept || offset + length > original.size()) continue;
        r.text = original.mid(offset, length);
        records.push_back(std::move(r));
    }
    const QString postscript = QString(family).remove(u' ');
    for (const auto& [id, text] : {std::pair<uint32_t, QString>{1, family}, {2, QStringLiteral("Regular")},
                                   {4, family}, {6, postscript}})
        records.push_back(NameRecord{3, 1, 0x409, id, utf16be(text)});
    std::sort(records.begin(), records.end(), [](const NameRecord& a, const NameRecord& b) {
        return std::tie(a.platform, a.encoding, a.language, a.id) < std::tie(b.platform, b.encoding, b.language, b.id);
    });
    QByteArray table, text;
    put16(table, 0);
    put16(table, static_cast<uint32_t>(records.size()));
    put16(table, static_cast<uint32_t>(6 + 12 * records.size()));
    for (const NameRecord& r : records) {
        put16(table, r.platform);
        put16(table, r.encoding);
        put16(table, r.language);
        put16(table, r.id);
        put16(table, static_cast<uint32_t>(r.text.size()));
        put16(table, static_cast<uint32_t>(text.size()));
        text += r.text;
    }
    return table + text;
}

uint32_t checksum(const QByteArray& padded) {
    uint32_t sum = 0;
    for (qsizetype i = 0; i + 4 <= padded.size(); i += 4) sum += (get16(padded, i) << 16) | get16(padded, i + 2);
    return sum;
}

QByteArray sfnt(const std::map<QByteArray, QByteArray>& tables, bool cff) {
    QByteArray out;
    put32(out, cff ? 0x4F54544Fu : 0x00010000u);  // 'OTTO' or TrueType outlines
    const auto n = static_cast<uint32_t>(tables.size());
    const auto [range, selector] = search_range(n, 16);
    put16(out, n);
    put16(out, range);
    put16(out, selector);
    put16(out, n * 16 - range);
    QByteArray body;
    const auto first = static_cast<uint32_t>(12 + 16 * tables.size());
    for (const auto& [tag, data] : tables) {  // std::map keeps the tags in the byte order sfnt wants
        QByteArray padded = data;
        while (padded.size() % 4 != 0) padded.append('\0');
        out += tag;
        put32(out, checksum(padded));
        put32(out, first + static_cast<uint32_t>(body.size()));
        put32(out, static_cast<uint32_t>(data.size()));
        body += padded;
    }
    return out + body;
}

}  // namespace

QByteArray unicode_symbol_font_data(const QRawFont& symbol_font, const QString& family) {
    if (!symbol_font.isValid()) return {};
    // Everything a renderer or a PDF writer reads, but the character map and the names.
    static constexpr std::array<const char*, 19> kCopied = {
        "CFF ", "glyf", "loca", "head", "hhea", "hmtx", "maxp", "OS/2", "post", "gasp",
        "cvt ", "fpgm", "prep", "GDEF", "GPOS", "GSUB", "kern", "vhea", "vmtx"};
    std::map<QByteArray, QByteArray> tables;
    for (const char* tag : kCopied) {
        const QByteArray data = symbol_font.fontTable(tag);
        if (!data.isEmpty()) tables.emplace(QByteArray(tag), data);
    }
    const bool cff = tables.count("CFF ") != 0;
    const bool outlines = cff || (tables.count("glyf") != 0 && tables.count("loca") != 0);
    for (const char* needed : {"head", "hhea", "hmtx", "maxp"})
        if (tables.count(needed) == 0) return {};
    if (!outlines) return {};

    // Each character of the encoding at the glyph its byte reaches in the original; where two
    // bytes share a character (the serif and sans registered signs) the first serves.
    std::map<uint32_t, uint32_t> code_to_glyph;
    for (int byte = 0x20; byte <= 0xFE; ++byte) {
        const char16_t unicode = symbol_byte_to_unicode(static_cast<unsigned char>(byte));
        if (unicode == 0 || code_to_glyph.count(unicode) != 0) continue;
        const QList<quint32> glyphs = symbol_font.glyphIndexesForString(QString(QChar(static_cast<char16_t>(byte))));
        if (glyphs.size() == 1 && glyphs.front() != 0 && glyphs.front() <= 0xFFFF)
            code_to_glyph.emplace(unicode, glyphs.front());
    }
    if (code_to_glyph.empty()) return {};
    tables["cmap"] = cmap_table({code_to_glyph.begin(), code_to_glyph.end()});
    tables["name"] = name_table(symbol_font.fontTable("name"), family);
    return sfnt(tables, cff);
}

QString unicode_symbol_family() {
    static const QString family = [] {
        const QString wanted = QStringLiteral("Plotmint Symbol");
        QFont twin(QStringLiteral("Standard Symbols PS"));
        twin.setStyleStrategy(QFont::PreferOutline);
        const QRawFont raw = QRawFont::fromFont(twin);
        // Without the twin the font database answers with some other face, whose letters
        // must not be passed off as Greek.
        if (!raw.isValid() || !raw.familyName().startsWith(QStringLiteral("Standard Symbols PS"))) return QString();
        const QByteArray data = unicode_symbol_font_data(raw, wanted);
        if (data.isEmpty()) return QString();
        const int id = QFontDatabase::addApplicationFontFromData(data);
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        return families.contains(wanted) ? wanted : QString();
    }();
    return family;
}

}  // namespace plotmint
