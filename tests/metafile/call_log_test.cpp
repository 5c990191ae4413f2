#include "metafile/call_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "metafile/emf_writer.h"
#include "metafile/recording_surface.h"

namespace plotmint {
namespace {

// A drawing as the renderer makes it: every object replaced by delete(select(create)), so
// the ids the surface returns decide what is deleted.
using Script = std::function<void(Surface&)>;

void replace_pen(Surface& s, PenStyle style, int32_t width, uint32_t color) {
    s.delete_object(s.select_object(s.create_pen(style, width, color)));
}
void replace_brush(Surface& s, uint32_t color) { s.delete_object(s.select_object(s.create_solid_brush(color))); }
void replace_font(Surface& s, const LogFont& f) { s.delete_object(s.select_object(s.create_font(f))); }

LogFont font(std::string face, int32_t height, uint8_t charset) {
    LogFont f;
    f.height = height;
    f.escapement = 900;
    f.orientation = -900;
    f.weight = 400;
    f.italic = 1;
    f.char_set = charset;
    f.out_precision = 3;
    f.pitch_and_family = 0x22;
    f.face_name = std::move(face);
    return f;
}

struct ScriptCase {
    const char* name;
    Script script;
};

const std::vector<ScriptCase>& scripts() {
    static const std::vector<ScriptCase> cases = {
        {"pens_brushes_and_lines",
         [](Surface& s) {
             s.set_bk_mode(kTransparent);
             replace_pen(s, PenStyle::null, 0, 0);
             replace_brush(s, 0x00ff00);
             for (int i = 0; i < 50; ++i) {
                 replace_pen(s, i % 3 ? PenStyle::solid : PenStyle::dot, i, 0x010203u * static_cast<uint32_t>(i));
                 s.move_to(i, -i);
                 s.line_to(-2147483647 - 1, 2147483647);
             }
         }},
        {"polygons_of_every_size",
         [](Surface& s) {
             std::vector<Point> pts;
             for (int n = 0; n < 40; ++n) {
                 replace_brush(s, static_cast<uint32_t>(n));
                 s.polygon(pts);
                 pts.push_back(Point{n * 7, -n});
             }
             // Longer than the room the encoder keeps past a chunk's size.
             for (int n = 40; n < 1500; ++n) pts.push_back(Point{n, n * 3});
             s.polygon(pts);
             s.line_to(1, 2);
         }},
        {"text_of_every_length_and_fonts",
         [](Surface& s) {
             std::string text;
             for (int n = 0; n < 12; ++n) {
                 replace_font(s, font(std::string(static_cast<size_t>(n), 'A'), -n, n % 2 ? kSymbolCharset : kAnsiCharset));
                 s.set_text_color(0xabcdefu + static_cast<uint32_t>(n));
                 s.text_out(n, n * 2, text);
                 text.push_back(static_cast<char>(0x80 + n));
             }
             s.text_out(0, 0, std::string("a\0b", 3));
         }},
        {"odd_ids",
         [](Surface& s) {
             // Stock objects, an object made but never selected, and a
             // selected object deleted while still selected. (Ids that no surface gave
             // cannot be carried over: the two sides number their objects each their own way.)
             s.select_object(kStockNullPen);
             s.select_object(kStockWhiteBrush);
             s.delete_object(kStockBlackPen);
             const ObjectId unused = s.create_solid_brush(1);
             const ObjectId pen = s.create_pen(PenStyle::solid, 3, 4);
             s.select_object(pen);
             s.delete_object(pen);
             s.select_object(kStockBlackPen);
             replace_pen(s, PenStyle::solid, 5, 6);
             s.delete_object(unused);
             replace_brush(s, 7);
             replace_brush(s, 8);
         }},
    };
    return cases;
}

// The calls as they reach `target` through an encoder that hands over every `chunk_words`.
void through_log(const Script& script, Surface& target, size_t chunk_words, size_t* chunks = nullptr) {
    CallReplayer replayer(target);
    bool replayed = true;
    CallEncoder encoder(chunk_words, [&](std::vector<uint32_t>& words) {
        replayed = replayer.replay(words.data(), words.size()) && replayed;
        if (chunks) ++*chunks;
    });
    script(encoder);
    encoder.flush();
    ASSERT_TRUE(replayed);
}

class CallLogTest : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {};

TEST_P(CallLogTest, ReplayGivesTheSurfaceTheSameCallsAndTheWriterTheSameBytes) {
    const auto [script_index, chunk_words] = GetParam();
    const Script& script = scripts()[script_index].script;

    RecordingSurface direct, replayed;
    script(direct);
    through_log(script, replayed, chunk_words);
    EXPECT_EQ(replayed.listing(), direct.listing());

    const ReferenceDisplay display{320, 240, 1024, 768};
    const Rect frame{0, 0, 10000, 8000};
    MemorySink direct_sink, replayed_sink;
    {
        EmfWriter w(direct_sink, display, frame);
        script(w);
        ASSERT_TRUE(w.close());
    }
    {
        EmfWriter w(replayed_sink, display, frame);
        through_log(script, w, chunk_words);
        ASSERT_TRUE(w.close());
    }
    EXPECT_EQ(replayed_sink.bytes, direct_sink.bytes);
}

INSTANTIATE_TEST_SUITE_P(ScriptsAndChunks, CallLogTest,
                         ::testing::Combine(::testing::Range<size_t>(0, 4), ::testing::Values(1, 5, 64, 1u << 16)),
                         [](const auto& param_info) {
                             return std::string(scripts()[std::get<0>(param_info.param)].name) + "_chunk" +
                                    std::to_string(std::get<1>(param_info.param));
                         });

TEST(CallLog, ChunksHoldWholeCallsAndComeWhenFull) {
    size_t chunks = 0;
    RecordingSurface target;
    through_log(scripts()[0].script, target, 8, &chunks);
    // 50 rounds of at least four calls of three or more words: many chunks, each replayed
    // on its own, which only works if no call was split.
    EXPECT_GT(chunks, 40u);
}

// A long drawing replaces its objects millions of times; the slots go round, so what the
// encoder and the replayer hold does not grow with it (the run's memory goal).
TEST(CallLog, ObjectSlotsAreUsedAgain) {
    RecordingSurface target;
    CallReplayer replayer(target);
    std::vector<uint32_t> last;
    CallEncoder encoder(1u << 16, [&](std::vector<uint32_t>& words) {
        ASSERT_TRUE(replayer.replay(words.data(), words.size()));
        last = words;
        target.calls.clear();
    });
    ObjectId highest = 0;
    for (int i = 0; i < 200000; ++i) {
        const ObjectId pen = encoder.create_pen(PenStyle::solid, 1, static_cast<uint32_t>(i));
        highest = std::max(highest, pen);
        encoder.delete_object(encoder.select_object(pen));
    }
    encoder.flush();
    EXPECT_LE(highest, 2u);
}

TEST(CallLog, DamagedWordsAreRefused) {
    std::vector<uint32_t> good;
    CallEncoder encoder(1u << 16, [&](std::vector<uint32_t>& words) { good = words; });
    encoder.create_pen(PenStyle::solid, 1, 2);
    encoder.text_out(1, 2, "hello");
    encoder.polygon(std::vector<Point>{{1, 2}, {3, 4}});
    encoder.flush();
    ASSERT_FALSE(good.empty());

    struct Damage {
        const char* what;
        std::function<void(std::vector<uint32_t>&)> apply;
    };
    const Damage damages[] = {
        {"cut inside the last call", [](std::vector<uint32_t>& w) { w.pop_back(); }},
        {"unknown call", [](std::vector<uint32_t>& w) { w[0] = 99; }},
        {"no call at all", [](std::vector<uint32_t>& w) { w[0] = 0; }},
        {"slot zero", [](std::vector<uint32_t>& w) { w[1] = 0; }},
        {"slot far past the table", [](std::vector<uint32_t>& w) { w[1] = 1000000; }},
        {"text longer than the words", [](std::vector<uint32_t>& w) { w[8] = 0xFFFFFFF0u; }},
        {"polygon longer than the words", [](std::vector<uint32_t>& w) { w[w.size() - 5] = 0x7FFFFFFFu; }},
    };
    for (const Damage& d : damages) {
        std::vector<uint32_t> w = good;
        d.apply(w);
        RecordingSurface target;
        CallReplayer replayer(target);
        EXPECT_FALSE(replayer.replay(w.data(), w.size())) << d.what;
    }
    RecordingSurface target;
    EXPECT_TRUE(CallReplayer(target).replay(good.data(), good.size()));
}

}  // namespace
}  // namespace plotmint
