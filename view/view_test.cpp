#include "view/viewer.h"

#include "tests/fake_gl.h"
#include "tests/support/child.h"

#include <GL/glut.h>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

using Calls = std::vector<std::string>;

// One triangle (0, 0), (0.1, 0), (0, 1) and a node (-3, -3) that no element uses.
const char TRIANGLE[] = "4 1\n1 1 2 3\n1 0 0\n2 0.1 0\n3 0 1\n4 -3 -3\n";
const char TWO_TRIANGLES[] = "4 2\n1 1 2 3\n2 2 4 3\n1 0 0\n2 1 0\n3 0 1\n4 1 1\n";

// Each test runs in a scratch directory holding res0001.inp, with a fresh state and recording.
class Viewer : public ::testing::Test
{
  protected:
    TempDir dir;
    char old_cwd[4096] = "";
    void SetUp() override
    {
        dir.write("res0001.inp", TRIANGLE);
        ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
        ASSERT_EQ(chdir(dir.path.c_str()), 0);
        vs = ViewerState{};
        fake_gl_reset();
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(old_cwd), 0);
    }
};

const Calls TRIANGLE_LIST = {
    "glColor4f(1, 0, 0, 1)",         "glBegin(GL_LINE_LOOP)",
    "glVertex3fv(0, 0, 0)",          "glVertex3fv(0.100000001, 0, 0)",
    "glVertex3fv(0, 1, 0)",          "glEnd()",
    "glColor4f(1, 0, 0, 1)",         "glBegin(GL_POINTS)",
    "glVertex3f(0, 0, 0)",           "glEnd()",
    "glColor4f(1, 0, 0, 1)",         "glBegin(GL_POINTS)",
    "glVertex3f(0.100000001, 0, 0)", "glEnd()",
    "glColor4f(1, 0, 0, 1)",         "glBegin(GL_POINTS)",
    "glVertex3f(0, 1, 0)",           "glEnd()",
    "glColor4f(1, 0, 0, 1)",         "glBegin(GL_POINTS)",
    "glVertex3f(-3, -3, 0)",         "glEnd()",
};

Calls with_list(unsigned id, const Calls &body)
{
    Calls c = {"glGenLists(1) = " + std::to_string(id),
               "glNewList(" + std::to_string(id) + ", GL_COMPILE)"};
    c.insert(c.end(), body.begin(), body.end());
    c.push_back("glEndList()");
    return c;
}

TEST_F(Viewer, StartUpSequence)
{
    char arg0[] = "resview";
    char *argv[] = {arg0, nullptr};
    viewer_main(1, argv);
    Calls want = {
        "glutInit(1, resview)",
        "glutInitDisplayMode(18)",
        "glutInitWindowSize(300, 300)",
        "glutCreateWindow(\"Sample 6\")",
        "glutDisplayFunc(display)",
        "glutReshapeFunc(reshape)",
        "glutKeyboardFunc(keyboard)",
        "glutSpecialFunc(special)",
        "glutMotionFunc(motion)",
        "glutMouseFunc(mouse)",
        "glEnable(GL_DEPTH_TEST)",
        "glEnable(GL_BLEND)",
        "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA)",
    };
    Calls list = with_list(1, TRIANGLE_LIST);
    want.insert(want.end(), list.begin(), list.end());
    want.push_back("glutMainLoop()");
    EXPECT_EQ(gl_calls, want);
    EXPECT_EQ(vs.list_id, 1u);
    EXPECT_EQ(vs.mesh.nele, 1);
}

