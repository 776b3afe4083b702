#include "tools/common/stop_signals.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <pthread.h>
#include <unistd.h>

namespace
{

// The one flag a signal handler may write.
volatile std::sig_atomic_t caught = 0;

void on_stop_signal(int sig)
{
    caught = sig;
}

} // namespace

void catch_stop_signals()
{
    caught = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {
        };
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {
        };
        sa.sa_handler = on_stop_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(sig, &sa, nullptr);
    }
}

int stop_signal()
{
    return caught;
}

sigset_t block_stop_signals()
{
    sigset_t stop, old;
    sigemptyset(&stop);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop, sig);
    pthread_sigmask(SIG_BLOCK, &stop, &old);
    return old;
}

void restore_signals(const sigset_t &mask)
{
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
}

std::string signal_name(int sig)
{
    const char *abbrev = sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

int exit_status_or_signal(int status)
{
    const int sig = status - 128;
    if (sig != SIGINT && sig != SIGTERM && sig != SIGHUP)
        return status;
    std::fflush(nullptr);
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(sig);
    return status; // not reached: the default action ends the process
}
