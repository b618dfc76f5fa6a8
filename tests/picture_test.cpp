// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "PictureTool.h"

namespace {

namespace fs = std::filesystem;

class PictureToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(testing::TempDir()) / ("orvanel_picture_" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const char* name) const { return (dir / name).string(); }

    static picture::Pixels solid(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
        picture::Pixels p;
        p.width = w;
        p.height = h;
        p.rgba.resize(static_cast<size_t>(w) * h * 4);
        for (size_t i = 0; i < p.rgba.size(); i += 4) {
            p.rgba[i] = r;
            p.rgba[i + 1] = g;
            p.rgba[i + 2] = b;
            p.rgba[i + 3] = a;
        }
        return p;
    }

    // Converts a PNG file the way the tool does; empty when it refuses.
    std::vector<uint8_t> convert(const std::string& png, std::string* error = nullptr) {
        picture::Pixels image;
        std::string e;
        std::string out = path("out.raw");
        fs::remove(out);
        if (!picture::readImage(png, image, e) || !picture::writePicture(out, picture::toPicture(image), e)) {
            if (error) *error = e;
            return {};
        }
        std::ifstream in(out, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().find(".raw.") != std::string::npos) names.push_back(e.path());
        return names;
    }

    const uint8_t* texel(const std::vector<uint8_t>& raw, int s, int t) const {
        return &raw[(static_cast<size_t>(t) * 128 + s) * 3];
    }

    fs::path dir;
};

TEST_F(PictureToolTest, BottomLeftOfTheImageBecomesTexelZeroZero) {
    picture::Pixels img = solid(64, 64, 255, 255, 255);
    for (int y = 32; y < 64; ++y)
        for (int x = 0; x < 32; ++x)
            for (int c = 0; c < 3; ++c) img.rgba[(y * 64 + x) * 4 + c] = 0;
    std::string error;
    ASSERT_TRUE(picture::writePng(path("corner.png"), img, error)) << error;
    auto raw = convert(path("corner.png"));
    ASSERT_EQ(raw.size(), 49152u);
    EXPECT_EQ(texel(raw, 0, 0)[0], 0);      // first row, first texel: the image's bottom left
    EXPECT_EQ(texel(raw, 10, 10)[1], 0);
    EXPECT_EQ(texel(raw, 127, 0)[0], 255);  // bottom right
    EXPECT_EQ(texel(raw, 0, 127)[0], 255);  // top left
}

TEST_F(PictureToolTest, TransparencyShowsWhite) {
    std::string error;
    ASSERT_TRUE(picture::writePng(path("clear.png"), solid(10, 10, 0, 0, 0, 0), error));
    ASSERT_TRUE(picture::writePng(path("half.png"), solid(10, 10, 0, 0, 200, 128), error));
    auto clear = convert(path("clear.png"));
    auto half = convert(path("half.png"));
    ASSERT_EQ(clear.size(), 49152u);
    ASSERT_EQ(half.size(), 49152u);
    EXPECT_EQ(texel(clear, 64, 64)[0], 255);
    EXPECT_NEAR(texel(half, 64, 64)[0], 127, 3);
    EXPECT_NEAR(texel(half, 64, 64)[2], 227, 3);
}

TEST_F(PictureToolTest, PaletteAndSixteenBitImagesAreRead) {
    // A palette image: two colours in stripes.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 16;
    image.height = 16;
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = 2;
    const uint8_t colormap[] = {255, 0, 0, 0, 0, 255};
    std::vector<uint8_t> index(256);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) index[y * 16 + x] = x < 8 ? 0 : 1;
    ASSERT_TRUE(png_image_write_to_file(&image, path("palette.png").c_str(), 0, index.data(), 0, colormap));
    auto raw = convert(path("palette.png"));
    ASSERT_EQ(raw.size(), 49152u);
    EXPECT_EQ(texel(raw, 10, 60)[0], 255);
    EXPECT_EQ(texel(raw, 10, 60)[2], 0);
    EXPECT_EQ(texel(raw, 120, 60)[2], 255);

    // Sixteen bits a channel.
    png_image deep{};
    deep.version = PNG_IMAGE_VERSION;
    deep.width = 8;
    deep.height = 8;
    deep.format = PNG_FORMAT_LINEAR_RGB_ALPHA;
    std::vector<uint16_t> px(8 * 8 * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        px[i] = 65535;
        px[i + 1] = 0;
        px[i + 2] = 65535;
        px[i + 3] = 65535;
    }
    ASSERT_TRUE(png_image_write_to_file(&deep, path("deep.png").c_str(), 0, px.data(), 0, nullptr));
    raw = convert(path("deep.png"));
    ASSERT_EQ(raw.size(), 49152u);
    EXPECT_EQ(texel(raw, 5, 5)[0], 255);
    EXPECT_EQ(texel(raw, 5, 5)[1], 0);
}

