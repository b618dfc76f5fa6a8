// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Picture.h"

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
    // Quoted for the shell (a clone's path may hold a space).
    static std::string q(const std::string& s) {
        std::string out = "'";
        for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }

    static picture::Pixels solid(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
        const uint8_t pixel[4] = {r, g, b, a};
        picture::Pixels p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4)};
        for (size_t i = 0; i < p.rgba.size(); ++i) p.rgba[i] = pixel[i % 4];
        return p;
    }

    // The picture the tool makes of `image`, by way of a PNG file.
    std::vector<uint8_t> pictureOf(const picture::Pixels& image) {
        std::string error;
        EXPECT_TRUE(picture::writePng(path("in.png"), image, error)) << error;
        return sized(convert(path("in.png")));
    }
    static std::vector<uint8_t> sized(std::vector<uint8_t> raw) {
        EXPECT_EQ(raw.size(), 49152u);
        raw.resize(49152);  // its texels readable all the same
        return raw;
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
    auto raw = pictureOf(img);
    EXPECT_EQ(texel(raw, 0, 0)[0], 0);      // first row, first texel: the image's bottom left
    EXPECT_EQ(texel(raw, 10, 10)[1], 0);
    EXPECT_EQ(texel(raw, 127, 0)[0], 255);  // bottom right
    EXPECT_EQ(texel(raw, 0, 127)[0], 255);  // top left
    // Row for row: image row r is texel row 127 - r.
    picture::Pixels rows = solid(128, 128, 0, 0, 0);
    for (int r = 0; r < 128; ++r) rows.rgba[static_cast<size_t>(r) * 128 * 4] = static_cast<uint8_t>(r);
    raw = pictureOf(rows);
    for (int r = 0; r < 128; ++r) EXPECT_EQ(texel(raw, 0, 127 - r)[0], r) << "image row " << r;
}

TEST_F(PictureToolTest, TransparencyShowsWhite) {
    for (int size : {10, 300}) {  // enlarged, and reduced with the area filter
        auto clear = pictureOf(solid(size, size, 0, 0, 0, 0)), half = pictureOf(solid(size, size, 0, 0, 200, 128));
        EXPECT_EQ(texel(clear, 64, 64)[0], 255) << size;
        EXPECT_NEAR(texel(half, 64, 64)[0], 127, 3) << size;
        EXPECT_NEAR(texel(half, 64, 64)[2], 227, 3) << size;
    }
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
    for (int i = 0; i < 256; ++i) index[i] = i % 16 < 8 ? 0 : 1;
    ASSERT_TRUE(png_image_write_to_file(&image, path("palette.png").c_str(), 0, index.data(), 0, colormap));
    auto raw = sized(convert(path("palette.png")));
    EXPECT_EQ(texel(raw, 10, 60)[0], 255);
    EXPECT_EQ(texel(raw, 10, 60)[2], 0);
    EXPECT_EQ(texel(raw, 120, 60)[2], 255);

    // Sixteen bits a channel.
    image.width = image.height = 8;
    image.format = PNG_FORMAT_LINEAR_RGB_ALPHA;
    std::vector<uint16_t> px;
    for (int i = 0; i < 8 * 8; ++i) px.insert(px.end(), {65535, 0, 65535, 65535});
    ASSERT_TRUE(png_image_write_to_file(&image, path("deep.png").c_str(), 0, px.data(), 0, nullptr));
    raw = sized(convert(path("deep.png")));
    EXPECT_EQ(texel(raw, 5, 5)[0], 255);
    EXPECT_EQ(texel(raw, 5, 5)[1], 0);
}