// The viewer's own arguments: the usage, refusals and a folder that cannot be entered end it
// before any window; a folder is read as if the viewer had been started there, the X options and
// their values still reach GLUT, and -geometry's size is the window's.
TEST_F(Viewer, OwnArgumentsBeforeAnyWindow)
{
    const struct {
        std::vector<const char *> args;
        int status;
        const char *out_start;
        const char *err;
    } ending[] = {
        {{"--help"}, 0, "usage: resview [OPTIONS] [X OPTIONS] [DIR]\n", ""},
        {{"-display", ":99", "-h"}, 0, "usage: resview", ""},
        {{"no-such-dir"}, 1, "", "resview: cannot enter no-such-dir: No such file or directory\n"},
        {{"--bogus"}, 2, "", "resview: unknown option --bogus\nsee resview --help\n"},
        {{".", "."}, 2, "", "resview: more than one directory given: .\nsee resview --help\n"},
        {{"--file", "1011"},
         2,
         "",
         "resview: --file takes a whole number from 0 to 1010, not \"1011\"\n"
         "see resview --help\n"},
        {{"--fit", "--centre", "1,2"},
         2,
         "",
         "resview: --fit chooses --centre, --tx, --ty and --tz itself: give either --fit or "
         "them\nsee resview --help\n"},
        {{"-geometry"},
         2,
         "",
         "resview: -geometry takes a value, and none was given\nsee resview --help\n"},
    };
    for (const auto &c : ending) {
        Outcome o = run_child(dir.path, [&c] {
            std::vector<char *> argv = {const_cast<char *>("resview")};
            for (const char *a : c.args)
                argv.push_back(const_cast<char *>(a));
            argv.push_back(nullptr);
            viewer_main((int)argv.size() - 1, argv.data());
            std::printf("a window was opened");
        });
        EXPECT_EQ(o.status, c.status) << c.args.back();
        EXPECT_EQ(o.out.rfind(c.out_start, 0), 0u) << c.args.back() << ": " << o.out;
        EXPECT_EQ(o.err, c.err) << c.args.back();
    }
    std::filesystem::create_directory(dir.path + "/sub");
    dir.write("sub/res0002.inp", TWO_TRIANGLES);
    char *argv[] = {const_cast<char *>("resview"),
                    const_cast<char *>("-geometry"),
                    const_cast<char *>("400x250+5+5"),
                    const_cast<char *>("sub"),
                    const_cast<char *>("-iconic"),
                    const_cast<char *>("--file=2"),
                    const_cast<char *>("--rot-x"),
                    const_cast<char *>("-30"),
                    const_cast<char *>("--centre"),
                    const_cast<char *>("0.5,-2"),
                    nullptr};
    viewer_main(10, argv);
    EXPECT_EQ(gl_calls[0], "glutInit(4, resview)");
    EXPECT_EQ(gl_calls[2], "glutInitWindowSize(400, 250)");
    EXPECT_EQ(vs.mesh.nele, 2);
    EXPECT_EQ(vs.rot_x, -30.0f);
    gl_calls.clear();
    display();
    EXPECT_EQ(gl_calls[2], "glTranslatef(0, 0, -15)");
    EXPECT_EQ(gl_calls[5], "glTranslatef(-0.5, 2, 0)") << "turned about the centre";
}

// --fit frames every file present: their box's middle becomes the centre the mesh turns about,
// and the distance shows it whole.
TEST_F(Viewer, FitFramesEveryFileAndTurnsAboutTheirMiddle)
{
    dir.write("res0000.inp", "3 1\n1 1 2 3\n1 100 20\n2 140 20\n3 100 60\n");
    dir.write("res0001.inp", "3 1\n1 1 2 3\n1 60 0\n2 100 0\n3 60 40\n");
    char *argv[] = {const_cast<char *>("resview"), const_cast<char *>("--fit"), nullptr};
    viewer_main(2, argv);
    EXPECT_EQ(vs.cx, 100.0f);
    EXPECT_EQ(vs.cy, 30.0f);
    EXPECT_EQ(vs.tx, 0.0f);
    EXPECT_LE(vs.tz, -3 * 40 / 0.95f) << "x 60..140 seen whole, with a margin";
    EXPECT_GT(vs.tz, -3 * 40 / 0.9f);
}

TEST_F(Viewer, FrameAndProjection)
{
    vs.tx = 0.5f;
    vs.ty = -0.25f;
    vs.rot_x = 30.0f;
    vs.rot_y = -45.0f;
    vs.list_id = 7;
    display();
    reshape(600, 300);
    Calls want = {
        "glClear(0x4100)",
        "glPushMatrix()",
        "glTranslatef(0.5, -0.25, -15)",
        "glRotatef(30, 1, 0, 0)",
        "glRotatef(-45, 0, 1, 0)",
        "glCallList(7)",
        "glPopMatrix()",
        "glutSwapBuffers()",
        "glViewport(0, 0, 600, 300)",
        "glMatrixMode(GL_PROJECTION)",
        "glLoadIdentity()",
        "glFrustum(-1, 1, -1, 1, 3, 10000)",
        "glMatrixMode(GL_MODELVIEW)",
    };
    EXPECT_EQ(gl_calls, want);
}

// Each reload compiles a new list from the file as it is now and frees the one it replaces.
TEST_F(Viewer, ReloadReplacesAndFreesTheList)
{
    reload_mesh();
    EXPECT_EQ(gl_calls, with_list(1, TRIANGLE_LIST));
    gl_calls.clear();
    reload_mesh();
    Calls want = with_list(2, TRIANGLE_LIST);
    want.push_back("glDeleteLists(1, 1)");
    EXPECT_EQ(gl_calls, want);
    EXPECT_EQ(vs.list_id, 2u);

    // Empty meshes compile empty lists; points only when there are no elements.
    dir.write("res0001.inp", "0 0\n");
    gl_calls.clear();
    reload_mesh();
    want = with_list(3, {});
    want.push_back("glDeleteLists(2, 1)");
    EXPECT_EQ(gl_calls, want);
    dir.write("res0001.inp", "1 0\n1 2.5 -1\n");
    gl_calls.clear();
    EXPECT_EQ(make_mesh_list(), 4u);
    EXPECT_EQ(gl_calls, with_list(4, {"glColor4f(1, 0, 0, 1)", "glBegin(GL_POINTS)",
                                      "glVertex3f(2.5, -1, 0)", "glEnd()"}));
}

