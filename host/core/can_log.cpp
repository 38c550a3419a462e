// The CAN log: one candump log line per frame the unit sends (with the
// installation, per frame on the bus).
//
// Lines gather in a buffer and go to the file whole, with one write, when
// the unit's time moves on and a little wall time passed since the last
// write: in real time that is every main step, so a run that is killed
// loses at most its last step's frames and never leaves half a line. A
// write the disk refuses stops the log at the unit time of the first frame
// missing, and close says where and why.
#include "host/core/can_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "host/core/pcap_file.h"
#include "seam/can_candump.h"
#include "seam/unit.h"

namespace norvane {

namespace {
// Wall time between writes in a virtual run (a real-time main step is
// 25 ms, so there each step is written), and the most a buffer holds.
constexpr auto WRITE_EVERY = std::chrono::milliseconds(20);
constexpr size_t WRITE_AT_BYTES = 64 * 1024;

}  // namespace

CanLog::~CanLog()
{
    std::string why;
    close(why);
}

bool CanLog::open(const std::string& path, std::string& why)
{
    std::lock_guard<std::mutex> hold(lock_);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        why = "cannot write the CAN log '" + path + "': " + std::strerror(errno);
        return false;
    }
    path_ = path;
    error_.clear();
    pending_.clear();
    pending_ms_ = 0;
    last_ms_ = 0;
    written_at_ = std::chrono::steady_clock::now();
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
    pcap_path_ = path;
    const std::string header = pcap_file_header();
    pcap_failed_ = std::fwrite(header.data(), 1, header.size(), pcap_) != header.size();
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
        pcap_append_record(record_, ms * 1000, port, frame);
        if (std::fwrite(record_.data(), 1, record_.size(), pcap_) != record_.size())
            pcap_failed_ = true;
    }
    if (fd_ < 0 || !error_.empty())
        return;
    // The unit's time moved on: what came before is whole steps.
    if (!pending_.empty() && ms != last_ms_ &&
        (pending_.size() >= WRITE_AT_BYTES || std::chrono::steady_clock::now() - written_at_ >= WRITE_EVERY))
        flush_locked();
    if (!error_.empty())
        return;
    if (pending_.empty())
        pending_ms_ = ms;
    last_ms_ = ms;
    const char iface[] = {'c', 'a', 'n', char('0' + port)};
    can_append_candump_line(pending_, ms * 1000, std::string_view(iface, sizeof iface), frame);
    pending_ += '\n';
}

void CanLog::flush_locked()
{
    size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // The log ends with the last whole line on the disk: a part of
            // a line written is taken back.
            const int error = n < 0 ? errno : ENOSPC;
            const size_t whole = done == 0 ? 0 : pending_.rfind('\n', done - 1) + 1;
            if (whole < done)
                [[maybe_unused]] const int rc = ::ftruncate(fd_, off_t(file_bytes_ + whole));
            file_bytes_ += whole;
            uint64_t stop_ms = pending_ms_;
            can_frame first{};
            std::string iface, why;
            const size_t end = pending_.find('\n', whole);
            if (can_parse_candump_line(pending_.substr(whole, end - whole), first, iface, why))
                stop_ms = first.time_us / 1000;
            char text[64];
            std::snprintf(text, sizeof text, "%llu.%03llu s", static_cast<unsigned long long>(stop_ms / 1000),
                          static_cast<unsigned long long>(stop_ms % 1000));
            error_ = "the CAN log '" + path_ + "' stops at unit time " + text + ": " + std::strerror(error);
            pending_.clear();
            return;
        }
        done += size_t(n);
    }
    file_bytes_ += done;
    pending_.clear();
    written_at_ = std::chrono::steady_clock::now();
}

bool CanLog::close(std::string& why)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (pcap_) {
        const bool pcap_ok = std::fclose(pcap_) == 0 && !pcap_failed_;
        pcap_ = nullptr;
        if (!pcap_ok && error_.empty())
            error_ = "the pcap file '" + pcap_path_ + "' could not be written completely";
        if (fd_ < 0) {
            why = error_;
            return error_.empty();
        }
    }
    if (fd_ < 0)
        return true;
    if (error_.empty() && !pending_.empty())
        flush_locked();
    if (::close(fd_) != 0 && error_.empty())
        error_ = "the CAN log '" + path_ + "' could not be written completely: " + std::strerror(errno);
    fd_ = -1;
    if (!error_.empty())
        why = error_;
    return error_.empty();
}

}  // namespace norvane