TEST_F(PictureToolTest, TinyAndLargeImagesScaleWithAFilter) {
    std::string error;
    ASSERT_TRUE(picture::writePng(path("tiny.png"), solid(1, 1, 10, 20, 30), error));
    auto raw = convert(path("tiny.png"));
    ASSERT_EQ(raw.size(), 49152u);
    EXPECT_EQ(texel(raw, 127, 127)[2], 30);

    // Alternate black and white pixels: an area filter gives grey, where
    // picking one source pixel would give black or white.
    picture::Pixels checker = solid(1000, 700, 0, 0, 0);
    for (int y = 0; y < 700; ++y)
        for (int x = 0; x < 1000; ++x)
            if ((x + y) % 2)
                for (int c = 0; c < 3; ++c) checker.rgba[(static_cast<size_t>(y) * 1000 + x) * 4 + c] = 255;
    ASSERT_TRUE(picture::writePng(path("large.png"), checker, error));
    raw = convert(path("large.png"));
    ASSERT_EQ(raw.size(), 49152u);
    for (int s : {0, 50, 127}) EXPECT_NEAR(texel(raw, s, 64)[0], 128, 12) << s;
}

TEST_F(PictureToolTest, RefusalsLeaveNothingBehind) {
    std::string error;
    EXPECT_TRUE(convert(path("missing.png"), &error).empty());
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    std::ofstream(path("text.png")) << "this is not an image\n";
    EXPECT_TRUE(convert(path("text.png"), &error).empty());
    EXPECT_NE(error.find("not a PNG"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(path("out.raw")));

    std::vector<uint8_t> bytes(49152, 1);
    EXPECT_FALSE(picture::writePicture(path("no/such/dir/out.raw"), bytes, error));
    fs::create_directory(path("target.raw"));
    EXPECT_FALSE(picture::writePicture(path("target.raw"), bytes, error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(PictureToolTest, ReplacesAnOldPictureWhole) {
    std::ofstream(path("old.raw")) << "old";
    std::string error;
    std::vector<uint8_t> bytes(49152, 7);
    ASSERT_TRUE(picture::writePicture(path("old.raw"), bytes, error)) << error;
    EXPECT_EQ(fs::file_size(path("old.raw")), 49152u);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(PictureToolTest, SamplePictureMarksTexelZeroZeroOnly) {
    std::ifstream in(SAMPLE_PICTURE, std::ios::binary);
    std::vector<uint8_t> raw((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(raw.size(), 49152u) << SAMPLE_PICTURE;
    auto black = [&](int s, int t) {
        const uint8_t* p = texel(raw, s, t);
        return p[0] == 0 && p[1] == 0 && p[2] == 0;
    };
    EXPECT_TRUE(black(0, 0));
    EXPECT_TRUE(black(15, 15));
    EXPECT_FALSE(black(127, 0));
    EXPECT_FALSE(black(0, 127));
    EXPECT_FALSE(black(127, 127));
    // The arrow is white along the middle and points to high t (the top).
    EXPECT_EQ(texel(raw, 62, 60)[0], 255);
    EXPECT_EQ(texel(raw, 62, 110)[0], 255);
    EXPECT_NE(texel(raw, 62, 122)[0], 255) << "past the arrow's tip";
}

TEST_F(PictureToolTest, CommandLineExitStatus) {
    std::string tool = ORVANEL_PICTURE_TOOL;
    EXPECT_NE(std::system((tool + " " + path("missing.png") + " " + path("x.raw") + " 2>/dev/null").c_str()), 0);
    EXPECT_FALSE(fs::exists(path("x.raw")));
    std::string error;
    ASSERT_TRUE(picture::writePng(path("ok.png"), solid(3, 3, 1, 2, 3), error));
    EXPECT_EQ(std::system((tool + " " + path("ok.png") + " " + path("x.raw") + " >/dev/null").c_str()), 0);
    EXPECT_EQ(fs::file_size(path("x.raw")), 49152u);
}

}  // namespace
