// The time of each file of a series: file n at n times the time step, formed exactly from the
// step as it was written and rounded once.
#pragma once

#include "util/command_line.h"

#include <string>

class TimeStep
{
  public:
    // Takes the step as written on the command line: a decimal number above 0. False when it is
    // not one.
    bool take(const char *text);

    // The time of file n, n x the step, as the shortest text that reads back as the double
    // nearest it: with a step of 0.1, file 3 is at "0.3".
    std::string time_of(int n) const;

  private:
    std::string digits_ = "1"; // the step as written: digits_ x 10^exp_ seconds
    long exp_ = 0;
};

// --dt SECONDS into *dt.
Option dt_option(TimeStep *dt);
