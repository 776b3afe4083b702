// The one command line of the programs beside the viewer: "--name value" and "--name=value",
// flags, "--" ending the options, -h and --help, at most one directory. Numbers are read without
// the locale.
#pragma once

#include <functional>
#include <string>
#include <vector>

// What an option takes. A NUMBER may begin with '-' ("--tx -0.5"); a PATH given as the next
// argument may not, so that "--gif --png" is refused instead of naming a file "--png"
// ("--gif=--png" names one).
enum class Takes { NOTHING, NUMBER, TEXT, PATH };

// One option: "--name value" or "--name=value", or a flag that takes nothing.
struct Option {
    const char *name;
    Takes takes;
    std::string what;                            // what it takes: "a whole number from 0 to 1010"
    std::function<bool(const char *value)> take; // false when the value is not valid
};

// A flag into *v.
Option flag_option(const char *name, bool *v);
// A whole number from lo to hi into *v.
Option int_option(const char *name, int lo, int hi, int *v);
// A decimal number, held as the viewer holds the view: a single-precision float, into *v.
Option float_option(const char *name, float *v);
// A name (what says of what: "a folder", "a file name") into *v.
Option path_option(const char *name, const char *what, const char **v);
// A size WxH, each side from 1 to max, into *w and *h.
Option size_option(const char *name, int max, int *w, int *h);
// opt, which also sets *given when it takes a value.
Option noted(Option opt, bool *given);

// How a command line was read.
struct CommandLine {
    bool help = false;              // -h or --help was given: the usage is asked for
    std::string error;              // what is wrong with the line; empty when it is good
    const char *dir = nullptr;      // the first argument that is not an option, if any
    std::vector<const char *> dirs; // every argument that is not an option, in order
};

// Reads argv by opts. "--" ends the options; "-h" and "--help" ask for the usage; at most
// max_dirs other arguments (directories) are taken. Prints nothing. An error says what was wrong
// and what would be right: "--every takes a whole number from 1 to 1010, not \"0\"".
CommandLine read_command_line(int argc, char **argv, const std::vector<Option> &opts,
                              std::size_t max_dirs = 1);

// A whole decimal integer within lo..hi.
bool parse_int(const char *s, int lo, int hi, int *v);
// A finite decimal number ("-0.5", "2e-3"), with an optional leading '+'.
bool parse_number(const char *s, double *v);
// A decimal number stored as the viewer stores the view: a finite single-precision float.
bool parse_float(const char *s, float *v);

// The shortest decimal text that parse_float reads back as v, bit for bit ("-14.9").
std::string float_text(float v);

// Prints "PROGRAM: what" and "see PROGRAM --help" on standard error; returns 2, the usage-error
// status.
int usage_error(const char *program, const std::string &what);
