#include "app/CommandLine.h"
#include "app/FrameFileName.h"
#include "app/FrameStatistics.h"
#include "app/InputHandler.h"
#include "app/Overlay.h"
#include "app/ProgressLine.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "shading/PointLight.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace Raytracer {
namespace {

// A renderer (never rendering) over an empty scene with one point light, start values apart from the
// defaults and the view turned away from its default, and a window that records the idle callback.
struct Rig final : WindowSystem {
    Rig() {
        app.renderer = &renderer;
        app.apply({.startAreaLightSubdivisions = 4, .startTraceDepth = 3, .startReflectionSamples = 2});
        app.cameraYaw = app.cameraPitch = 0.0f;
        renderer.scene->lights.push_back(light);
        renderer.animating = renderer.viewChanged = false;
    }

    // Presses each key; characters below Escape (27) stand for the special key of that number (2 is F2).
    void press(const std::string& keys) {
        for (const char key : keys) {
            key < 27 ? input.specialKey(key) : input.keyboard(static_cast<unsigned char>(key));
        }
    }

    // Every observable the keys act on, one ';'-terminated entry each.
    std::string state() const {
        const RenderSettings& s = *renderer.settings;
        const Vector3& eye = renderer.camera.position;
        char line[300];
        std::snprintf(
            line, sizeof line,
            "depth %d;area %d;samples %d;aa %d;light %d at %.1f %.1f;camera %.2f %.2f %.2f;view %.2f "
            "%.2f;robot %s;reset %d;animating %d;redraw %d;idle %s;",
            s.traceDepth, s.areaLightSubdivisions, s.reflectionSamples, s.antiAliasing, light->type,
            light->position.x, light->position.z, eye.x, eye.y, eye.z, app.cameraYaw, app.cameraPitch,
            robotStateName(renderer.robot), renderer.robot.resetAnimation, renderer.animating,
            renderer.viewChanged, idle.c_str());
        return line;
    }

    void setIdleEnabled(bool enabled) override { idle = enabled ? "on" : "off"; }
    void postRedisplay() override {}
    void warpPointer(int, int) override {}
    void setBlending(bool) override {}
    void quit() override {}

