#include "host/core/scenario_apart.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace norvane {
namespace {

std::string one_line(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// The report of a child's run, one item a line, through a pipe.
std::string serialise(const scenario_report& r)
{
    std::ostringstream out;
    out << "run " << r.run.status << ' ' << r.run.ran << ' ' << r.run.unit_ms << ' ' << r.run.wall_s << ' '
        << r.run.firmware_exit << ' ' << r.expectations << ' ' << r.passed << ' ' << r.run.can_refused << '\n';
    for (const std::string& f : r.failures)
        out << "F " << one_line(f) << '\n';
    for (const std::string& w : r.written)
        out << "W " << one_line(w) << '\n';
    if (!r.error.empty())
        out << "E " << one_line(r.error) << '\n';
    return out.str();
}

bool deserialise(const std::string& text, scenario_report& r)
{
    std::istringstream in(text);
    std::string line;
    bool header = false;
    while (std::getline(in, line)) {
        if (line.rfind("run ", 0) == 0) {
            std::istringstream fields(line.substr(4));
            fields >> r.run.status >> r.run.ran >> r.run.unit_ms >> r.run.wall_s >> r.run.firmware_exit >>
                r.expectations >> r.passed >> r.run.can_refused;
            header = bool(fields);
        } else if (line.rfind("F ", 0) == 0) {
            r.failures.push_back(line.substr(2));
        } else if (line.rfind("W ", 0) == 0) {
            r.written.push_back(line.substr(2));
        } else if (line.rfind("E ", 0) == 0) {
            r.error = line.substr(2);
        }
    }
    return header;
}

}  // namespace

// Runs one scenario in a child process, which starts with the firmware's
// records as this process holds them: untouched, since this process never
// boots the firmware when it runs several files.
scenario_report run_apart(const run_options& options, const std::string& path, ProgressLine& progress,
                          const std::string& label)
{
    scenario_report report;
    report.path = path;
    int fds[2];
    if (::pipe(fds) != 0) {
        report.error = std::string("cannot start the run: ") + std::strerror(errno);
        return report;
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        report.error = std::string("cannot start the run: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return report;
    }
    if (child == 0) {
        ::close(fds[0]);
        const std::string text = serialise(run_scenario(options, path, progress, label));
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += size_t(n);
        }
        std::fflush(nullptr);
        ::_exit(done == text.size() ? 0 : 3);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        report = scenario_report{};
        report.path = path;
        report.error = "the run ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                       strsignal(WTERMSIG(status)) + ")";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !deserialise(text, report)) {
        report.error = "the run ended without its report";
    }
    return report;
}

}  // namespace norvane
