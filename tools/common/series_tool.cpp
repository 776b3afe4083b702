#include "tools/common/series_tool.h"

#include "tools/common/stop_signals.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <filesystem>

SeriesTool::SeriesTool(ToolInfo info)
    : info_(info), report_(info.program, info.verb, info.rate_unit)
{
}

std::vector<Option> SeriesTool::shared_options()
{
    const auto seconds = [](const char *name, double *s) {
        return Option{name, Takes::NUMBER, "a number of seconds above 0, at most 1000000",
                      [s](const char *v) { return parse_number(v, s) && *s > 0 && *s <= 1e6; }};
    };
    return {
        int_option("--first", 0, FILE_INDEX_MAX, &range_.first),
        int_option("--last", 0, FILE_INDEX_MAX, &range_.last),
        int_option("--every", 1, FILE_INDEX_MAX, &range_.every),
        flag_option("--follow", &follow_.on),
        seconds("--poll", &follow_.poll),
        seconds("--idle", &follow_.idle),
    };
}

bool SeriesTool::start(int argc, char **argv, const std::vector<Option> &own,
                       const std::string &usage,
                       const std::function<std::string(const char *dir)> &check)
{
    std::vector<Option> opts = own;
    for (auto &o : shared_options())
        opts.push_back(o);
    CommandLine cl = read_command_line(argc, argv, opts, info_.folders);
    if (cl.help) {
        std::fputs(usage.c_str(), stdout);
        status_ = 0;
        return false;
    }
    std::string error = cl.error;
    if (error.empty() && info_.folders > 1 && cl.dirs.size() < info_.folders)
        error = "give the " + std::to_string(info_.folders) + " series folders, " +
                std::to_string(cl.dirs.size()) + " given";
    dir_ = cl.dirs.empty() ? nullptr : cl.dirs.back();
    if (error.empty() && check)
        error = check(dir_);
    if (error.empty() && range_.first > range_.last)
        error = "--first (" + std::to_string(range_.first) + ") comes after --last (" +
                std::to_string(range_.last) + ")";
    if (error.empty() && !follow_.on && (follow_.poll > 0 || follow_.idle > 0))
        error = std::string(follow_.poll > 0 ? "--poll" : "--idle") + " applies only with --follow";
    if (!error.empty()) {
        status_ = usage_error(info_.program, error);
        return false;
    }
    dirs_ = cl.dirs;
    for (const char *folder : dirs_.empty() ? std::vector<const char *>{"."} : dirs_) {
        DIR *d = opendir(folder);
        if (!d) {
            report_.note(std::string("cannot read ") + folder + ": " + std::strerror(errno));
            status_ = 1;
            return false;
        }
        closedir(d);
    }
    loop_ = std::make_unique<SeriesLoop>(dir_, range_, follow_, &report_);
    catch_stop_signals();
    report_.start();
    return true;
}

void SeriesTool::run(const FileStep &step, const std::function<Status()> &first_pass_done)
{
    fail(loop_->run(step, first_pass_done));
}

void SeriesTool::fail(const Status &s)
{
    if (!s.ok() && failure_.empty())
        failure_ = s.message();
}

bool SeriesTool::whole() const
{
    return failure_.empty() && loop_->stopped_by() == 0 && loop_->good() > 0;
}

int SeriesTool::end_with(int status)
{
    std::fflush(stdout);
    if (!failure_.empty())
        report_.note(failure_);
    if (const int signal = loop_->stopped_by()) {
        report_.note("stopped by " + signal_name(signal) + " after " +
                     std::to_string(loop_->done()) + " files");
        return 128 + signal;
    }
    return failure_.empty() ? status : info_.failure_status;
}

int SeriesTool::end(const std::string &where)
{
    const SeriesLoop &l = *loop_;
    const int signal = l.stopped_by();
    if (!failure_.empty())
        report_.note(failure_);
    else if (l.present() == 0 && signal == 0)
        note_none_present();
    std::string ended;
    if (signal)
        ended = ", stopped by " + signal_name(signal);
    else if (l.ended_by())
        ended = ", followed until " + signal_name(l.ended_by());
    else if (follow_.on)
        ended = ", followed";
    char counts[160];
    std::snprintf(counts, sizeof counts, "%d %s in %.2f s, %d missing, %d broken",
                  report_.written(), info_.verb, report_.seconds(), l.missing(), l.broken());
    const std::string unreadable =
        l.unreadable() ? ", " + std::to_string(l.unreadable()) + " unreadable" : "";
    const std::string unwritten = l.unwritten();
    report_.note(counts + unreadable +
                 (unwritten.empty() ? "" : ", " + unwritten + " not written") + ended + "; " +
                 where);
    if (signal)
        return 128 + signal;
    return !failure_.empty() || l.broken() > 0 || l.unreadable() > 0 || report_.written() == 0 ? 1
                                                                                               : 0;
}

void SeriesTool::note_none_present()
{
    report_.note("no result file of " + std::to_string(range_.first) + ".." +
                 std::to_string(range_.last) + " is present in " + (dir_ ? dir_ : "."));
    const std::string hint = naming_hint(dir_);
    if (!hint.empty())
        report_.note(hint);
}
