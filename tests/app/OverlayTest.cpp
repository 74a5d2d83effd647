#include "app/Overlay.h"

#include "app/AppState.h"
#include "render/FrameBuffer.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "shading/PointLight.h"

#include <gtest/gtest.h>

namespace Raytracer {
namespace {

class OverlayTest : public ::testing::Test {
  protected:
    OverlayTest() : buffer(512, 512), renderer(512, 512, 512, buffer.pixels()) {
        app.renderer = &renderer;
        app.frameBuffer = &buffer;
        light = renderer.scene->create<PointLight>(Vector3(), Color(1, 1, 1));
        renderer.scene->lights.push_back(light);
    }

    // The text drawn at a raster position, or "<none>".
    static std::string textAt(const std::vector<OverlayText>& texts, float x, float y) {
        for (const OverlayText& text : texts) {
            if (text.x == x && text.y == y) {
                return text.text;
            }
        }
        return "<none>";
    }

    FrameBuffer buffer;
    Renderer renderer;
    AppState app;
    PointLight* light;
};

TEST_F(OverlayTest, StatusLinesCarryLabelsAndValues) {
    app.frameStartTicks = 1000;
    renderer.raysCast = 2315520;
    renderer.intersections = 7;
    const OverlayLayout layout = layoutOverlay(app, 1040);
    ASSERT_EQ(10u, layout.status.size());
    for (const OverlayText& text : layout.status) {
        EXPECT_EQ(OverlayFont::helvetica10, text.font);
    }
    EXPECT_EQ("FPS:25.000000", textAt(layout.status, 0, 502));
    EXPECT_EQ("Area Lights Sub Div([,]):16", textAt(layout.status, 100, 502));
    EXPECT_EQ("Trace Depth(-,+):6", textAt(layout.status, 250, 502));
    EXPECT_EQ("Reflection Diff Samples(k,l):8", textAt(layout.status, 360, 502));
    EXPECT_EQ("Rays casted:2315520", textAt(layout.status, 0, 492));
    EXPECT_EQ("Intersections:7", textAt(layout.status, 250, 492));
    EXPECT_EQ("Light (J): Point", textAt(layout.status, 355, 492));
    EXPECT_EQ("AntiAliasing: Off", textAt(layout.status, 0, 482));
    EXPECT_EQ("Robot animation:", textAt(layout.status, 100, 482));
    EXPECT_EQ("Loop", textAt(layout.status, 180, 482));
    EXPECT_FALSE(layout.helpPanel);
    EXPECT_TRUE(layout.help.empty());
}

TEST_F(OverlayTest, RowsHangFromTheImageTopWhateverTheWindowSize) {
    app.imageHeight = 256;
    const OverlayLayout layout = layoutOverlay(app, 5);
    EXPECT_EQ(246.0f, layout.status.front().y);
}

TEST_F(OverlayTest, FrameWithinItsOwnMillisecondReadsAsInfinite) {
    app.frameStartTicks = 500;
    EXPECT_EQ("FPS:inf", textAt(layoutOverlay(app, 500).status, 0, 502));
}

TEST_F(OverlayTest, LightAndAntiAliasingWording) {
    light->type = Light::areaSampling;
    renderer.settings->antiAliasing = true;
    OverlayLayout layout = layoutOverlay(app, 1);
    EXPECT_EQ("Light (J): Area", textAt(layout.status, 355, 492));
    EXPECT_EQ("AntiAliasing: On", textAt(layout.status, 0, 482));
    light->type = Light::sphereSampling;
    EXPECT_EQ("Light (J): Point", textAt(layoutOverlay(app, 1).status, 355, 492));
    renderer.scene->lights.clear();
    EXPECT_EQ("Light (J): None", textAt(layoutOverlay(app, 1).status, 355, 492));
}

TEST_F(OverlayTest, RobotStateWording) {
    RobotState& robot = renderer.robot;
    robot = RobotState{true, true, true, true, false, false};
    EXPECT_EQ("Stoped", textAt(layoutOverlay(app, 1).status, 180, 482));
    robot = RobotState{true, true, true, false, true, false};
    EXPECT_EQ("Crouch", textAt(layoutOverlay(app, 1).status, 180, 482));
    robot = RobotState{true, true, false, false, true, false};
    EXPECT_EQ("Walk", textAt(layoutOverlay(app, 1).status, 180, 482));
    robot = RobotState{false, true, false, false, true, false};
    EXPECT_EQ("Jump", textAt(layoutOverlay(app, 1).status, 180, 482));
    robot = RobotState{false, false, false, false, true, false};
    const OverlayLayout none = layoutOverlay(app, 1);
    EXPECT_EQ("<none>", textAt(none.status, 180, 482));
    EXPECT_EQ(9u, none.status.size());
}

TEST_F(OverlayTest, HelpPanel) {
    app.helpVisible = true;
    const OverlayLayout layout = layoutOverlay(app, 1);
    ASSERT_TRUE(layout.helpPanel);
    EXPECT_EQ(70.0f, layout.panel[0][0]);
    EXPECT_EQ(452.0f, layout.panel[0][1]);
    EXPECT_EQ(440.0f, layout.panel[2][0]);
    EXPECT_EQ(262.0f, layout.panel[2][1]);
    ASSERT_EQ(10u, layout.help.size());
    EXPECT_EQ(OverlayFont::helvetica12, layout.help.front().font);
    EXPECT_EQ("Commands:", textAt(layout.help, 80, 432));
    EXPECT_EQ("Walk->C, Jump->G, Loop ->V, Crouch->B, Stop->H", textAt(layout.help, 120, 412));
    EXPECT_EQ("Moving Light on Y axis->R/T", textAt(layout.help, 100, 302));
    EXPECT_EQ("Anti-aliasing->O", textAt(layout.help, 100, 282));
}

TEST(OverlayText, FormattingIsBoundedToTwelveCharacters) {
    EXPECT_EQ("25.000000", formatOverlayText("%f", 25.0));
    EXPECT_EQ("-1", formatOverlayText("%d", -1));
    EXPECT_EQ("123456789012", formatOverlayText("%s", "1234567890123456"));
}

} // namespace
} // namespace Raytracer
