// lumenbox-render: the viewer's frames without a window, written to an image, with timings on request.
#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/FatalReport.h"
#include "app/FrameFileName.h"
#include "app/FrameStatistics.h"
#include "app/HeadlessWindow.h"
#include "app/InputHandler.h"
#include "app/ProgressLine.h"
#include "app/Startup.h"
#include "math/FatalError.h"
#include "render/FrameBuffer.h"
#include "render/FrameDigest.h"
#include "render/ImageWriter.h"
#include "render/Renderer.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

using namespace Raytracer;

namespace {

void sendKeys(InputHandler& input, const std::string& keys) {
    for (const char key : keys) {
        input.keyboard(static_cast<unsigned char>(key));
    }
}

int run(AppState& app, const HeadlessOptions& options) {
    initialiseRenderer(app);
    HeadlessWindow window;
    InputHandler input(app, window);
    sendKeys(input, options.keys);

    FrameStatistics statistics;
    const FrameFileName out(options.out);
    // Progress goes only to a terminal: scripts and pipes see exactly the lines they always saw.
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    ProgressLine progress(options.frames);
    const auto runStart = std::chrono::steady_clock::now();
    Renderer& renderer = *app.renderer;
    for (int frame = 0; frame < options.frames; ++frame) {
        for (const TimedKeys& timed : options.timedKeys) {
            if (timed.frame == frame + 1) {
                sendKeys(input, timed.keys);
            }
        }
        input.updateCamera();
        // Every requested frame is rendered, also after keys that stopped the animation.
        renderer.viewChanged = true;
        const auto start = std::chrono::steady_clock::now();
        renderer.renderFrame();
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        if (options.stats) {
            statistics.add(elapsed.count(), renderer.raysCast);
            std::printf("%s\n", statistics.lastFrameLine().c_str());
            std::fflush(stdout);
        }
        if (options.digest) {
            std::printf("frame %d digest %s\n", frame + 1, digestText(frameDigest(*app.frameBuffer)).c_str());
        }
        if (out.numbered()) {
            writeImage(*app.frameBuffer, out.forFrame(frame + 1));
        }
        if (showProgress) {
            const std::chrono::duration<double> sinceStart = std::chrono::steady_clock::now() - runStart;
            std::fputs(progress.update(frame + 1, sinceStart.count()).c_str(), stderr);
        }
    }
    if (showProgress) {
        std::fputs(progress.finish().c_str(), stderr);
    }
    if (options.stats) {
        std::printf("%s\n", statistics.medianLine().c_str());
    }
    if (!options.out.empty() && !out.numbered()) {
        writeImage(*app.frameBuffer, out.forFrame(options.frames));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine(argc, argv, true);
    if (commandLine.outcome == CommandLine::Outcome::help) {
        std::fputs(usageText("lumenbox-render", true).c_str(), stdout);
        return 0;
    }
    if (commandLine.outcome == CommandLine::Outcome::error) {
        std::fprintf(stderr, "lumenbox-render: %s (see lumenbox-render --help)\n", commandLine.error.c_str());
        return usageExitStatus;
    }
    AppState app;
    app.apply(commandLine.startup);
    int status = 0;
    try {
        status = run(app, commandLine.headless);
    } catch (const FatalError& error) {
        status = reportFatal(error);
    }
    releaseRenderer(app);
    return status;
}