TEST_F(Viewer, OutlinesFollowCornerOrderBeforeAnyPoint)
{
    dir.write("res0001.inp", TWO_TRIANGLES);
    reload_mesh();
    Calls v = gl_calls_named("glVertex3fv");
    EXPECT_EQ(v, (Calls{"glVertex3fv(0, 0, 0)", "glVertex3fv(1, 0, 0)", "glVertex3fv(0, 1, 0)",
                        "glVertex3fv(1, 0, 0)", "glVertex3fv(1, 1, 0)", "glVertex3fv(0, 1, 0)"}));
    size_t last_loop = 0, first_point = gl_calls.size();
    for (size_t i = 0; i < gl_calls.size(); ++i) {
        if (gl_calls[i] == "glBegin(GL_LINE_LOOP)")
            last_loop = i;
        if (gl_calls[i] == "glBegin(GL_POINTS)" && first_point == gl_calls.size())
            first_point = i;
    }
    EXPECT_LT(last_loop, first_point);
    EXPECT_EQ(gl_calls_named("glBegin").size(), 6u);
    EXPECT_EQ(gl_calls_named("glEnd()").size(), 6u);
}

TEST_F(Viewer, NoListNameEndsTheProcess)
{
    fake_lists_exhausted = true;
    Outcome o = run_child(dir.path, [] { reload_mesh(); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "resview: OpenGL has no display list left for res0001.inp (glGenLists "
                     "returned 0)\n");
}

TEST_F(Viewer, DragTurnsOneDegreePerPixelFromThePress)
{
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 100, 100);
    EXPECT_TRUE(gl_calls.empty()); // a press alone draws nothing
    motion(130, 80);
    EXPECT_EQ(vs.rot_x, -20.0f);
    EXPECT_EQ(vs.rot_y, 30.0f);
    EXPECT_EQ(gl_calls, Calls{"glutPostRedisplay()"});

    // Release and other buttons change nothing; the next press starts from the angles reached.
    mouse(GLUT_LEFT_BUTTON, GLUT_UP, 5, 5);
    mouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 7, 7);
    EXPECT_EQ(vs.press_x, 100);
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
    motion(0, 200);
    EXPECT_EQ(vs.rot_x, 90.0f);
    EXPECT_EQ(vs.rot_y, 30.0f);
    motion(-5, -400);
    EXPECT_EQ(vs.rot_x, -90.0f);
    EXPECT_EQ(vs.rot_y, 25.0f);

    // Before any left press, a drag measures from (0, 0) with base angles 0.
    vs = ViewerState{};
    motion(250, 60);
    EXPECT_EQ(vs.rot_y, 250.0f);
    EXPECT_EQ(vs.rot_x, 60.0f);
}

TEST_F(Viewer, ArrowKeysTestTheLimitBeforeTheStep)
{
    const struct {
        float rot_x;
        int key;
        float want_x;
    } cases[] = {
        {85, GLUT_KEY_UP, 95},     {90, GLUT_KEY_UP, 90},     {80, GLUT_KEY_UP, 90},
        {-85, GLUT_KEY_DOWN, -95}, {-90, GLUT_KEY_DOWN, -90}, {0, GLUT_KEY_DOWN, -10},
        {95, GLUT_KEY_DOWN, 85},   {0, GLUT_KEY_F1, 0},
    };
    for (const auto &c : cases) {
        vs.rot_x = c.rot_x;
        vs.rot_y = 400;
        gl_calls.clear();
        special(c.key, 0, 0);
        EXPECT_EQ(vs.rot_x, c.want_x) << "rot_x=" << c.rot_x << " key=" << c.key;
        EXPECT_EQ(vs.rot_y, 400.0f);
        EXPECT_EQ(gl_calls, Calls{"glutPostRedisplay()"});
    }
    vs = ViewerState{};
    for (int i = 0; i < 10; ++i)
        special(GLUT_KEY_UP, 0, 0);
    EXPECT_EQ(vs.rot_x, 90.0f);
    special(GLUT_KEY_LEFT, 0, 0);
    EXPECT_EQ(vs.rot_y, 10.0f);
    special(GLUT_KEY_RIGHT, 0, 0);
    special(GLUT_KEY_RIGHT, 0, 0);
    EXPECT_EQ(vs.rot_y, -10.0f);
    EXPECT_EQ(vs.press_x + vs.press_y, 0);
    EXPECT_EQ(vs.rot_x0 + vs.rot_y0, 0.0f);
}