TEST_F(PictureToolTest, TinyAndLargeImagesScaleWithAFilter) {
    EXPECT_EQ(texel(pictureOf(solid(1, 1, 10, 20, 30)), 127, 127)[2], 30);

    // Not square: each axis scaled by its own length (left half red, right
    // half blue, over the whole height).
    picture::Pixels wide = solid(4, 1, 255, 0, 0);
    for (int x = 2; x < 4; ++x) {
        wide.rgba[x * 4] = 0;
        wide.rgba[x * 4 + 2] = 255;
    }
    auto raw = pictureOf(wide);
    for (int t : {0, 64, 127}) {
        EXPECT_EQ(texel(raw, 10, t)[0], 255) << t;
        EXPECT_EQ(texel(raw, 117, t)[2], 255) << t;
        EXPECT_EQ(texel(raw, 117, t)[0], 0) << t;
    }

    // Alternate black and white pixels: an area filter gives grey, where
    // picking one source pixel would give black or white.
    picture::Pixels checker = solid(1000, 700, 0, 0, 0);
    for (int y = 0; y < 700; ++y)
        for (int x = 0; x < 1000; ++x)
            if ((x + y) % 2)
                for (int c = 0; c < 3; ++c) checker.rgba[(static_cast<size_t>(y) * 1000 + x) * 4 + c] = 255;
    raw = pictureOf(checker);
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

    // The header of a huge image: refused before its pixels, past 32,768 a
    // side or 2^26 pixels, and not at the limits themselves.
    auto header = [&](png_uint_32 width, png_uint_32 height) {
        FILE* f = std::fopen(path("huge.png").c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), nullptr, 0);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        EXPECT_TRUE(convert(path("huge.png"), &error).empty());
        return error.find(std::to_string(width) + " x " + std::to_string(height) + " pixels is too large") !=
               std::string::npos;
    };
    // At the limits: read, and found to have no pixels.
    for (auto [width, height, refused] : {std::tuple{20000u, 20000u, true}, {32769u, 1u, true}, {1u, 32769u, true},
                                          {8192u, 8193u, true}, {8192u, 8192u, false}, {32768u, 2u, false}})
        EXPECT_EQ(header(width, height), refused) << width << "x" << height << ": " << error;

    std::vector<uint8_t> bytes(49152, 1);
    EXPECT_FALSE(picture::writePicture(path("no/such/dir/out.raw"), bytes, error));
    fs::create_directory(path("target.raw"));
    EXPECT_FALSE(picture::writePicture(path("target.raw"), bytes, error));
    EXPECT_EQ(error, "cannot write " + path("target.raw") + ": Is a directory");
    // A read-only file stays as it was, unless root writes it (as cp would):
    // without the capabilities root has, it is refused.
    std::ofstream(path("kept.raw")) << "keep";
    fs::permissions(path("kept.raw"), fs::perms::owner_read);
    if (pid_t child = fork(); child == 0) {
        __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2]{};
        _exit(syscall(SYS_capset, &head, none) == 0 && !picture::writePicture(path("kept.raw"), bytes, error) ? 0 : 1);
    } else {
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_EQ(status, 0) << "a read-only file written without the capabilities to";
    }
    EXPECT_EQ(picture::writePicture(path("kept.raw"), bytes, error), geteuid() == 0) << error;
    EXPECT_EQ(fs::file_size(path("kept.raw")), geteuid() == 0 ? 49152u : 4u);
    EXPECT_TRUE(leftovers().empty());
}

