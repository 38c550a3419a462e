// The CAN log: one candump log line per frame the unit sends (with the
// installation, per frame on the bus).
#include "host/core/headless_run.h"

#include <cerrno>
#include <cstring>

#include "host/core/pcap_file.h"
#include "seam/can_candump.h"
#include "seam/unit.h"

namespace norvane {

namespace {
void log_sent_frame(uint8_t port, const can_frame& frame, void* context)
{
    static_cast<CanLog*>(context)->write_now(port, frame);
}
}  // namespace

CanLog::~CanLog()
{
    std::string why;
    close(why);
}

bool CanLog::open(const std::string& path, std::string& why)
{
    std::lock_guard<std::mutex> hold(lock_);
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        why = "cannot write the CAN log '" + path + "': " + std::strerror(errno);
        return false;
    }
    failed_ = false;
    can_set_send_observer(log_sent_frame, this);
    return true;
}

bool CanLog::open_pcap(const std::string& path, std::string& why)
{
    std::lock_guard<std::mutex> hold(lock_);
    pcap_ = std::fopen(path.c_str(), "wb");
    if (!pcap_) {
        why = "cannot write the pcap file '" + path + "': " + std::strerror(errno);
        return false;
    }
    const std::string header = pcap_file_header();
    pcap_failed_ = std::fwrite(header.data(), 1, header.size(), pcap_) != header.size();
    can_set_send_observer(log_sent_frame, this);
    return true;
}

void CanLog::write(uint8_t port, uint64_t ms, const can_frame& frame)
{
    std::lock_guard<std::mutex> hold(lock_);
    write_locked(port, ms, frame);
}

void CanLog::write_now(uint8_t port, const can_frame& frame)
{
    std::lock_guard<std::mutex> hold(lock_);
    write_locked(port, hal_ms_clock(), frame);
}

void CanLog::write_locked(uint8_t port, uint64_t ms, const can_frame& frame)
{
    if (pcap_) {
        record_.clear();
        pcap_append_record(record_, ms * 1000, frame);
        if (std::fwrite(record_.data(), 1, record_.size(), pcap_) != record_.size())
            pcap_failed_ = true;
    }
    if (!file_)
        return;
    const char iface[] = {'c', 'a', 'n', char('0' + port)};
    // One buffer, kept (under the lock): no allocation per frame.
    line_.clear();
    can_append_candump_line(line_, ms * 1000, std::string_view(iface, sizeof iface), frame);
    line_ += '\n';
    if (std::fwrite(line_.data(), 1, line_.size(), file_) != line_.size())
        failed_ = true;
}

bool CanLog::close(std::string& why)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!file_ && !pcap_)
        return true;
    can_set_send_observer(nullptr, nullptr);
    bool ok = true;
    if (file_) {
        ok = std::fclose(file_) == 0 && !failed_;
        file_ = nullptr;
        if (!ok)
            why = "the CAN log could not be written completely";
    }
    if (pcap_) {
        const bool pcap_ok = std::fclose(pcap_) == 0 && !pcap_failed_;
        pcap_ = nullptr;
        if (!pcap_ok) {
            why += std::string(why.empty() ? "" : "; ") + "the pcap file could not be written completely";
            ok = false;
        }
    }
    return ok;
}

}  // namespace norvane
