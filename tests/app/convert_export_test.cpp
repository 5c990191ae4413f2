// Runs the built plotmint-convert for the picture formats and for several graph files at once.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef PLOTMINT_HAVE_EXPORT
#include <QString>
#include <QXmlStreamReader>
#endif

#include "../test_folder.h"
#include "shell_helpers.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::vector<std::string> err;  // standard error, one entry a line
    std::string raw_err;
};

using plotmint_test::converter_command;
using plotmint_test::quote;
using plotmint_test::slurp;

uint32_t be32(const std::string& b, size_t at) {
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) | (uint32_t(uint8_t(b[at + 2])) << 8) |
           uint32_t(uint8_t(b[at + 3]));
}

int32_t le32(const std::string& b, size_t at) {
    return int32_t(uint32_t(uint8_t(b[at])) | (uint32_t(uint8_t(b[at + 1])) << 8) | (uint32_t(uint8_t(b[at + 2])) << 16) |
                   (uint32_t(uint8_t(b[at + 3])) << 24));
}

// What a file holds, by its first bytes.
std::string kind(const std::string& bytes) {
    if (bytes.size() >= 44 && bytes.compare(40, 4, " EMF") == 0) return "emf";
    if (bytes.rfind("%PDF-", 0) == 0) return "pdf";
    if (bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0) return "png";
    if (bytes.rfind("<?xml", 0) == 0 && bytes.find("<svg") != std::string::npos) return "svg";
    return bytes.empty() ? "missing" : "other";
}

const std::string kExamples = std::string(PLOTMINT_SOURCE_DIR) + "/examples/";

class ConvertExport : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint_export_");
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "tables");
        for (const char* t : {"tone-default.ktc", "line-default.klc", "tone-demo.ktc", "line-demo.klc"})
            fs::copy_file(fs::path(PLOTMINT_SOURCE_DIR) / "data" / t, dir_ / "tables" / t);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& name, const std::string& text) {
        fs::create_directories((dir_ / name).parent_path());
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }

    Outcome run(const std::vector<std::string>& args) {
        const std::string cmd = converter_command(dir_, dir_ / "tables", args) + " 2>stderr.txt >/dev/null";
        const int rc = std::system(cmd.c_str());
        Outcome r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.raw_err = slurp(dir_ / "stderr.txt");
        std::istringstream in(r.raw_err);
        for (std::string line; std::getline(in, line);) r.err.push_back(line);
        fs::remove(dir_ / "stderr.txt");
        return r;
    }

    std::string file(const std::string& name) { return slurp(dir_ / name); }
    std::string table(const std::string& name) { return (dir_ / "tables" / name).string(); }

    fs::path dir_;
};

const char* const kSquare = "3 1000 2000\n2 4000 6000\n";

#ifdef PLOTMINT_HAVE_EXPORT

struct FormatCase {
    std::vector<std::string> args;
    std::string written;  // the file the picture goes to
    std::string kind;     // what it holds
};

class FormatChoice : public ConvertExport, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatChoice, ExtensionOrFormatPicksWhatIsWrittenAndTheLogStaysTheSame) {
    write("g.g", kSquare);
    const Outcome emf = run({"--no-discovery", "g.g"});
    ASSERT_EQ(emf.status, 0);
    const std::string reference = file("graph.emf");
    fs::remove(dir_ / "graph.emf");

