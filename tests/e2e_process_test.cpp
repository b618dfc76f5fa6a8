// SPDX-License-Identifier: MIT
// The process: what it runs on and says, signals, a lost display, keys and drags.
#include "EndToEndFrames.h"

namespace e2e {
namespace {

// An unusable picture at the fixed path is reported and the cube is drawn
// without it (black: the texture is zeros); with nothing there at all, the
// sample installed beside the program is shown, also to an ordinary user.
// With no standard output, or an environment that asks EGL for another
// platform, the frames reach the X screen all the same.
TEST_F(EndToEnd, RunsOnWhateverItMeetsAndSaysWhatItShows) {
    auto sampleAt = [](const std::string& path) {
        return "\nCannot open picture file /private/var/tesmor.raw: No such file or directory"
               "\nShowing the sample picture " + path + " instead\n" + glVersionLine();
    };
    const std::string sample = sampleAt(SAMPLE_PICTURE);
    // Another user runs a copy it can reach, with the sample beside it.
    const std::string reachableSample =
        geteuid() == 0 ? sampleAt(reachableProgram().substr(0, gReachable.size()) + "/share/orvanel/tesmor.raw")
                       : sample;
    struct Case {
        How how;
        std::string said;
        bool textured;
    } cases[] = {
        {{.pictureAtPath = true},
         "\nPicture file /private/var/tesmor.raw is short: read 0 of 49152 bytes" + glVersionLine(), false},
        {{.pictureAtPath = false, .unprivileged = true}, reachableSample, true},
        {{.pictureAtPath = false, .closedAtStart = 1}, "", true},
        {{.pictureAtPath = false, .closedAtStart = 0}, sample, true},
        {{.pictureAtPath = false, .closedAtStart = 2}, sample, true},
        {{.pictureAtPath = false, .env = {"EGL_PLATFORM=surfaceless"}}, sample, true},
        {{.pictureAtPath = false, .env = {"EGL_PLATFORM=wayland"}}, sample, true},
        {{.pictureAtPath = false, .readerGone = true}, "", true},
        // The compositor named is gone: X, as DISPLAY says.
        {{.pictureAtPath = false, .env = {"XDG_RUNTIME_DIR=/tmp", "WAYLAND_DISPLAY=orvanel-gone"}}, sample, true},
        // A server whose segments at our ids are not ours (last: it stays).
        {{.pictureAtPath = false, .ownIpc = true}, sample, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        if (c.how.ownIpc) server.reset(), server = serverWithDecoySegments();
        Demo demo({}, c.how);  // an empty file, or none
        EXPECT_TRUE(waitForFrame());
        std::vector<uint16_t> px = grab().px;
        size_t coloured = px.size() - std::count(px.begin(), px.end(), kClear) - std::count(px.begin(), px.end(), 0);
        EXPECT_EQ(coloured > 5000, c.textured) << coloured;
        if (c.how.closedAtStart >= 0) {  // the null device is there, not its X connection
            struct stat fd {}, null {};
            stat(("/proc/" + std::to_string(demo.pid) + "/fd/" + std::to_string(c.how.closedAtStart)).c_str(), &fd);
            stat("/dev/null", &null);
            EXPECT_TRUE(S_ISCHR(fd.st_mode) && fd.st_rdev == null.st_rdev);
        }
        EXPECT_TRUE(endsCleanly(demo.pid, SIGINT));
        EXPECT_EQ(demo.said(), c.said);  // nothing read where no one reads
    }
}

TEST_F(EndToEnd, LosingTheDisplayEndsTheDemoWithinASecondAndSaysSo) {
    Demo demo(std::vector<uint8_t>(128 * 128 * 3, 90));
    ASSERT_TRUE(waitForFrame());
    std::string expected = glVersionLine() + "display connection lost\n";  // asked while there is a display
    server->kill();
    EXPECT_TRUE(ends(demo.pid, W_EXITCODE(1, 0), 0, 1s)) << "the display gone";
    // Each line is out as soon as it is finished.
    EXPECT_EQ(demo.said(), expected);
}

TEST_F(EndToEnd, SigintOrSigtermAtAnyInstantEndsItWithStatusZeroAndLinesAreNeverLost) {
    // At once and 1, 10, 30 and 60 ms after its own code has started (the
    // moment it catches SIGTERM: before that the dynamic loader is still
    // loading its libraries, and orvanel(6) says a signal then ends it as
    // the signal's default does), then twice back to back (as timeout(1)
    // sends it) once it draws.
    for (int ms : {0, 1, 10, 30, 60, 400, 400, 400}) {
        Demo demo({}, {.pictureAtPath = false});
        EXPECT_TRUE(catches(demo.pid, SIGTERM)) << "SIGTERM never caught";
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        if (ms > 100) kill(demo.pid, SIGTERM);
        EXPECT_TRUE(endsCleanly(demo.pid, SIGTERM, 3s)) << ms << " ms";
    }
    // Asked for the summary and a screenshot: a hang-up, or a SIGALRM sent
    // from outside, ends it as SIGTERM does, with both delivered. An X server
    // that does not answer does not hold it, and what it could not deliver is
    // said. Either way the log holds every finished line.
    std::string folder = newFolder("shots");
    for (int sig : {SIGHUP, SIGALRM, SIGTERM}) {
        std::string shot = folder + "/" + std::to_string(sig) + ".png";
        Demo demo({}, {.pictureAtPath = false, .args = {"--stats=json", "--screenshot", shot}});
        ASSERT_TRUE(waitForFrame());
        bool stopped = sig == SIGTERM;
        auto first = std::chrono::steady_clock::now();
        if (stopped) {
            kill(server->pid(), SIGSTOP);
            std::this_thread::sleep_for(100ms);
            // Signals that follow within the second do not put its end off:
            // it ends about a second after the first, not after the last.
            first = std::chrono::steady_clock::now();
            for (auto after : {0ms, 800ms}) std::this_thread::sleep_for(after), kill(demo.pid, SIGTERM);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(first + 1600ms -
                                                                          std::chrono::steady_clock::now());
        EXPECT_TRUE(stopped ? ends(demo.pid, W_EXITCODE(1, 0), 0, left) : endsCleanly(demo.pid, sig)) << sig;
        kill(server->pid(), SIGCONT);
        EXPECT_EQ(std::filesystem::exists(shot), !stopped) << sig;
        std::string said = demo.said();
        EXPECT_NE(said.find(glVersionLine()), std::string::npos) << "a finished line was lost";
        EXPECT_NE(said.find(stopped ? "orvanel: the display server stopped answering; not delivered: the --stats "
                                      "summary, the screenshot\n"
                                    : "\n{\"frames\":"),
                  std::string::npos)
            << said;
        // Its frames wait for the server there: the shared memory it was
        // making them goes with it, once the server has let go of it too.
        auto segmentsLeft = [&] {
            std::ifstream segments("/proc/sysvipc/shm");
            segments.ignore(1 << 16, '\n');  // the heading
            int left = 0;
            for (long key, id, perms, size, creator; segments >> key >> id >> perms >> size >> creator;
                 segments.ignore(1 << 16, '\n'))
                left += creator == demo.pid;
            return left;
        };
        EXPECT_TRUE(waitUntil([&] { return segmentsLeft() == 0; })) << segmentsLeft() << " segments left behind";
    }
    std::filesystem::remove_all(folder);
    // A bounded run ends when its end is due, with the server stopped before
    // it starts or during the run, saying what it could not deliver.
    for (bool before : {true, false}) {
        if (before) kill(server->pid(), SIGSTOP);
        Demo demo({}, {.pictureAtPath = false, .args = {"--duration", "3"}});
        if (!before) {
            ASSERT_TRUE(waitForFrame());
            kill(server->pid(), SIGSTOP);
        }
        EXPECT_TRUE(ends(demo.pid, W_EXITCODE(1, 0), 0, 5s)) << (before ? "stopped before" : "stopped during");
        kill(server->pid(), SIGCONT);
        EXPECT_NE(demo.said().find(before ? "(no answer within 3 s)" : "not delivered: the closing line\n"),
                  std::string::npos);
    }
}

// The closing keys are read from the active layout: with "us,ru" and the
// Russian group active, the key at q's place does not close it, and Alt-q
// never does; with the US group, q does.
TEST_F(EndToEnd, QuitKeysFollowTheActiveLayoutAndIgnoreDesktopShortcuts) {
    Client x;
    if (std::system(("setxkbmap -display " + server->name() + " -layout us,ru 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "setxkbmap (x11-xkb-utils) cannot set the layout";
    for (bool us : {false, true}) {
        Demo demo({}, {.pictureAtPath = false});
        ASSERT_TRUE(waitForFrame());
        XSetInputFocus(x.dpy, x.window(), RevertToParent, CurrentTime);
        if (us) {
            x.keys({XK_q});
            EXPECT_TRUE(endsCleanly(demo.pid, 0, 1s)) << "q in the US group";
        } else {
            XkbLockGroup(x.dpy, XkbUseCoreKbd, 1);
            x.keys({XK_q});
            x.keys({XK_Alt_L, XK_q});
            XkbLockGroup(x.dpy, XkbUseCoreKbd, 0);
            x.keys({XK_Alt_L, XK_q});
            x.keys({XK_Super_L, XK_q});
            EXPECT_FALSE(endsWithin(demo.pid, 500ms)) << "closed by a key that is not q, or by Alt-q or Super-q";
        }
    }
}

TEST_F(EndToEnd, DragsPanZoomAndADoubleClickPutsTheCameraBack) {
    Demo demo(std::vector<uint8_t>(128 * 128 * 3, 200));
    ASSERT_TRUE(waitForFrame());
    Client pointer;
    Blob start = measure();
    EXPECT_NEAR(start.x, 160, 12);

    // Right button: 100 pixels right pans one unit, which at distance 7 is
    // 3.2167604 / 7 x 160 = 73.5 pixels on screen.
    pointer.drag(3, 100, 240, 200, 240);
    Blob panned = measure();
    EXPECT_NEAR(panned.x - start.x, 73.5, 12);
    EXPECT_NEAR(panned.y, start.y, 12);

    // Middle button: +300 in x and -460 in y zoom out by (0.75 + 1.15) x 4,
    // from distance 7 to 14.6: the cube shrinks to about 0.48 of its size.
    pointer.drag(2, 10, 470, 310, 10);
    Blob zoomed = measure();
    EXPECT_NEAR(zoomed.radius / start.radius, 0.5, 0.2);

    // A double click: the starting pose again.
    pointer.click(160, 240);
    pointer.click(160, 240);
    Blob back = measure();
    EXPECT_NEAR(back.x, 160, 12);
    EXPECT_GT(back.radius / start.radius, 0.8);
    EXPECT_LT(back.radius / start.radius, 1.25);

    EXPECT_TRUE(endsCleanly(demo.pid, SIGTERM));
}

}  // namespace
}  // namespace e2e
