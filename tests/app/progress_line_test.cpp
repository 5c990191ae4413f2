#include "app/cli/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace plotmint;

namespace {

// What a terminal shows for the bytes written: "\r" returns to the start of the line,
// "\b" moves back one column, "\n" ends the line.
std::vector<std::string> screen(const std::string& bytes) {
    std::vector<std::string> lines{""};
    size_t col = 0;
    for (char c : bytes) {
        std::string& line = lines.back();
        if (c == '\r') {
            col = 0;
        } else if (c == '\b') {
            if (col > 0) --col;
        } else if (c == '\n') {
            lines.emplace_back();
            col = 0;
        } else {
            if (col < line.size())
                line[col] = c;
            else
                line += c;
            ++col;
        }
    }
    // Trailing blanks are not seen.
    for (std::string& l : lines) l.erase(l.find_last_not_of(' ') + 1);
    return lines;
}

class ProgressLineTest : public ::testing::Test {
protected:
    void SetUp() override { stream_ = std::tmpfile(); }
    void TearDown() override { std::fclose(stream_); }
    std::string written() {
        std::fflush(stream_);
        std::rewind(stream_);
        std::string out;
        for (int c; (c = std::fgetc(stream_)) != EOF;) out += static_cast<char>(c);
        return out;
    }
    std::FILE* stream_ = nullptr;
};

TEST_F(ProgressLineTest, LogLinesReadAsIfNoProgressHadBeenShown) {
    {
        ProgressLine progress(stream_, true);
        StreamLog plain(stream_);
        ProgressAwareLog log(plain, progress);
        log.log_line("making metafile");
        progress.show("g.g: pass 3 of 7, fills: 12.5 of 40.0 MB");
        progress.show("g.g: pass 3 of 7, fills: 40.0 of 40.0 MB");
        log.log_line("gray is out of range");
        progress.show("g.g: pass 5 of 7, lines and text: 1.0 of 40.0 MB");
        progress.show("g.g: pass 6");  // shorter: the rest of the longer line must go
        EXPECT_EQ(screen(written()).back(), "g.g: pass 6");
        log.log_line("making metafile end");
        progress.show("left over");
    }  // the line is erased when the converter is done with it
    const std::string bytes = written();
    EXPECT_NE(bytes.find('\r'), std::string::npos);
    EXPECT_EQ(screen(bytes), (std::vector<std::string>{"making metafile", "gray is out of range", "making metafile end", ""}));
}

TEST_F(ProgressLineTest, DisabledWritesNothingButTheLog) {
    {
        ProgressLine progress(stream_, false);
        StreamLog plain(stream_);
        ProgressAwareLog log(plain, progress);
        progress.show("g.g: pass 1 of 7, extent of the text: 0 of 10 bytes");
        log.log_line("open g.g.");
        progress.show("g.g: pass 2");
    }
    EXPECT_EQ(written(), "open g.g.\n");
}

TEST_F(ProgressLineTest, ClearingWithNothingShownWritesNothing) {
    ProgressLine progress(stream_, true);
    progress.clear();
    progress.clear();
    EXPECT_EQ(written(), "");
}

struct TextCase {
    int pass;
    const char* what;
    uint64_t done, total;
    const char* expected;
};

class ProgressText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ProgressText, CountsBytesOrMegabytesOfTheGraphFile) {
    const TextCase& c = GetParam();
    EXPECT_EQ(progress_text("a.g", c.pass, 7, c.what, c.done, c.total), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Worked, ProgressText,
    ::testing::Values(TextCase{3, "fills", 512, 1000, "a.g: pass 3 of 7, fills: 512 of 1000 bytes"},
                      TextCase{5, "lines and text", 13107200, 41943040, "a.g: pass 5 of 7, lines and text: 12.5 of 40.0 MB"},
                      // A position past the end (the file grew) shows as the whole file.
                      TextCase{2, "extent", 2000, 1000, "a.g: pass 2 of 7, extent: 1000 of 1000 bytes"}));

}  // namespace
