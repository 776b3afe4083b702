// man-page IN OUT: a man page from its source, each line "@NAME@" replaced by the shared text of
// that name, so that the help every program shares is written once. Run by the build.
#include "tools/common/shared_usage.h"
#include "tools/common/whole_file.h"
#include "view/view_options.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: man-page IN OUT\n");
        return 2;
    }
    const struct {
        const char *line;
        const char *text;
    } shared[] = {
        {"@RANGE_OPTIONS@", RANGE_MAN},         {"@FOLLOW_OPTION@", FOLLOW_MAN},
        {"@POLL_IDLE_OPTIONS@", POLL_IDLE_MAN}, {"@COMMAND_LINE@", COMMAND_LINE_MAN},
        {"@VIEW_OPTIONS@", VIEW_MAN},           {"@OUTSIDE@", OUTSIDE_MAN},
    };
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "man-page: cannot read %s\n", argv[1]);
        return 1;
    }
    std::ostringstream out;
    for (std::string line; std::getline(in, line);) {
        const char *text = nullptr;
        for (const auto &s : shared)
            if (line == s.line)
                text = s.text;
        if (text)
            out << text;
        else if (!line.empty() && line[0] == '@' && line.back() == '@')
            return std::fprintf(stderr, "man-page: %s: no shared text %s\n", argv[1], line.c_str()),
                   1;
        else
            out << line << '\n';
    }
    const std::string page = out.str();
    Status s = write_whole_file(argv[2], page.data(), page.size());
    if (!s.ok()) {
        std::fprintf(stderr, "man-page: %s\n", s.message().c_str());
        return 1;
    }
    return 0;
}
