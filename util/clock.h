// The one clock of the code the programs share: seconds on a clock that only goes forward.
#pragma once

#include <chrono>

// Seconds since an arbitrary moment, never set back.
inline double clock_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
