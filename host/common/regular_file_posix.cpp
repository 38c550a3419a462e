#include "host/common/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvane {

bool read_regular_file(const std::string& path, uint64_t max_bytes, std::string& text, std::string& why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        why = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        why = "a folder";
        ok = false;
    } else if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        ok = false;
    } else if (uint64_t(st.st_size) > max_bytes) {
        why = std::to_string(st.st_size) + " bytes, more than the " + std::to_string(max_bytes) + " allowed";
        ok = false;
    } else {
        text.resize(size_t(st.st_size));
        size_t have = 0;
        while (have < text.size()) {
            const ssize_t n = ::read(fd, text.data() + have, text.size() - have);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                why = std::strerror(errno);
                ok = false;
                break;
            }
            if (n == 0)
                break;  // the file shrank while read: what was there is what it holds
            have += size_t(n);
        }
        text.resize(have);
    }
    ::close(fd);
    return ok;
}

int create_for_writing(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

}  // namespace norvane
