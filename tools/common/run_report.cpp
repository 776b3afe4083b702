#include "tools/common/run_report.h"

#include <algorithm>
#include <unistd.h>

RunReport::RunReport(const char *program, const char *verb, const char *rate_unit)
    : program_(program), verb_(verb), rate_unit_(rate_unit)
{
}

void RunReport::start()
{
    tty_ = isatty(2) != 0;
    shown_ = -1;
    t0_ = std::chrono::steady_clock::now();
}

double RunReport::seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
}

// Wipes the progress line, so that a diagnostic or the summary starts on a clean line.
void RunReport::clear_line() const
{
    if (tty_ && shown_ >= 0)
        std::fputs("\r\033[K", stderr);
}

void RunReport::wrote(int n)
{
    std::lock_guard<std::mutex> lock(m_);
    written_ += !wrote_[(std::size_t)n];
    wrote_[(std::size_t)n] = true;
}

void RunReport::wrote_none()
{
    std::lock_guard<std::mutex> lock(m_);
    std::fill(wrote_.begin(), wrote_.end(), false);
    written_ = 0;
}

int RunReport::written() const
{
    std::lock_guard<std::mutex> lock(m_);
    return written_;
}

void RunReport::fault(const std::string &line)
{
    clear_line();
    std::fprintf(faults_, "%s\n", line.c_str());
    std::fflush(faults_);
}

void RunReport::note(const std::string &what)
{
    clear_line();
    std::fprintf(stderr, "%s: %s\n", program_, what.c_str());
}

void RunReport::progress(int done, int total, int n)
{
    double s = seconds();
    if (!tty_ || (s - shown_ < 0.1 && done < total))
        return;
    std::fprintf(stderr, "\r%s: %d/%d %s, %.0f %s\033[K", program_, done, total, res_file_name(n),
                 done / (s > 0 ? s : 1), rate_unit_);
    shown_ = s;
}