    std::string idle = "untouched";
    Color pixel;
    Renderer renderer{64, 64, 64, &pixel};
    PointLight* light = renderer.scene->create<PointLight>(Vector3(1, 10, 2), Color(1, 1, 1));
    AppState app;
    InputHandler input{app, *this};
};

// Each row presses its keys on a fresh rig and lists what differs from the rig's start.
TEST(InputHandler, KeysAndTheirEffects) {
    const struct {
        std::string keys;
        std::string changes;
    } rows[] = {
        {"+++++" + std::string(241, ']') + std::string(121, 'l'),
         "depth 10, area 256, samples 128, redraw 1, idle on"},
        {"------" + std::string(16, '[') + std::string(8, 'k'),
         "depth 1, area 1, samples 1, redraw 1, idle on"},
        {"oj", "aa 1, light 2 at 1.0 2.0, redraw 1, idle on"},
        {"oojj", "redraw 1, idle on"},
        {"yyutsa", "light 1 at 1.3 2.3, camera 6.70 12.75 -18.25, redraw 1, idle on"},
        {"rwwd", "light 1 at 1.0 1.7, camera 7.30 13.65 -18.25, redraw 1, idle on"},
        {"c", "robot Walk, animating 1, idle on"},
        {"b", "robot Crouch, animating 1, idle on"},
        // Jump only arms the state.
        {"g", "robot Jump"},
        {"cv", "animating 1, redraw 1, idle on"},
        {"h", "robot Stoped, idle off"},
        // Upper case does nothing, nor does loop while looping.
        {"WSADOJYUTRCGBVHLKv", ""},
        {"+]lojyw\2",
         "depth 3, area 4, samples 2, aa 1, light 1 at 1.3 2.0, view -0.43 0.33, reset 1, animating 1, "
         "redraw 1, idle on"},
    };
    for (const auto& row : rows) {
        Rig rig;
        std::istringstream before(rig.state());
        rig.press(row.keys);
        std::istringstream after(rig.state());
        std::string changes;
        for (std::string was, is; std::getline(before, was, ';') && std::getline(after, is, ';');) {
            if (is != was) {
                changes += (changes.empty() ? "" : ", ") + is;
            }
        }
        EXPECT_EQ(row.changes, changes) << "keys " << row.keys.substr(0, 12);
    }
    // Holding the right button flies forward along the view, the left one backward.
    Rig rig;
    rig.input.mouseButton(MouseButton::right, true);
    EXPECT_EQ(0.6f, rig.app.moveSpeed);
    rig.input.mouseButton(MouseButton::left, true);
    EXPECT_EQ(-0.6f, rig.app.moveSpeed);
}

// Each text as "x y text|"; rows hang from the top of the 512-pixel image.
std::string lines(const std::vector<OverlayText>& texts) {
    std::string out;
    for (const OverlayText& t : texts) {
        out += std::to_string(static_cast<int>(t.x)) + " " + std::to_string(static_cast<int>(t.y)) + " " +
               t.text + "|";
    }
    return out;
}

TEST(Overlay, TextsOfAKnownState) {
    Rig rig;
    rig.press("ojc");
    rig.renderer.raysCast = 2315520;
    rig.renderer.intersections = 7;
    rig.app.frameStartTicks = 1000;
    const OverlayLayout layout = layoutOverlay(rig.app, 1040);
    EXPECT_EQ("0 502 FPS:25.000000|100 502 Area Lights Sub Div([,]):16|250 502 Trace Depth(-,+):6|"
              "360 502 Reflection Diff Samples(k,l):8|0 492 Rays casted:2315520|250 492 Intersections:7|"
              "355 492 Light (J): Area|0 482 AntiAliasing: On|100 482 Robot animation:|180 482 Walk|",
              lines(layout.status));
    // Without lights the light keys have nothing to name.
    rig.renderer.scene->lights.clear();
    EXPECT_NE(std::string::npos, lines(layoutOverlay(rig.app, 1040).status).find("355 492 Light (J): None|"));
}

// "size bucket subdivisions depth samples arealight antialiasing, frames 'keys' 'out' stats 'directory'".
std::string parsed(std::vector<const char*> args, bool headless) {
    args.insert(args.begin(), "lumenbox");
    const CommandLine c = parseCommandLine(static_cast<int>(args.size()), args.data(), headless);
    const StartupSettings& s = c.startup;
    char text[200];
    std::snprintf(text, sizeof text, "%d %d %d %d %d %d %d, %d '%s' '%s' %d '%s'", s.imageSize, s.bucketSize,
                  s.startAreaLightSubdivisions, s.startTraceDepth, s.startReflectionSamples,
                  s.startWithAreaLight, s.startWithAntiAliasing, c.headless.frames, c.headless.keys.c_str(),
                  c.headless.out.c_str(), c.headless.stats, s.sceneDirectory.c_str());
    return c.outcome == CommandLine::Outcome::run    ? std::string(text)
           : c.outcome == CommandLine::Outcome::help ? "help"
                                                     : "error: " + c.error;
}

// The first argument is read by nobody, numbers are read as atoi reads them (clamped to the int range),
// only exactly 1 switches on, and options are taken out before the eight positions are counted.
TEST(CommandLine, AcceptedForms) {
    // 65536 buckets, the most allowed; missing trailing arguments keep their defaults.
    EXPECT_EQ("4096 16 16 6 8 0 0, 1 '' '' 0 'meshes/'", parsed({"x", "4096", "16"}, true));
    EXPECT_EQ("64 16 0 12 2147483647 0 1, 1 '' '' 0 'meshes/'",
              parsed({"x", " +64.9", "16", "abc", "12abc", "99999999999999999999", "2", "01x"}, true));
    EXPECT_EQ("64 4 16 6 8 0 0, 100000000 'oj+' 'f.png' 1 'copy/'",
              parsed({"--frames=100000000", "x", "--keys", "oj+", "64", "--stats", "--out=f.png", "4",
                      "--meshes", "copy"},
                     true));
    EXPECT_EQ("512 16 16 6 8 0 0, 3 '' 'a.ppm' 0 '/tmp/s/'",
              parsed({"--frames", "3", "--keys=", "--out", "a.ppm", "--meshes=/tmp/s/"}, true));
    EXPECT_EQ("help", parsed({"x", "64", "--help"}, true));
    EXPECT_EQ("error: --keys-at needs FRAME:KEYS, FRAME a whole number from 1 to 100000000 (got \"0:c\")",
              parsed({"--keys-at", "0:c"}, true));
    EXPECT_EQ("error: --keys-at needs FRAME:KEYS, FRAME a whole number from 1 to 100000000 (got \"c\")",
              parsed({"--keys-at=c"}, true));
    // The viewer takes no option other than --meshes and --help.
    EXPECT_EQ("64 16 16 6 8 0 0, 1 '' '' 0 'copy/'", parsed({"x", "64", "--meshes=copy"}, false));
    EXPECT_EQ("error: --meshes needs a directory", parsed({"--meshes="}, false));
    EXPECT_EQ("error: unknown option --stats", parsed({"--stats"}, false));
}

// Rates of 5, 10, 6 and 8 Mrays/s; an even count takes the mean of the middle two.
TEST(FrameStatistics, LinesAndMedians) {
    FrameStatistics statistics;
    statistics.add(400.0, 2000000);
    statistics.add(100.0, 1000000);
    statistics.add(200.0, 1200000);
    EXPECT_EQ("median: 200.0 ms, 6.00 Mrays/s over 3 frames", statistics.medianLine());
    statistics.add(300.0, 2400000);
    EXPECT_EQ("median: 250.0 ms, 7.00 Mrays/s over 4 frames", statistics.medianLine());
}

// Frame 7 and frame 12345 of each pattern, or why it is refused.
TEST(FrameFileName, PatternsAndRefusals) {
    const struct {
        const char* pattern;
        const char* named;
    } cases[] = {
        {"frames/%04d.png", "frames/0007.png frames/12345.png"},
        {"%d", "7 12345"},
        {"run%%-%03d.ppm", "run%-007.ppm run%-12345.ppm"},
        {"100%%.png", "100%.png 100%.png"},
        {"%09d.png", "000000007.png 000012345.png"},
        {"%s.png", "a % in the file name must begin %d, %0Nd (N from 1 to 9) or %%"},
        {"%4d.png", "a % in the file name must begin %d, %0Nd (N from 1 to 9) or %%"},
        {"%010d.png", "a % in the file name must begin %d, %0Nd (N from 1 to 9) or %%"},
        {"frame%", "a % in the file name must begin %d, %0Nd (N from 1 to 9) or %%"},
        {"%d/%d.png", "the file name holds more than one frame number"},
    };
    for (const auto& c : cases) {
        const std::string problem = FrameFileName::problem(c.pattern);
        const FrameFileName name(problem.empty() ? c.pattern : "");
        EXPECT_EQ(c.named, problem.empty() ? name.forFrame(7) + " " + name.forFrame(12345) : problem)
            << c.pattern;
    }
}

// Nothing before two seconds, at most four lines a second, none after the last frame, and a clear at the
// end only when something was shown.
TEST(ProgressLine, WhenAndWhat) {
    ProgressLine progress(100);
    EXPECT_EQ("", progress.finish());
    EXPECT_EQ("", progress.update(5, 1.9));
    EXPECT_EQ("\rframe 8 of 100, 4.0 frames/s, 23 s left\x1b[K", progress.update(8, 2.0));
    EXPECT_EQ("", progress.update(9, 2.2));
    EXPECT_EQ("\rframe 12 of 100, 4.0 frames/s, 22 s left\x1b[K", progress.update(12, 3.0));
    EXPECT_EQ("\rframe 20 of 100, 0.2 frames/s, 6 min 40 s left\x1b[K", progress.update(20, 100.0));
    EXPECT_EQ("\rframe 21 of 100, 0.0 frames/s, 1 h 02 min left\x1b[K", progress.update(21, 1000.0));
    EXPECT_EQ("", progress.update(100, 2000.0));
    EXPECT_EQ("\r\x1b[K", progress.finish());
}

} // namespace
} // namespace Raytracer
