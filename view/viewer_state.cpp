// The viewer's one state record, and the frame and display list drawn from it, in OpenGL alone.
#include "view/viewer_state.h"

#include <GL/gl.h>

ViewerState vs;

View view_of(const ViewerState &s)
{
    return View{s.tx, s.ty, s.tz, s.rot_x, s.rot_y, s.cx, s.cy};
}

void draw_frame()
{
    begin_frame(view_of(vs));
    glCallList(vs.list_id);
    end_frame();
}

void use_list(unsigned int id)
{
    GLuint old = vs.list_id;
    vs.list_id = id;
    // Only the newest list is ever drawn; keeping the old one would leak a copy per reload.
    if (old != 0)
        glDeleteLists(old, 1);
}
