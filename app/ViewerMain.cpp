// The window: GLUT set-up and callbacks that forward to the input handler and replay the overlay.
#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/FatalReport.h"
#include "app/InputHandler.h"
#include "app/MillisecondClock.h"
#include "app/Overlay.h"
#include "app/Startup.h"
#include "math/FatalError.h"
#include "render/FrameBuffer.h"
#include "render/Renderer.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>

using namespace Raytracer;

namespace {

static_assert(keyF1 == GLUT_KEY_F1 && keyF2 == GLUT_KEY_F2, "special keys are numbered as GLUT numbers them");

class GlutWindow final : public WindowSystem {
  public:
    void setIdleEnabled(bool enabled) override;
    void postRedisplay() override { glutPostRedisplay(); }
    void warpPointer(int x, int y) override { glutWarpPointer(x, y); }
    void setBlending(bool enabled) override {
        if (enabled) {
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            glEnable(GL_BLEND);
        } else {
            glDisable(GL_BLEND);
        }
    }
    void quit() override { std::exit(0); }
};

AppState app;
GlutWindow window;
InputHandler input(app, window);

// An error inside a callback must not unwind through GLUT's C frames: report it and leave here.
template <class Action> void guarded(Action action) {
    try {
        action();
    } catch (const FatalError& error) {
        std::exit(reportFatal(error));
    }
}

void idle() {
    guarded([] { input.idle(); });
}

void GlutWindow::setIdleEnabled(bool enabled) {
    glutIdleFunc(enabled ? idle : nullptr);
}

void keyboard(unsigned char key, int, int) {
    guarded([key] { input.keyboard(key); });
}

void specialKey(int key, int, int) {
    input.specialKey(key);
}

void mouseButton(int button, int state, int, int) {
    const MouseButton which = button == GLUT_LEFT_BUTTON    ? MouseButton::left
                              : button == GLUT_RIGHT_BUTTON ? MouseButton::right
                                                            : MouseButton::other;
    input.mouseButton(which, state == GLUT_DOWN);
}

void passiveMotion(int x, int y) {
    input.passiveMotion(x, y);
}

void drawText(const OverlayText& text) {
    void* font = text.font == OverlayFont::helvetica10 ? GLUT_BITMAP_HELVETICA_10 : GLUT_BITMAP_HELVETICA_12;
    glRasterPos2f(text.x, text.y);
    for (const char c : text.text) {
        glutBitmapCharacter(font, c);
    }
}

void display() {
    if (!app.renderer->frameReady) {
        return;
    }
    glClear(GL_COLOR_BUFFER_BIT);
    // The raster colour is latched by glRasterPos, so white is current before every position is set.
    glColor3f(1.0f, 1.0f, 1.0f);
    glRasterPos2f(0.0f, 0.0f);
    glDrawPixels(app.imageWidth, app.imageHeight, GL_RGB, GL_FLOAT, app.frameBuffer->pixels());

    const OverlayLayout layout = layoutOverlay(app, clockMilliseconds());
    for (const OverlayText& text : layout.status) {
        drawText(text);
    }
    glRasterPos2f(80.0f, static_cast<float>(app.imageHeight) - 80.0f);
    if (layout.helpPanel) {
        glColor4f(0.2f, 0.2f, 0.2f, 0.8f);
        glBegin(GL_QUADS);
        for (const auto& corner : layout.panel) {
            glVertex2f(corner[0], corner[1]);
        }
        glEnd();
        glColor3f(1.0f, 1.0f, 1.0f);
        for (const OverlayText& text : layout.help) {
            drawText(text);
        }
    }
    glutSwapBuffers();
}

void reshape(int width, int height) {
    if (height == 0) {
        height = 1;
    }
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glScalef(1.0f, 1.0f, 1.0f);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void cleanUp() {
    releaseRenderer(app);
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine(argc, argv, false);
    if (commandLine.outcome == CommandLine::Outcome::help) {
        std::fputs(usageText("lumenbox", false).c_str(), stdout);
        return 0;
    }
    if (commandLine.outcome == CommandLine::Outcome::error) {
        std::fprintf(stderr, "lumenbox: %s (see lumenbox --help)\n", commandLine.error.c_str());
        return usageExitStatus;
    }
    app.apply(commandLine.startup);

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_ALPHA | GLUT_DEPTH);
    glutInitWindowPosition(100, 100);
    glutInitWindowSize(app.imageWidth, app.imageHeight);
    try {
        initialiseRenderer(app);
    } catch (const FatalError& error) {
        releaseRenderer(app);
        return reportFatal(error);
    }
    glutCreateWindow("Lumenbox - Tovarek 2010");
    std::atexit(cleanUp);

    glutKeyboardFunc(keyboard);
    glutSpecialFunc(specialKey);
    glutMouseFunc(mouseButton);
    glutPassiveMotionFunc(passiveMotion);
    glutDisplayFunc(display);
    glutIdleFunc(idle);
    glutReshapeFunc(reshape);
    glutMainLoop();
    // Reached only where the GLUT in use lets its loop return; the exit handler still cleans up once.
    return 0;
}
