#include "preview/preview_window.hpp"

#include "show/show_control.hpp"

#include "preview/preview_vertices.hpp"
#include "preview/readout.hpp"

#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace lumarok {

namespace {

constexpr int kWindowSize = 1024;
constexpr double kDrawingExtent = 4096.0;
constexpr unsigned char kEscapeKey = 27;

struct PreviewRun {
    const std::function<void(std::vector<LaserSample>&)>* renderFrame = nullptr;
    const ReadoutFunction* readout = nullptr;
    bool readoutShown = true;
    ShowControl control; // b, + and -: the light as live control sets it
    // Frames per second over the last whole second, for the readout.
    double framesPerSecond = 0.0;
    std::uint64_t framesAtRateStart = 0;
    std::chrono::steady_clock::time_point rateStart;
    std::chrono::steady_clock::time_point nextFrameDue;
    std::vector<LaserSample> samples;
    std::vector<PreviewVertex> vertices;
    std::exception_ptr failure;
    std::uint64_t frames = 0;
    std::chrono::steady_clock::time_point firstFrame;
    std::chrono::steady_clock::time_point lastFrame;
};

// freeglut callbacks carry no user pointer, so the running preview is reached
// through this; set only while runPreview is inside the event loop.
PreviewRun* gPreviewRun = nullptr;

void reshape(int width, int height) {
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // Bottom 4096, top 0: y grows downward as in the drawing space. The
    // aspect ratio is not kept; a non-square window stretches the picture.
    glOrtho(0.0, kDrawingExtent, kDrawingExtent, 0.0, -1.0, 1.0);
}

void drawSegments(const std::vector<PreviewVertex>& vertices) {
    glClear(GL_COLOR_BUFFER_BIT);
    // Additive: overlapping strokes brighten, black blank moves leave no trace.
    glBlendFunc(GL_ONE, GL_ONE);
    glEnable(GL_BLEND);
    glBegin(GL_LINES);
    for (const PreviewVertex& v : vertices) {
        glColor3f(v.r, v.g, v.b);
        glVertex2f(v.x, v.y);
    }
    glEnd();
}

void countRate(PreviewRun& run, std::chrono::steady_clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - run.rateStart).count();
    if (seconds >= 1.0) {
        run.framesPerSecond = static_cast<double>(run.frames - run.framesAtRateStart) / seconds;
        run.framesAtRateStart = run.frames;
        run.rateStart = now;
    }
}

void dim(std::vector<LaserSample>& samples, float scale) {
    if (scale >= 1.0f) {
        return;
    }
    for (LaserSample& s : samples) {
        s.r = static_cast<std::uint16_t>(static_cast<float>(s.r) * scale);
        s.g = static_cast<std::uint16_t>(static_cast<float>(s.g) * scale);
        s.b = static_cast<std::uint16_t>(static_cast<float>(s.b) * scale);
    }
}

// One key of live control; the change is told as control's changes are.
void control(PreviewRun& run, unsigned char key) {
    ControlCommand command;
    if (key == 'b' || key == 'B') {
        command.kind = ControlCommand::Kind::blackout;
        command.on = !run.control.blackout();
    } else {
        command.kind = ControlCommand::Kind::intensity;
        const float step = key == '-' ? -ShowControl::kLevelStep : ShowControl::kLevelStep;
        command.percent = run.control.level() + step;
    }
    const std::string line = run.control.apply(command);
    if (!line.empty()) {
        std::fprintf(stderr, "lumarok: %s (preview key %c)\n", line.c_str(), key);
    }
}

void display() {
    PreviewRun* run = gPreviewRun;
    if (run == nullptr || run->failure) {
        return;
    }
    try {
        // The frame is computed before any GL call so that a failure leaves
        // no glBegin open.
        (*run->renderFrame)(run->samples);
        dim(run->samples, run->control.scaleFor({}, {}));
        buildPreviewSegments(run->samples, run->vertices);
        if (run->readout != nullptr && *run->readout && run->readoutShown) {
            appendReadoutSegments((*run->readout)(run->framesPerSecond), run->vertices);
        }
        drawSegments(run->vertices);
        glutSwapBuffers();
        const auto now = std::chrono::steady_clock::now();
        if (run->frames == 0) {
            run->firstFrame = now;
            run->rateStart = now;
            run->nextFrameDue = now;
        }
        run->lastFrame = now;
        ++run->frames;
        countRate(*run, now);
        // Without vsync the window would redraw as fast as the CPU allows; the
        // cap keeps it to a steady rate and leaves the core to the rest.
        run->nextFrameDue += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / kPreviewFrameCap));
        if (run->nextFrameDue < now) {
            run->nextFrameDue = now; // a slow frame does not earn a burst afterwards
        }
        std::this_thread::sleep_until(run->nextFrameDue);
        glutPostRedisplay();
    } catch (...) {
        // Never let an exception unwind through freeglut's C frames.
        run->failure = std::current_exception();
        glutLeaveMainLoop();
    }
}