// An old picture keeps its mode; a new one, made directly or through a
// dangling link, gets what the umask leaves of 0666; a write that fails
// through a dangling link leaves nothing where nothing was.
TEST_F(PictureToolTest, ReplacesAnOldPictureWholeKeepingItsModeAndHonoursTheUmask) {
    std::ofstream(path("old.raw")) << "old";
    chmod(path("old.raw").c_str(), 0600);
    std::string error;
    std::vector<uint8_t> bytes(49152, 7);
    ASSERT_TRUE(picture::writePicture(path("old.raw"), bytes, error)) << error;
    EXPECT_EQ(fs::file_size(path("old.raw")), 49152u);
    auto mode = [&](const char* name) {
        struct stat st {};
        stat(path(name).c_str(), &st);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(mode("old.raw"), 0600u);
    mode_t before = umask(077);
    fs::create_symlink(path("made.raw"), path("dangling.raw"));
    EXPECT_TRUE(picture::writePicture(path("new.raw"), bytes, error)) << error;
    EXPECT_TRUE(picture::writePicture(path("dangling.raw"), bytes, error)) << error;
    umask(022);
    EXPECT_TRUE(picture::writePicture(path("new022.raw"), bytes, error)) << error;
    umask(before);
    EXPECT_EQ(mode("new.raw"), 0600u);
    EXPECT_EQ(mode("made.raw"), 0600u);
    EXPECT_EQ(mode("new022.raw"), 0644u);

    // A file system that takes 12,288 bytes and no more.
    fs::create_symlink(path("never.raw"), path("dangling2.raw"));
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{}, small{12288, 12288};
    getrlimit(RLIMIT_FSIZE, &old);
    small.rlim_max = old.rlim_max;
    setrlimit(RLIMIT_FSIZE, &small);
    bool wrote = picture::writePicture(path("dangling2.raw"), bytes, error);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(fs::exists(path("never.raw")));
    EXPECT_TRUE(fs::is_symlink(path("dangling2.raw")));
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
    for (auto [s, t, marked] : {std::tuple{0, 0, true}, {15, 15, true}, {127, 0, false}, {0, 127, false},
                                {127, 127, false}})
        EXPECT_EQ(black(s, t), marked) << s << "," << t;
    // The arrow is white along the middle and points to high t (the top).
    EXPECT_EQ(texel(raw, 62, 60)[0], 255);
    EXPECT_EQ(texel(raw, 62, 110)[0], 255);
    EXPECT_NE(texel(raw, 62, 122)[0], 255) << "past the arrow's tip";
}

// What the shell sees: status, and which stream got the words.
TEST_F(PictureToolTest, CommandLineStatusAndStreams) {
    std::string error;
    ASSERT_TRUE(picture::writePng(path("ok.png"), solid(3, 3, 1, 2, 3), error));
    struct Case {
        std::string args;
        int status;
        std::string out;  // expected at the start of stdout ("" for nothing)
        const char* err;  // expected in stderr ("" for nothing)
        std::string env = {};  // its environment, when not XDG_DATA_HOME=data
    };
    const Case cases[] = {
        {"--help", 0, "usage: orvanel-picture", ""},
        {"-h", 0, "usage: orvanel-picture", ""},
        {"--version", 0, "orvanel-picture " ORVANEL_VERSION "\n", ""},
        {"--system", 2, "", "name the PNG image to make the picture from\nusage:"},
        {q(path("")) + " a.raw", 1, "", " is a folder, not a PNG image\n"},
        {"/dev/null a.raw", 1, "", "/dev/null is not a regular file, not a PNG image\n"},
        {q(path("cut.png")) + " a.raw", 1, "", "cut.png is a broken PNG image: the file ends before the image does\n"},
        {"--frobnicate " + q(path("ok.png")), 2, "", "unknown option '--frobnicate'"},
        {q(path("ok.png")) + " a.raw b.raw", 2, "", "usage:"},
        {"--system " + q(path("ok.png")) + " a.raw", 2, "", "--system or an output, not both"},
        {q(path("missing.png")) + " " + q(path("x.raw")), 1, "", "No such file"},
        {q(path("ok.png")) + " " + q(path("x.raw")), 0, "orvanel-picture: wrote", ""},
        {"-- " + q(path("ok.png")) + " " + q(path("y.raw")), 0, "orvanel-picture: wrote", ""},
        {q(path("ok.png")) + " " + q(path("ok.png")), 1, "", "is the image itself"},
        {q(path("ok.png")) + " ''", 2, "", "a file name cannot be empty"},
        {"- " + q(path("z.raw")), 1, "", "cannot read -: No such file"},
        {q(path("ok.png")) + " " + q(path("oklink.png")), 1, "", "is the image itself"},
        // With no output: the user's own picture, its folders made.
        {q(path("ok.png")), 0, "orvanel-picture: wrote " + path("data") + "/orvanel/tesmor.raw\n", ""},
        {q(path("ok.png")), 0, "orvanel-picture: wrote " + path("home") + "/.local/share/orvanel/tesmor.raw\n", "",
         "XDG_DATA_HOME= HOME=" + q(path("home"))},
        // A relative XDG_DATA_HOME is no place by the XDG rules.
        {q(path("ok.png")), 0, "orvanel-picture: wrote " + path("home") + "/.local/share/orvanel/tesmor.raw\n", "",
         "XDG_DATA_HOME=data HOME=" + q(path("home"))},
    };
    fs::create_symlink(path("ok.png"), path("oklink.png"));
    fs::copy_file(path("ok.png"), path("cut.png"));
    fs::resize_file(path("cut.png"), fs::file_size(path("ok.png")) - 20);  // its image data cut short
    for (const Case& c : cases) {
        std::string env = c.env.empty() ? "XDG_DATA_HOME=" + q(path("data")) : c.env;
        std::string cmd = env + " " + q(ORVANEL_PICTURE_TOOL) + " " + c.args + " >" + q(path("stdout")) + " 2>" +
                          q(path("stderr"));
        int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.args;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.args;
        std::ifstream o(path("stdout")), e(path("stderr"));
        std::string out((std::istreambuf_iterator<char>(o)), {}), err((std::istreambuf_iterator<char>(e)), {});
        EXPECT_EQ(out.rfind(c.out, 0), 0u) << c.args << ": " << out;
        if (*c.err)
            EXPECT_NE(err.find(c.err), std::string::npos) << c.args << ": " << err;
        else
            EXPECT_EQ(err, "") << c.args;
    }
    EXPECT_EQ(fs::file_size(path("data/orvanel/tesmor.raw")), 49152u);
    EXPECT_EQ(fs::status(path("data/orvanel")).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::file_size(path("x.raw")), 49152u);
    EXPECT_FALSE(fs::exists(path("a.raw")));
    picture::Pixels intact;
    EXPECT_TRUE(picture::readImage(path("ok.png"), intact, error)) << error;
}

// What is at the output path and is not a regular file stays what it is.
TEST_F(PictureToolTest, LinksFifosAndDevicesAreWrittenThroughNotReplaced) {
    std::string error;
    std::vector<uint8_t> bytes(49152, 9);
    // A link naming its target whole, and one naming it from the link's own
    // folder (into a folder only that one has).
    fs::create_directory(path("sub"));
    for (auto [link, target] : {std::pair{path("link.raw"), path("real.raw")}, {path("rel.raw"), "sub/real.raw"}}) {
        fs::create_symlink(target, link);
        ASSERT_TRUE(picture::writePicture(link, bytes, error)) << error;  // dangling: made through it
        ASSERT_TRUE(picture::writePicture(link, bytes, error)) << error;  // then replaced through it
        EXPECT_TRUE(fs::is_symlink(link));
    }
    EXPECT_EQ(fs::file_size(path("real.raw")), 49152u);
    EXPECT_EQ(fs::file_size(path("sub/real.raw")), 49152u);

    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    std::vector<uint8_t> got;
    std::thread reader([&] {
        std::ifstream in(path("fifo"), std::ios::binary);
        got.assign(std::istreambuf_iterator<char>(in), {});
    });
    EXPECT_TRUE(picture::writePicture(path("fifo"), bytes, error)) << error;
    reader.join();
    EXPECT_EQ(got, bytes);
    EXPECT_TRUE(fs::is_fifo(path("fifo")));

    // A null device of our own, in the test's folder.
    if (mknod(path("null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        EXPECT_TRUE(picture::writePicture(path("null"), bytes, error)) << error;
        EXPECT_TRUE(fs::is_character_file(path("null")));
    }
    EXPECT_TRUE(leftovers().empty());
}

}  // namespace
