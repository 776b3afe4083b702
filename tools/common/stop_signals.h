// The signals that ask a run to stop (SIGINT, SIGTERM, SIGHUP): caught into the process's one
// flag, read between files, and the process ended by them at last, so that a shell sees them.
#pragma once

#include <csignal>
#include <string>

// Catches the stop signals from now on and clears the flag: each only asks the run to stop after
// the file at hand. A signal that was ignored when the program started (a background job's
// SIGINT) stays ignored.
void catch_stop_signals();

// The signal that asked the process to stop since catch_stop_signals, or 0.
int stop_signal();

// Blocks the stop signals in the calling thread (and in threads it starts from then on) and
// returns the mask before, for restore_signals: a worker thread must leave them to the thread
// that follows the series.
sigset_t block_stop_signals();
void restore_signals(const sigset_t &mask);

// "SIGINT" for SIGINT.
std::string signal_name(int sig);

// What main returns for a run that ended with status: status itself, unless it is 128 + a stop
// signal (a run that signal stopped). Then the process ends by that signal, its default action
// restored, so that the shell that started it sees the interrupt (and reports 128 + the signal);
// output is flushed first. Called by main alone, once every object of the run is gone.
int exit_status_or_signal(int status);
