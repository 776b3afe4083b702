// The one command line of the programs, the viewer included, called directly.
#include "util/command_line.h"

#include <gtest/gtest.h>

namespace
{

// One option of each kind, as the programs declare them.
struct Taken {
    int first = -1;
    float tx = 0;
    std::string gif;
    std::string size;
    bool ascii = false;
};

std::vector<Option> options(Taken *t)
{
    return {
        int_option("--first", 0, 1010, &t->first),
        {"--tx", Takes::NUMBER, "a number",
         [t](const char *v) {
             double d = 0;
             return parse_number(v, &d) && (t->tx = (float)d, true);
         }},
        {"--gif", Takes::PATH, "a file name", [t](const char *v) { return !(t->gif = v).empty(); }},
        {"--size", Takes::TEXT, "a size", [t](const char *v) { return !(t->size = v).empty(); }},
        flag_option("--ascii", &t->ascii),
        {"-o", Takes::PATH, "a file name", [t](const char *v) { return !(t->gif = v).empty(); }},
    };
}

TEST(CommandLine, OneRuleForEveryProgram)
{
    const struct {
        std::vector<const char *> args;
        int status;
        const char *error; // for status 2
        const char *dir;
        int first;
        float tx;
        const char *gif;
    } cases[] = {
        {{}, -1, "", nullptr, -1, 0, ""},
        {{"--first", "3", "d"}, -1, "", "d", 3, 0, ""},
        {{"--first=3", "--tx=-0.5"}, -1, "", nullptr, 3, -0.5f, ""},
        {{"--tx", "-0.5", "--", "-d"}, -1, "", "-d", -1, -0.5f, ""},
        {{"--gif=--png", "-"}, -1, "", "-", -1, 0, "--png"},
        {{"-o", "a=b.gif"}, -1, "", nullptr, -1, 0, "a=b.gif"},
        {{"-o=-x.pvd"}, -1, "", nullptr, -1, 0, "-x.pvd"},
        {{"--", "--help"}, -1, "", "--help", -1, 0, ""},
        {{"d", "-h", "--frobnicate"}, 0, "", nullptr, -1, 0, ""},
        {{"--help"}, 0, "", nullptr, -1, 0, ""},
        {{"--frobnicate"}, 2, "unknown option --frobnicate", nullptr, -1, 0, ""},
        {{"--frist", "3"}, 2, "unknown option --frist; did you mean --first?", nullptr, -1, 0, ""},
        {{"-tx=1"}, 2, "unknown option -tx; did you mean --tx?", nullptr, -1, 0, ""},
        {{"--first"},
         2,
         "--first takes a whole number from 0 to 1010, and none was given",
         nullptr,
         -1,
         0,
         ""},
        {{"--first", ""},
         2,
         "--first takes a whole number from 0 to 1010, not \"\"",
         nullptr,
         -1,
         0,
         ""},
        {{"--first="},
         2,
         "--first takes a whole number from 0 to 1010, not \"\"",
         nullptr,
         -1,
         0,
         ""},
        {{"--first", "1011"},
         2,
         "--first takes a whole number from 0 to 1010, not \"1011\"",
         nullptr,
         -1,
         0,
         ""},
        {{"--first", " 3"},
         2,
         "--first takes a whole number from 0 to 1010, not \" 3\"",
         nullptr,
         -1,
         0,
         ""},
        {{"--ascii=yes"}, 2, "--ascii takes no value", nullptr, -1, 0, ""},
        {{"--gif", "--png", "p"},
         2,
         "a value is missing after --gif (--png looks like an option; write --gif=--png for a "
         "name that begins with '-')",
         nullptr,
         -1,
         0,
         ""},
        {{"a", "b"}, 2, "more than one directory given: b", nullptr, -1, 0, ""},
        {{"--", "a", "--", "b"}, 2, "more than one directory given: --", nullptr, -1, 0, ""},
    };
    for (const auto &c : cases) {
        std::vector<char *> argv = {const_cast<char *>("prog")};
        std::string shown;
        for (const char *a : c.args) {
            argv.push_back(const_cast<char *>(a));
            shown += std::string(" ") + a;
        }
        Taken t;
        CommandLine cl = read_command_line((int)argv.size(), argv.data(), options(&t));
        EXPECT_EQ(cl.help ? 0 : cl.error.empty() ? -1 : 2, c.status) << shown;
        EXPECT_EQ(cl.error, c.status == 2 ? c.error : "") << shown;
        if (c.status != -1)
            continue;
        EXPECT_STREQ(cl.dir, c.dir) << shown;
        EXPECT_EQ(t.first, c.first) << shown;
        EXPECT_EQ(t.tx, c.tx) << shown;
        EXPECT_EQ(t.gif, c.gif) << shown;
    }
}

} // namespace