float bits_to_float(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

// Steps are added in double and stored as float, so ten small steps do not land on a round value.
TEST_F(Viewer, KeyStepsRoundThroughFloat)
{
    reload_mesh();
    for (int i = 0; i < 10; ++i)
        keyboard('d', 0, 0);
    EXPECT_EQ(vs.tz, bits_to_float(0xC15FFFFCu)); // -13.999996185302734375
    vs.tz = -15.0f;
    for (int i = 0; i < 10; ++i)
        keyboard('A', 0, 0);
    EXPECT_EQ((double)vs.tz, -16.000003814697265625);
    fake_modifiers = GLUT_ACTIVE_SHIFT;
    keyboard('a', 0, 0);
    keyboard('D', 0, 0);
    keyboard('D', 0, 0);
    EXPECT_EQ((double)vs.tz, -15.000003814697265625);
    fake_modifiers = 0;
    const struct {
        unsigned char key;
        float ViewerState::*field;
        float step;
    } moves[] = {{'z', &ViewerState::tx, -0.1f},
                 {'C', &ViewerState::tx, 0.1f},
                 {'s', &ViewerState::ty, -0.1f},
                 {'X', &ViewerState::ty, 0.1f}};
    for (const auto &m : moves) {
        vs.tx = vs.ty = 0.0f;
        keyboard(m.key, 0, 0);
        EXPECT_EQ(vs.*m.field, m.step) << m.key;
    }
}

// Every key but the quit keys: the state change, the echo line, then a fresh list and a redraw.
TEST_F(Viewer, EveryKeyEchoesThenReloads)
{
    dir.write("res0002.inp", TWO_TRIANGLES);
    dir.write("res0011.inp", TRIANGLE);
    Outcome o = run_child(dir.path, [] {
        reload_mesh();
        gl_calls.clear();
        keyboard('n', 0, 0); // to file 2, echoing the count of file 1
        std::printf("[%s|%s|%s]\n", gl_calls.front().c_str(), gl_calls[1].c_str(),
                    gl_calls.back().c_str());
        keyboard('M', 0, 0); // no binding: same file again
        fake_modifiers = GLUT_ACTIVE_SHIFT;
        keyboard('b', 0, 0); // Shift by the modifier bit, whatever the case: 2 - 10 = -8
    });
    EXPECT_EQ(o.out, "file_no:2 nele:1\n"
                     "[glutGetModifiers() = 0|glGenLists(1) = 2|glutPostRedisplay()]\n"
                     "file_no:2 nele:2\n"
                     "file_no:-8 nele:2\n"
                     "ファイルがオープンできません\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "no result file has index -8: the series runs from 0 to 1010\n");

    dir.write("res0012.inp", TRIANGLE);
    // Shift+N from 1 reaches 11 and Shift+B comes back; the character's case plays no part.
    for (unsigned char n : {'n', 'N'}) {
        vs.file_no = 1;
        fake_modifiers = GLUT_ACTIVE_SHIFT;
        keyboard(n, 0, 0);
        EXPECT_EQ(vs.file_no, 11);
        fake_modifiers = GLUT_ACTIVE_CTRL | GLUT_ACTIVE_ALT;
        keyboard('N', 0, 0);
        EXPECT_EQ(vs.file_no, 12);
        fake_modifiers = GLUT_ACTIVE_SHIFT;
        keyboard(n == 'n' ? 'B' : 'b', 0, 0);
        EXPECT_EQ(vs.file_no, 2);
    }
}

TEST_F(Viewer, QuitKeysEndSilentlyWithStatusZero)
{
    for (unsigned char key : {(unsigned char)27, (unsigned char)'q', (unsigned char)'Q'}) {
        Outcome o = run_child(dir.path, [key] {
            reload_mesh();
            keyboard(key, 0, 0);
            std::_Exit(5);
        });
        EXPECT_EQ(o.status, 0) << (int)key;
        EXPECT_EQ(o.out + o.err, "") << (int)key;
    }
    // The last file of the series is reachable; one past it ends like a missing file.
    dir.write("res01010.inp", TRIANGLE);
    Outcome o = run_child(dir.path, [] {
        vs.file_no = 1009;
        keyboard('n', 0, 0);
        keyboard('n', 0, 0);
    });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "file_no:1010 nele:0\nfile_no:1011 nele:1\nファイルがオープンできません\n");
}

} // namespace
