#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "seam/can.h"

namespace norvane {

// One CAN log line per frame, candump log format with the unit time at
// which it went on the bus: "(0000000001.200000) can0 421#..."; and, when
// asked, one pcap record of each at the same time. The log only writes: the
// unit session decides which frames reach it (the unit's, and with the
// installation every frame on the bus).
// In real time the unit's thread, the run's thread and the bus server's
// thread all write it: one line at a time, under its lock. Lines reach the
// file whole, at least every main step in real time; a disk that refuses
// them stops the log, and close says the file, the reason and the unit time
// of the first frame missing.
class CanLog {
public:
    CanLog() = default;
    ~CanLog();  // closes the file
    CanLog(const CanLog&) = delete;
    CanLog& operator=(const CanLog&) = delete;
    bool open(const std::string& path, std::string& why);
    // The same frames into a pcap capture file too (or alone).
    bool open_pcap(const std::string& path, std::string& why);
    // Writes a line for a frame sent on `port` at unit time `ms`.
    void write(uint8_t port, uint64_t ms, const can_frame& frame);
    // The same at the unit's time now, read under the lock, so the lines
    // several threads write stay in order of time.
    void write_now(uint8_t port, const can_frame& frame);
    bool close(std::string& why);

private:
    void write_locked(uint8_t port, uint64_t ms, const can_frame& frame);
    void flush_locked();
    std::mutex lock_;  // guards everything below
    int fd_ = -1;
    std::string path_;
    std::string pending_;      // whole lines not written yet
    uint64_t pending_ms_ = 0;  // unit time of the first of them
    uint64_t last_ms_ = 0;     // unit time of the last line
    uint64_t file_bytes_ = 0;  // written so far
    std::chrono::steady_clock::time_point written_at_;
    std::string error_;        // why the log stopped; empty while it goes on
    std::FILE* pcap_ = nullptr;  // the pcap capture, its path, a record's bytes
    std::string pcap_path_;
    std::string record_;
    bool pcap_failed_ = false;
};

}  // namespace norvane
