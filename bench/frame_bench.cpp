// Reading, compiling and drawing the max-size mesh in a real GLUT window with Mesa's software
// OpenGL, against a frame that walks the arrays in immediate mode. Starts its own Xvfb when no
// display can be opened.
#include "bench/bench_support.h"
#include "view/read_res.h"
#include "view/viewer.h"

#include "tests/support/x_session.h"

#include <GL/freeglut.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{

void BM_read(benchmark::State &state)
{
    for (auto _ : state)
        vs.mesh = read_res(1);
}

// Reads the file and compiles its list, freeing the old one, as every reloading key does.
void BM_reload(benchmark::State &state)
{
    for (auto _ : state) {
        reload_mesh();
        glFinish();
    }
}

void BM_frame(benchmark::State &state)
{
    reload_mesh();
    for (auto _ : state) {
        display();
        glFinish();
    }
}

// The same picture drawn by walking the arrays with the same calls, every frame.
void BM_frame_immediate(benchmark::State &state)
{
    const Mesh &m = vs.mesh;
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glPushMatrix();
        glTranslatef(vs.tx, vs.ty, vs.tz);
        glRotatef(vs.rot_x, 1.0f, 0.0f, 0.0f);
        glRotatef(vs.rot_y, 0.0f, 1.0f, 0.0f);
        for (int e = 0; e < m.nele; ++e) {
            glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
            glBegin(GL_LINE_LOOP);
            for (int j = 0; j < 3; ++j)
                glVertex3f((GLfloat)m.x[m.ele[e][j]], (GLfloat)m.y[m.ele[e][j]], 0.0f);
            glEnd();
        }
        for (int i = 0; i < m.np; ++i) {
            glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
            glBegin(GL_POINTS);
            glVertex3f((GLfloat)m.x[i], (GLfloat)m.y[i], 0.0f);
            glEnd();
        }
        glPopMatrix();
        glutSwapBuffers();
        glFinish();
    }
}

void BM_frame_empty(benchmark::State &state)
{
    GLuint empty = glGenLists(1);
    glNewList(empty, GL_COMPILE);
    glEndList();
    GLuint keep = vs.list_id;
    vs.list_id = empty;
    for (auto _ : state) {
        display();
        glFinish();
    }
    vs.list_id = keep;
    glDeleteLists(empty, 1);
}

// What a key press costs before its picture is on the screen: reload, then the next frame.
void BM_reload_and_frame(benchmark::State &state)
{
    for (auto _ : state) {
        reload_mesh();
        display();
        glFinish();
    }
}

} // namespace

BENCHMARK(BM_read)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_reload)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_frame)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_frame_immediate)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_frame_empty)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_reload_and_frame)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

int main(int argc, char **argv)
{
    XServer server;
    Display *probe = std::getenv("DISPLAY") ? XOpenDisplay(nullptr) : nullptr;
    if (probe)
        XCloseDisplay(probe);
    else if (!start_xvfb(&server))
        return 1;
    TempDir dir;
    write_max_size_file(dir.path);
    if (chdir(dir.path.c_str()) != 0)
        return 1;

    // The viewer's own window and GL state; frames are drawn by the benchmarks alone.
    int gargc = 1;
    char name[] = "frame_bench";
    char *gargv[] = {name, nullptr};
    open_window(&gargc, gargv);
    glutDisplayFunc([] {});
    init_gl_state();
    reshape(300, 300);
    for (int i = 0; i < 10; ++i)
        glutMainLoopEvent(); // map the window
    std::printf("renderer: %s\n", (const char *)glGetString(GL_RENDERER));

    benchmark::Initialize(&argc, argv);
    MedianReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    double read = rep.ms("BM_read"), reload = rep.ms("BM_reload");
    print_figure("read the max-size file (read_res)", read, "ms");
    print_figure("compile its display list (reload minus read)", reload - read, "ms");
    print_figure("one frame replaying the list", rep.ms("BM_frame"), "ms");
    print_figure("one frame in immediate mode (baseline)", rep.ms("BM_frame_immediate"), "ms");
    print_figure("one empty frame", rep.ms("BM_frame_empty"), "ms");
    print_figure("reload + next frame (goal: 33 ms)", rep.ms("BM_reload_and_frame"), "ms");

    glutExit(); // closes the display before its server goes
    stop_xvfb(&server);
    return chdir("/") == 0 ? 0 : 1;
}
