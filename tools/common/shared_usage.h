// The help on the options and rules every program beside the viewer shares, written once: as the
// lines of each usage text, and as troff for each man page (put in by the man-page generator).
#pragma once

// --first, --last, --every in a usage text.
inline constexpr char RANGE_USAGE[] =
    "  --first N      first index, 0..1010 (default 0)\n"
    "  --last N       last index, 0..1010 (default 1010)\n"
    "  --every K      every K-th index from the first (default 1)\n";

// --poll and --idle in a usage text; each program says in its own words what --follow does.
inline constexpr char POLL_IDLE_USAGE[] =
    "  --poll SECONDS with --follow, on file systems without events: a file is complete once\n"
    "                 unchanged for this long\n"
    "  --idle SECONDS with --follow, end after this long without a complete file\n";

// The last option line of a usage text.
inline constexpr char END_OF_OPTIONS_USAGE[] =
    "  --             ends the options: a DIR that begins with '-' follows\n";

// The same in troff, for the man pages: --first, --last and --every.
inline constexpr char RANGE_MAN[] = R"(.TP
.BI \-\-first " N" "\fR, \fP\-\-last " N
The first and last index of the range, 0 to 1010 (defaults 0 and 1010).
.TP
.BI \-\-every " K"
Every K-th index from the first (default 1).
)";

// --follow: what it does, for every program; a page may go on with what its program does more.
inline constexpr char FOLLOW_MAN[] = R"(.TP
.B \-\-follow
After the files present in the range, keep watching
.I DIR
and handle each file of the range again once it is complete: closed after writing or renamed
into place (inotify's events), or, with
.BR \-\-poll ,
unchanged in size and modification time for that long. A file that reads malformed while a
writer may still hold it is not reported; it is reported once, with its line, when it is
complete and still malformed. A file rewritten later is handled again. The follow ends on
SIGINT, SIGTERM or SIGHUP (its normal end: the file at hand is finished and the exit status
follows the usual rules), after
.B \-\-idle
seconds without a complete file, or once every index of the range is present and well formed.
Where the folder cannot be watched, the program says so and looks every second instead.
)";

// --poll and --idle.
inline constexpr char POLL_IDLE_MAN[] = R"(.TP
.BI \-\-poll " SECONDS"
With
.BR \-\-follow ,
for file systems that give no events (network and cluster file systems): a file counts as
complete once it has not changed for this long. The folder is looked at every 40 ms (every
quarter of
.I SECONDS
when that is shorter).
.TP
.BI \-\-idle " SECONDS"
With
.BR \-\-follow ,
end after this long without a new complete file.
)";

// The section on the command line's rules.
inline constexpr char COMMAND_LINE_MAN[] = R"(.SH COMMAND LINE
The same rules hold for
.BR rescheck ,
.BR resrender ,
.BR res2vtk ,
.BR res2html ,
.B resdiff
and
.BR resview\-sample\-series .
An option that takes a value is written
.B \-\-name value
or
.BR \-\-name=value .
.B \-\-
ends the options: the argument after it is the directory, even when it begins with
.RB ' \- '.
A file or folder name given as the next argument may not begin with
.RB ' \- ':
.B \-\-gif \-\-png
is refused rather than making a GIF named
.IR \-\-png ;
write
.B \-\-gif=\-\-png
for a name like that. A number may be negative
.RB ( "\-\-tx \-0.5" ).
.B \-h
and
.B \-\-help
print the usage on standard output and exit with status 0. A usage error prints two lines on
standard error, what was wrong and what would be right, and where to see the usage:
.PP
.nf
resrender: \-\-every takes a whole number from 1 to 1010, not "0"
see resrender \-\-help
.fi
.PP
and the program exits with status 2.
.B \-\-poll
and
.B \-\-idle
are usage errors without
.BR \-\-follow .
)";
