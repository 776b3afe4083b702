// Whether a segment one pixel wide gets the same pixels drawn from a to b as from b to a, on the
// OpenGL renderer the programs draw with here (Mesa's llvmpipe, through the renderer's context):
// random segments across the viewer's picture, a third of them shorter than a pixel or two, each
// drawn both ways with the viewer's GL state and projection. The outlines are drawn as the
// viewer's line loops draw them, each shared edge once each way, because of what this finds.
#include "bench/bench_support.h"
#include "render/offscreen.h"
#include "view/draw.h"

#include <GL/gl.h>
#include <cstdio>
#include <random>
#include <vector>

int main()
{
    const int w = 300, h = 300, nsegments = 5000;
    OffscreenContext ctx;
    Status s = ctx.open(1, 1);
    if (s.ok())
        s = ctx.open_frame_target(w, h, true);
    if (!s.ok()) {
        std::fprintf(stderr, "segment_bench: %s\n", s.message().c_str());
        return 1;
    }
    init_gl_state();
    reshape(w, h);
    std::printf("renderer: %s\n", (const char *)glGetString(GL_RENDERER));
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> across(-5.5f, 5.5f);
    std::vector<unsigned char> pixels[2] = {std::vector<unsigned char>((std::size_t)(w * h)),
                                            std::vector<unsigned char>((std::size_t)(w * h))};
    int differ = 0;
    for (int k = 0; k < nsegments; ++k) {
        GLfloat end[2][3] = {{across(rng), across(rng), 0}, {across(rng), across(rng), 0}};
        if (k % 3 == 0) {
            end[1][0] = end[0][0] + across(rng) * 0.05f;
            end[1][1] = end[0][1] + across(rng) * 0.05f;
        }
        for (int way = 0; way < 2; ++way) {
            begin_frame(View{});
            glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
            glBegin(GL_LINES);
            glVertex3fv(end[way]);
            glVertex3fv(end[1 - way]);
            glEnd();
            end_frame();
            ctx.read_frame(pixels[way].data());
        }
        differ += pixels[0] != pixels[1];
    }
    print_figure("segments with other pixels drawn the other way", 100.0 * differ / nsegments, "%");
    return 0;
}