void keyboard(unsigned char key, int /*x*/, int /*y*/) {
    if (key == kEscapeKey || key == 'q' || key == 'Q') {
        glutLeaveMainLoop();
    } else if ((key == 'h' || key == 'H') && gPreviewRun != nullptr) {
        gPreviewRun->readoutShown = !gPreviewRun->readoutShown;
    } else if ((key == 'b' || key == 'B' || key == '+' || key == '=' || key == '-') &&
               gPreviewRun != nullptr) {
        control(*gPreviewRun, key);
    }
}

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayConnection = std::unique_ptr<Display, DisplayCloser>;

// glutInit would end the process when it cannot open the display; look first.
// freeglut takes the display from a "-display NAME" argument before DISPLAY.
// The connection is returned so the caller can hold it until freeglut has its
// own: a server that resets when its last client leaves (Xvfb's default)
// would otherwise refuse freeglut's connection during that reset.
DisplayConnection requireDisplay(int argc, char** argv) {
    const char* name = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-display") == 0) {
            name = argv[i + 1];
            break;
        }
    }
    if (name == nullptr) {
        name = std::getenv("DISPLAY");
    }
    if (name == nullptr || *name == '\0') {
        throw std::runtime_error(
            "no X display for the preview window (DISPLAY is not set; try xvfb-run)");
    }
    DisplayConnection display(XOpenDisplay(name));
    if (!display) {
        throw std::runtime_error(std::string("cannot open X display \"") + name +
                                 "\" for the preview window");
    }
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (XQueryExtension(display.get(), "GLX", &opcode, &event, &error) == 0) {
        throw std::runtime_error(std::string("X display \"") + name +
                                 "\" has no OpenGL (GLX) for the preview window");
    }
    return display;
}

void printStats(const PreviewRun& run) {
    const double seconds = std::chrono::duration<double>(run.lastFrame - run.firstFrame).count();
    // Rate over the intervals between the first and the last frame, so window
    // creation does not count.
    const double rate =
        (run.frames > 1 && seconds > 0.0) ? static_cast<double>(run.frames - 1) / seconds : 0.0;
    std::fprintf(stderr, "preview: %llu frames in %.3f s, %.1f frames/s\n",
                 static_cast<unsigned long long>(run.frames), seconds, rate);
}

class ActivePreview {
public:
    explicit ActivePreview(PreviewRun& run) { gPreviewRun = &run; }
    ~ActivePreview() { gPreviewRun = nullptr; }
    ActivePreview(const ActivePreview&) = delete;
    ActivePreview& operator=(const ActivePreview&) = delete;
};

} // namespace

int runPreview(int& argc, char** argv,
               const std::function<void(std::vector<LaserSample>&)>& renderFrame,
               const ReadoutFunction& readout, bool reportRate) {
    if (gPreviewRun != nullptr) {
        throw std::logic_error("the preview window is already running");
    }
    DisplayConnection checked = requireDisplay(argc, argv);

    PreviewRun run;
    run.renderFrame = &renderFrame;
    run.readout = &readout;
    const ActivePreview active(run);

    glutInit(&argc, argv);
    // Closing the window returns from the event loop instead of ending the
    // process, so the caller's shutdown joins its threads.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGB);
    glutInitWindowSize(kWindowSize, kWindowSize);
    // Without a window manager the default position is (-1, -1).
    glutInitWindowPosition(0, 0);
    glutCreateWindow("single triangle");
    checked.reset();
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutKeyboardFunc(keyboard);
    glutMainLoop();

    if (reportRate) {
        printStats(run);
    }
    if (run.failure) {
        std::rethrow_exception(run.failure);
    }
    return 0;
}

} // namespace lumarok
