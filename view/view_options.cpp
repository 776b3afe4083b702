#include "view/view_options.h"

#include <cstring>

std::vector<Option> view_options(ViewChoice *c)
{
    View *v = &c->view;
    Option centre{"--centre", Takes::NUMBER, "a point X,Y, two decimal numbers",
                  [v](const char *s) {
                      const char *comma = std::strchr(s, ',');
                      return comma && parse_float(std::string(s, comma).c_str(), &v->cx) &&
                             parse_float(comma + 1, &v->cy);
                  }};
    return {
        float_option("--rot-x", &v->rot_x),
        float_option("--rot-y", &v->rot_y),
        noted(float_option("--tx", &v->tx), &c->moved),
        noted(float_option("--ty", &v->ty), &c->moved),
        noted(float_option("--tz", &v->tz), &c->moved),
        noted(centre, &c->moved),
        flag_option("--fit", &c->fit),
    };
}

std::string view_conflict(const ViewChoice &c)
{
    return c.fit && c.moved ? "--fit chooses --centre, --tx, --ty and --tz itself: give either "
                              "--fit or them"
                            : "";
}

std::string placement_options(const View &v)
{
    return "--centre " + float_text(v.cx) + "," + float_text(v.cy) + " --tx " + float_text(v.tx) +
           " --ty " + float_text(v.ty) + " --tz " + float_text(v.tz);
}
