// The CAN log: one candump log line per frame the unit sends.
#include "host/core/headless_run.h"

#include <cerrno>
#include <cstring>

#include "seam/can_candump.h"
#include "seam/unit.h"

namespace norvane {

namespace {
void log_sent_frame(uint8_t port, const can_frame& frame, void* context)
{
    static_cast<CanLog*>(context)->write(port, hal_ms_clock(), frame);
}
}  // namespace

CanLog::~CanLog()
{
    std::string why;
    close(why);
}

bool CanLog::open(const std::string& path, std::string& why)
{
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        why = "cannot write the CAN log '" + path + "': " + std::strerror(errno);
        return false;
    }
    failed_ = false;
    can_set_send_observer(log_sent_frame, this);
    return true;
}

void CanLog::write(uint8_t port, uint64_t ms, const can_frame& frame)
{
    if (!file_)
        return;
    const char iface[] = {'c', 'a', 'n', char('0' + port)};
    // One buffer per thread, kept: no allocation per frame.
    thread_local std::string line;
    line.clear();
    can_append_candump_line(line, ms * 1000, std::string_view(iface, sizeof iface), frame);
    line += '\n';
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size())
        failed_ = true;
}

bool CanLog::close(std::string& why)
{
    if (!file_)
        return true;
    can_set_send_observer(nullptr, nullptr);
    const bool ok = std::fclose(file_) == 0 && !failed_;
    file_ = nullptr;
    if (!ok)
        why = "the CAN log could not be written completely";
    return ok;
}

}  // namespace norvane