    std::vector<std::string> args{"--no-discovery", "g.g"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0) << r.raw_err;
    // Every format is played from the same metafile, which the run writes as it always does.
    EXPECT_EQ(r.err, emf.err);
    EXPECT_EQ(kind(file(GetParam().written)), GetParam().kind);
    // graph.emf is written where the window writes it only when no output was named; a
    // named picture in another format is played from a private metafile.
    const bool named = std::find(args.begin(), args.end(), "-o") != args.end() ||
                       std::any_of(args.begin(), args.end(), [](const std::string& a) { return a.rfind("--output=", 0) == 0; });
    if (!named) {
        EXPECT_EQ(file("graph.emf"), reference);
    } else if (GetParam().written != "graph.emf") {
        EXPECT_FALSE(fs::exists(dir_ / "graph.emf"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, FormatChoice,
    ::testing::Values(FormatCase{{"-o", "out.svg"}, "out.svg", "svg"}, FormatCase{{"-o", "out.pdf"}, "out.pdf", "pdf"},
                      FormatCase{{"-o", "out.png"}, "out.png", "png"}, FormatCase{{"-o", "OUT.SVG"}, "OUT.SVG", "svg"},
                      FormatCase{{"--output=out.emf"}, "out.emf", "emf"},
                      // An extension that names no format keeps the metafile, as before.
                      FormatCase{{"-o", "out.pic"}, "out.pic", "emf"},
                      FormatCase{{"--format", "pdf", "-o", "out.pic"}, "out.pic", "pdf"},
                      FormatCase{{"-f", "svg", "-o", "out.png"}, "out.png", "svg"},
                      FormatCase{{"--format=PNG"}, "graph.png", "png"}, FormatCase{{"--format", "emf"}, "graph.emf", "emf"}));

TEST_F(ConvertExport, DpiSetsThePngSizeFromThePicturesPhysicalSize) {
    write("g.g", kSquare);
    ASSERT_EQ(run({"--no-discovery", "g.g", "-o", "a.png"}).status, 0);
    ASSERT_EQ(run({"--no-discovery", "g.g", "-o", "a.emf"}).status, 0);
    // rclFrame of the metafile, in hundredths of a millimetre.
    const std::string emf = file("a.emf");
    const double w_mm = (le32(emf, 32) - le32(emf, 24)) / 100.0, h_mm = (le32(emf, 36) - le32(emf, 28)) / 100.0;
    for (int dpi : {96, 30, 7}) {
        const std::string name = std::string("d").append(std::to_string(dpi)).append(".png");
        ASSERT_EQ(run({"--no-discovery", "g.g", "--dpi", std::to_string(dpi), "-o", name}).status, 0);
        const std::string png = file(name);
        ASSERT_EQ(kind(png), "png");
        EXPECT_NEAR(be32(png, 16), w_mm / 25.4 * dpi, 0.51) << dpi;
        EXPECT_NEAR(be32(png, 20), h_mm / 25.4 * dpi, 0.51) << dpi;
        // The pHYs chunk tells other programs the resolution, in dots a metre.
        const size_t phys = png.find("pHYs");
        ASSERT_NE(phys, std::string::npos);
        EXPECT_NEAR(be32(png, phys + 4), dpi / 0.0254, 1.0);
    }
    // Without a resolution the size is not physical: the default PNG is fitted.
    EXPECT_NE(file("a.png"), file("d96.png"));
}

struct PngSizeCase {
    std::vector<std::string> args;
    int width, height;  // 0: follows the other side by the aspect of the default PNG
};

class PngSizeOptions : public ConvertExport, public ::testing::WithParamInterface<PngSizeCase> {};

TEST_P(PngSizeOptions, FitTheBoxKeepingTheAspect) {
    write("g.g", kSquare);
    // The square's picture is taller than wide, so by default its height is 2000.
    ASSERT_EQ(run({"--no-discovery", "g.g", "-o", "default.png"}).status, 0);
    const std::string reference = file("default.png");
    ASSERT_EQ(kind(reference), "png");
    const double w0 = be32(reference, 16), h0 = be32(reference, 20);
    ASSERT_EQ(h0, 2000);
    ASSERT_LT(w0, 2000);

    std::vector<std::string> args{"--no-discovery", "g.g", "-o", "sized.png"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const Outcome r = run(args);
    ASSERT_EQ(r.status, 0) << r.raw_err;
    const std::string png = file("sized.png");
    ASSERT_EQ(kind(png), "png");
    const double w = be32(png, 16), h = be32(png, 20);
    if (GetParam().width != 0) {
        EXPECT_EQ(w, GetParam().width);
    } else {
        EXPECT_NEAR(w, h * w0 / h0, 1.0);
    }
    if (GetParam().height != 0) {
        EXPECT_EQ(h, GetParam().height);
    } else {
        EXPECT_NEAR(h, w * h0 / w0, 1.0);
    }
    // The fitted PNG still prints at the picture's physical size: its resolution is the same
    // share of the default's as its width.
    const size_t phys = png.find("pHYs"), phys0 = reference.find("pHYs");
    ASSERT_NE(phys, std::string::npos);
    ASSERT_NE(phys0, std::string::npos);
    EXPECT_NEAR(be32(png, phys + 4) / double(be32(reference, phys0 + 4)), w / w0, 0.01);
    if (GetParam().args.size() == 4 && GetParam().args[1] == "2000") {
        EXPECT_EQ(png, reference) << "the default is not the longest side 2000";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Worked, PngSizeOptions,
    ::testing::Values(PngSizeCase{{"--width", "640"}, 640, 0}, PngSizeCase{{"--height=480"}, 0, 480},
                      // Both: the height limits this tall picture; the width only bounds it.
                      PngSizeCase{{"--width", "1000", "--height", "500"}, 0, 500},
                      // A wide box around it: the width limits.
                      PngSizeCase{{"--width", "100", "--height", "5000"}, 100, 0},
                      PngSizeCase{{"--height", "2000", "--width", "2000"}, 0, 2000}));

TEST_F(ConvertExport, Dpi300IsThePhysicalSizeInPrint) {
    write("g.g", kSquare);
    // A display of ten times the pixels makes the picture a tenth the size, so the PNG is quick.
    ASSERT_EQ(run({"--no-discovery", "g.g", "--display", "527,296,19200,10800", "--dpi", "300", "-o", "print.png"}).status,
              0);
    ASSERT_EQ(run({"--no-discovery", "g.g", "--display", "527,296,19200,10800", "-o", "print.emf"}).status, 0);
    const std::string emf = file("print.emf");
    const double w_mm = (le32(emf, 32) - le32(emf, 24)) / 100.0, h_mm = (le32(emf, 36) - le32(emf, 28)) / 100.0;
    const std::string png = file("print.png");
    ASSERT_EQ(kind(png), "png");
    ASSERT_GT(w_mm, 50);
    EXPECT_NEAR(be32(png, 16), w_mm / 25.4 * 300, 0.51);
    EXPECT_NEAR(be32(png, 20), h_mm / 25.4 * 300, 0.51);
    const size_t phys = png.find("pHYs");
    ASSERT_NE(phys, std::string::npos);
    EXPECT_EQ(be32(png, phys + 4), 11811u);  // 300 dpi
    EXPECT_EQ(be32(png, phys + 8), 11811u);
    EXPECT_EQ(png[phys + 12], 1) << "the unit is not the metre";
}

TEST_F(ConvertExport, ImageTooLargeFailsNamingTheFileAndKeepsTheMetafile) {
    write("g.g", kSquare);
    // No output named: graph.emf is written where the window writes it, and stays.
    const Outcome r = run({"--no-discovery", "g.g", "--dpi", "4800", "--format", "png"});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.back().rfind("plotmint-convert: graph.png: cannot write the PNG picture: ", 0), 0u) << r.err.back();
    EXPECT_NE(r.err.back().find("too large"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "graph.png"));
    EXPECT_EQ(kind(file("graph.emf")), "emf");
}

TEST_F(ConvertExport, UnwritableExportFailsAndKeepsWhatWasThere) {
    write("g.g", kSquare);
    Outcome r = run({"--no-discovery", "g.g", "-o", "no/such/dir/x.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.back(), "plotmint-convert: no/such/dir/x.pdf: cannot write the PDF picture: No such file or directory.");
    EXPECT_EQ(r.err[r.err.size() - 2], "draw finished.");
    fs::create_directories(dir_ / "ro");
    write("ro/kept.svg", "old");
    fs::permissions(dir_ / "ro", fs::perms::owner_write, fs::perm_options::remove);
    if (std::ofstream(dir_ / "ro/probe").good()) {  // root writes anywhere
        fs::permissions(dir_ / "ro", fs::perms::owner_write, fs::perm_options::add);
        return;
    }
    r = run({"--no-discovery", "g.g", "-o", "ro/kept.svg"});
    fs::permissions(dir_ / "ro", fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(file("ro/kept.svg"), "old");
}

// The text of every <text> element of an SVG, in document order.
std::vector<std::string> svg_texts(const std::string& svg) {
    std::vector<std::string> out;
    QXmlStreamReader xml(QByteArray::fromStdString(svg));
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"text")
            out.push_back(xml.readElementText().toStdString());
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return out;
}

// Words of examples/text.g, each set as one text block.
const std::vector<std::string> kWords{"Helvetica", "Courier", "Times-Roman", "New Century Schoolbook",
                                      "Caf\xc3\xa9 \xe2\x82\xac 5\xc2\xb0 \xc3\x85ngstr\xc3\xb6m"};

TEST_F(ConvertExport, SvgKeepsEachTextBlockAsText) {
    const Outcome r = run({kExamples + "text.g", "-o", "text.svg"});
    ASSERT_EQ(r.status, 0) << r.raw_err;
    const std::vector<std::string> texts = svg_texts(file("text.svg"));
    for (const std::string& word : kWords)
        EXPECT_NE(std::find(texts.begin(), texts.end(), word), texts.end()) << word;
}

TEST_F(ConvertExport, PdfKeepsTheTextSelectable) {
    if (std::system("command -v pdftotext >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdftotext (poppler-utils) is missing";
    const Outcome r = run({kExamples + "text.g", "-o", "text.pdf"});
    ASSERT_EQ(r.status, 0) << r.raw_err;
    ASSERT_EQ(std::system(("pdftotext -enc UTF-8 " + quote((dir_ / "text.pdf").string()) + " " +
                           quote((dir_ / "text.txt").string()))
                              .c_str()),
              0);
    const std::string text = file("text.txt");
    for (const std::string& word : kWords) EXPECT_NE(text.find(word), std::string::npos) << word << " in:\n" << text;
}

TEST_F(ConvertExport, EveryExampleConvertsToEveryFormat) {
    for (const char* example : {"graph", "lines", "text"})
        for (const char* format : {"svg", "pdf", "png"}) {
            const std::string out = std::string(example) + "." + format;
            const Outcome r = run({kExamples + example + ".g", "--dpi", "20", "-o", out});
            EXPECT_EQ(r.status, 0) << out << "\n" << r.raw_err;
            EXPECT_EQ(kind(file(out)), format) << out;
        }
}

#endif  // PLOTMINT_HAVE_EXPORT

TEST_F(ConvertExport, OutputDirConvertsEachFileAndReportsEach) {
    // a.g names the demo tables; b.g names none, so it must be drawn with the start-up ones.
    write("a.g", "33 0 0\n0 100 0\n0 101 0\n0 109 0\n0 111 0\n35 0 0\n7 1 5\n0 50 0\n0 0 0\n0 99 0\n0 99 99\n9 0 0\n" +
                     std::string(kSquare));
    write("sub/b.g", "7 1 5\n0 50 0\n0 0 0\n0 99 0\n0 99 99\n9 0 0\n" + std::string(kSquare));
    const Outcome r = run({"a.g", "missing.g", "sub/b.g", "--output-dir", "out/pictures"});
    EXPECT_EQ(r.status, 1);

    // Each file's outcome follows its own lines; the missing one does not stop the others.
    auto at = [&](const std::string& line) { return std::find(r.err.begin(), r.err.end(), line) - r.err.begin(); };
    const auto a_done = at("plotmint-convert: a.g: converted to out/pictures/a.emf");
    const auto missing_done = at("plotmint-convert: missing.g: failed");
    const auto b_done = at("plotmint-convert: sub/b.g: converted to out/pictures/b.emf");
    ASSERT_LT(b_done, static_cast<long>(r.err.size())) << r.raw_err;
    EXPECT_LT(a_done, missing_done);
    EXPECT_LT(missing_done, b_done);
    EXPECT_LT(at("open a.g."), a_done);
    EXPECT_LT(missing_done, at("open sub/b.g."));
    // Every file starts from the start-up tables again.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), "open " + table("tone-default.ktc") + "."), 3);
    EXPECT_EQ(r.err[static_cast<size_t>(missing_done) + 1], "open " + table("tone-default.ktc") + ".");

    // Each picture is the one a run of its own would make.
    ASSERT_EQ(run({"a.g", "-o", "a_alone.emf"}).status, 0);
    ASSERT_EQ(run({"sub/b.g", "-o", "b_alone.emf"}).status, 0);
    EXPECT_EQ(file("out/pictures/a.emf"), file("a_alone.emf"));
    EXPECT_EQ(file("out/pictures/b.emf"), file("b_alone.emf"));
    EXPECT_NE(file("out/pictures/a.emf"), file("out/pictures/b.emf"));  // the demo tables did count
    EXPECT_FALSE(fs::exists(dir_ / "out/pictures/missing.emf"));
}

TEST_F(ConvertExport, OutputDirWithEveryFileConvertedExitsZero) {
    write("a.g", kSquare);
    write("b.g", kSquare);
    const Outcome r = run({"--no-discovery", "-d", "out", "a.g", "b.g"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.back(), "plotmint-convert: b.g: converted to out/b.emf");
#ifdef PLOTMINT_HAVE_EXPORT
    const Outcome svg = run({"--no-discovery", "-d", "out", "--format", "svg", "a.g", "b.g"});
    EXPECT_EQ(svg.status, 0);
    EXPECT_EQ(kind(file("out/a.svg")), "svg");
    EXPECT_EQ(kind(file("out/b.svg")), "svg");
    EXPECT_FALSE(fs::exists(dir_ / "graph.emf"));  // each export is played from a private metafile
#endif
}

TEST_F(ConvertExport, OutputDirThatCannotBeMadeIsAFailure) {
    write("a.g", kSquare);
    write("blocked", "a file where the folder should be");
    const Outcome r = run({"--no-discovery", "-d", "blocked", "a.g"});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.err.size(), 1u);
    EXPECT_EQ(r.err[0].rfind("plotmint-convert: blocked: cannot make the output folder: ", 0), 0u) << r.err[0];
}

struct UsageCase {
    std::vector<std::string> args;
    std::string message;
};

class ExportUsage : public ConvertExport, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(ExportUsage, IsRefusedWithExitTwoBeforeAnyRun) {
    write("a.g", kSquare);
    const Outcome r = run(GetParam().args);
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(r.err.size(), 2u) << r.raw_err;
    EXPECT_EQ(r.err[0], "plotmint-convert: " + GetParam().message);
    EXPECT_EQ(r.err[1], "Try 'plotmint-convert --help' for more information.");
    EXPECT_FALSE(fs::exists(dir_ / "graph.emf"));
}

INSTANTIATE_TEST_SUITE_P(
    Bad, ExportUsage,
    ::testing::Values(
        UsageCase{{"--format", "gif", "a.g"}, "--format: 'gif' is not emf, svg, pdf or png"},
        UsageCase{{"--dpi", "0", "a.g"}, "--dpi: '0' is not a whole number from 1 to 4800"},
        UsageCase{{"--dpi", "4801", "a.g"}, "--dpi: '4801' is not a whole number from 1 to 4800"},
        UsageCase{{"--dpi", "96dpi", "a.g"}, "--dpi: '96dpi' is not a whole number from 1 to 4800"},
        UsageCase{{"--width", "0", "a.g"}, "--width: '0' is not a whole number from 1 to 32767"},
        UsageCase{{"--height=32768", "a.g"}, "--height: '32768' is not a whole number from 1 to 32767"},
        UsageCase{{"--dpi", "300", "--width", "800", "a.g"},
                  "--dpi cannot be used with --width; give either a resolution or a size"},
        UsageCase{{"--height", "800", "--dpi=300", "-o", "x.png", "a.g"},
                  "--dpi cannot be used with --height; give either a resolution or a size"},
        UsageCase{{"a.g", "b.g"}, "more than one graph file given ('b.g'); use --output-dir DIR to convert several"},
        UsageCase{{"-o", "x.svg", "-d", "out", "a.g"}, "--output and --output-dir cannot be used together"},
        UsageCase{{"-d", "out"}, "--output-dir needs at least one graph file"},
        UsageCase{{"-d", "out", "a.g", "x/a.g"}, "'a.g' and 'x/a.g' would both be written to out/a.emf"},
        UsageCase{{"--quiet=yes", "a.g"}, "--quiet takes no value"}));

TEST_F(ConvertExport, HelpNamesEveryOptionTheManPageDescribes) {
    const std::string cmd = quote(std::string(PLOTMINT_BIN_DIR) + "/plotmint-convert") + " --help > " +
                            quote((dir_ / "help.txt").string());
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string help = file("help.txt");
    std::string man = slurp(fs::path(PLOTMINT_SOURCE_DIR) / "packaging/man/plotmint-convert.1");
    // troff writes a hyphen of an option as "\-".
    for (size_t p; (p = man.find("\\-")) != std::string::npos;) man.replace(p, 2, 1, '-');
    for (const char* option : {"--output", "--format", "--dpi", "--width", "--height", "--output-dir", "--quiet", "--watch", "--tone", "--line",
                               "--table-dir", "--no-discovery", "--widths", "--vhline", "--vhline-pen", "--hershey",
                               "--display", "--help", "--version"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option << " is missing from --help";
        EXPECT_NE(man.find(std::string("\\fB") + option), std::string::npos) << option << " is missing from the man page";
    }
}

}  // namespace
