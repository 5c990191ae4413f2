// Records whose sizes lie about the bytes they hold, in a file read back from disk or in a
// picture handed to the player directly: each is refused with a reason, promptly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>

#include "emf_test_util.h"
#include "metafile/emf_player.h"
#include "metafile/emf_reader.h"
#include "recording_canvas.h"

namespace plotmint {
namespace {

using test::put_at;
using test::take_record;

// A player that loops on a record of size 0 must fail the test, not hang the suite.
template <class T>
T within_seconds(double seconds, const std::function<T()>& work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::timeout) {
        std::fprintf(stderr, "no answer within %.0f seconds\n", seconds);
        std::abort();
    }
    return done.get();
}

// Without ETO_NO_RECT the record carries the rcl rectangle, and offDx sits at byte 72: a
// shorter record would have its advances offset read from whatever follows it.
TEST(EmfTextLimits, RecordWithRectangleShorterThanItsFieldsIsRefused) {
    std::string rec(64, '\0');
    put_at<uint32_t>(rec, 0, U_EMR_EXTTEXTOUTW);
    put_at<uint32_t>(rec, 4, 64);
    put_at<uint32_t>(rec, 44, 0);  // nChars
    put_at<uint32_t>(rec, 52, 0);  // fOptions: the rectangle is there
    std::string error;
    EXPECT_FALSE(read_emf(test::emf_from_records({rec}, 1), error));
    EXPECT_NE(error.find("shorter than the 76"), std::string::npos) << error;
}

struct SizeLie {
    const char* name;
    std::function<void(std::string&)> apply;
};

void PrintTo(const SizeLie& c, std::ostream* os) { *os << c.name; }

class PlayerSizeLies : public ::testing::TestWithParam<SizeLie> {};

// The player walks the records itself, so a picture that never went through read_emf
// must not make it loop or step outside the bytes.
TEST_P(PlayerSizeLies, AreRefusedPromptly) {
    EmfPicture picture;
    picture.handle_count = 2;
    picture.bytes = test::emf_from_records({take_record(U_EMRSETBKMODE_set(1)), take_record(U_EMRSETBKMODE_set(2))}, 2);
    GetParam().apply(picture.bytes);
    std::string error;
    const bool played = within_seconds<bool>(20, [&] {
        test::RecordingCanvas canvas;
        return play_emf(picture, canvas, &error);
    });
    EXPECT_FALSE(played);
    EXPECT_NE(error.find("size"), std::string::npos) << error;
}

// The header is 108 bytes; the two EMR_SETBKMODE records follow at 108 and 120.
INSTANTIATE_TEST_SUITE_P(
    Lies, PlayerSizeLies,
    ::testing::Values(SizeLie{"header_of_size_0", [](std::string& b) { put_at<uint32_t>(b, 4, 0); }},
                      SizeLie{"record_of_size_0", [](std::string& b) { put_at<uint32_t>(b, 108 + 4, 0); }},
                      SizeLie{"record_of_size_4", [](std::string& b) { put_at<uint32_t>(b, 108 + 4, 4); }},
                      SizeLie{"record_size_not_a_multiple_of_4", [](std::string& b) { put_at<uint32_t>(b, 108 + 4, 14); }},
                      SizeLie{"record_beyond_the_bytes", [](std::string& b) { put_at<uint32_t>(b, 120 + 4, 0x7FFFFFF0u); }},
                      SizeLie{"header_beyond_the_bytes", [](std::string& b) { put_at<uint32_t>(b, 4, 0xFFFFFFF0u); }}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace plotmint
