// SPDX-License-Identifier: MIT
// Pictures of the user's own, shown and screenshotted.
#include "EndToEndFrames.h"

namespace e2e {
namespace {

// A picture of the user's own, as a PNG or as the raw file the picture tool
// makes of it, shown for 40 frames on X screens of every depth and with no
// display at all: the same screenshot, and a closing line; never a
// screenshot over it.
TEST_F(EndToEnd, APictureOfYourOwnForFortyFramesLeavesTheSameScreenshotOnXAndOffscreen) {
    std::string dir = newFolder("orvanel_shots");
    ASSERT_FALSE(dir.empty());
    // 64 x 48, not square: each axis scaled by its own length.
    std::vector<unsigned char> photo(64 * 48 * 3);
    for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<unsigned char>((i / 3 % 64) * 4 + (i % 3) * 60);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 64;
    image.height = 48;
    image.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(png_image_write_to_file(&image, (dir + "/photo.png").c_str(), 0, photo.data(), 0, nullptr));
    auto quoted = [](const std::string& path) { return "'" + path + "'"; };  // a clone's path may hold a space
    auto run = [&](const std::string& command) {
        int status = std::system(("cd " + quoted(dir) + " && XDG_DATA_HOME=" + quoted(dir + "/data") + " " + command +
                                  " >out.txt 2>&1")
                                     .c_str());
        std::ifstream in(dir + "/out.txt");
        std::string said((std::istreambuf_iterator<char>(in)), {});
        return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
    };
    const std::string program = quoted(ORVANEL_BINARY), tool = quoted(ORVANEL_PICTURE_TOOL);
    ASSERT_EQ(run(tool + " photo.png photo.raw").first, 0);
    auto [xStatus, xSaid] =
        run("WAYLAND_DISPLAY= " + program + " --picture photo.png --frames 40 --screenshot x.png --stats=json");
    EXPECT_EQ(xStatus, 0) << xSaid;
    EXPECT_EQ(xSaid.rfind(glVersionLine() + "orvanel: 40 frames shown in ", 0), 0u) << xSaid;
    // Once the server has done all asked of it, it has shown every frame.
    EXPECT_NE(xSaid.find("{\"frames\":40,"), std::string::npos) << xSaid;
    EXPECT_NE(xSaid.find(",\"presented\":40,"), std::string::npos) << xSaid;
    // The raw picture, named alone; the PNG, made the user's own by the tool.
    ASSERT_EQ(run(tool + " photo.png").first, 0);
    for (std::string shown : {"DISPLAY= " + program + " --offscreen photo.raw --frames=40 --screenshot=o.png",
                              "DISPLAY= " + program + " --offscreen --frames=40 --screenshot=u.png"}) {
        auto [status, said] = run(shown);
        EXPECT_EQ(status, 0) << shown << ": " << said;
        EXPECT_EQ(said.rfind(glVersionLine(), 0), 0u) << shown << ": " << said;  // no message of the fixed path
    }
    Rgb x = readPng(dir + "/x.png"), o = readPng(dir + "/o.png"), u = readPng(dir + "/u.png");
    EXPECT_EQ(std::vector<int>({x.width, x.height, o.width, o.height, u.width, u.height}),
              std::vector<int>({320, 480, 320, 480, 320, 480}));
    EXPECT_TRUE(x.px == o.px) << "the frames differ";
    EXPECT_TRUE(x.px == u.px) << "the user's own picture is not the one shown";
    ASSERT_EQ(x.px.size(), 320u * 480 * 3);
    // The clear colour's 5-6-5 value, each channel widened by repeating its top bits.
    EXPECT_EQ(std::vector<unsigned char>(x.at(0, 0), x.at(0, 0) + 3), (std::vector<unsigned char>{74, 77, 99}));
    size_t coloured = 0;
    for (size_t i = 0; i + 2 < x.px.size(); i += 3) coloured += x.px[i] != 74 || x.px[i + 1] != 77 || x.px[i + 2] != 99;
    EXPECT_GT(coloured, 10000u) << "no cube in the screenshot";
    // The frame is the same 5-6-5 frame on a screen of any depth; an 8-bit
    // one, with a colour map, is shown none.
    for (int depth : {8, 15, 24, 30}) {
        {
            Xvfb other(depth);
            auto [status, said] = run("WAYLAND_DISPLAY= " + program + " --picture photo.png --frames 40 --screenshot "
                                      "d.png --stats=json");
            EXPECT_EQ(status, 0);
            EXPECT_NE(said.find(depth == 8 ? ",\"presented\":0," : ",\"presented\":40,"), std::string::npos) << said;
        }
        setenv("DISPLAY", server->name().c_str(), 1);
        EXPECT_TRUE(readPng(dir + "/d.png").px == x.px) << "the frame differs on a " << depth << "-bit screen";
    }
    // Never a screenshot over the picture shown, named or through a link.
    std::filesystem::create_symlink("photo.png", dir + "/link.png");
    Rgb before = readPng(dir + "/photo.png");
    for (std::string shot : {"photo.png", "link.png"})
        EXPECT_EQ(run(program + " --offscreen --frames 2 --picture photo.png --screenshot " + shot).first, 2) << shot;
    EXPECT_TRUE(readPng(dir + "/photo.png").px == before.px);
    // A dangling link as the user's own picture is no picture: said, and not
    // the sample instead.
    std::filesystem::remove(dir + "/data/orvanel/tesmor.raw");
    std::filesystem::create_symlink("gone.raw", dir + "/data/orvanel/tesmor.raw");
    std::string said = run("DISPLAY= " + program + " --offscreen --frames 1").second;
    EXPECT_EQ(said.rfind("\nCannot open picture file " + dir + "/data/orvanel/tesmor.raw: No such file or directory" +
                             glVersionLine() + "orvanel: 1 frame shown in ",
                         0),
              0u)
        << said;
    // A picture named that cannot be shown ends the run before anything is drawn.
    auto [badStatus, badSaid] = run("DISPLAY= " + program + " --offscreen --picture missing.png --frames 2");
    EXPECT_EQ(badStatus, 1);
    EXPECT_EQ(badSaid, "orvanel: cannot read missing.png: No such file or directory\n");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace e2e
