// The read of a file the user named (a scenario, an installation
// description, a reference picture, a file a check compares): only a
// regular file, opened without blocking (a FIFO or a device named by
// mistake is refused, not waited on or read for ever) and at most
// `max_bytes` long.
#pragma once
#include <cstdint>
#include <string>

namespace norvane {

// The whole file in `text`; false with the reason in `why` ("not a regular
// file", "a folder", "N bytes, more than the M allowed", the system's).
bool read_regular_file(const std::string& path, uint64_t max_bytes, std::string& text, std::string& why);

// Creates or empties the file for writing bytes as they are (on Windows no
// line end becomes CR LF), not inherited by programs started later: a file
// descriptor for write/close, or -1 with errno set.
int create_for_writing(const std::string& path);

}  // namespace norvane
