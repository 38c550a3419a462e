#include "host/qt/signal_quit.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace norvane {
namespace {

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The write end is read by the handler, so it is an atomic (one SignalQuit
// at a time owns the pipe).
std::atomic<int> pipe_write{-1};
int pipe_read = -1;
struct sigaction previous[3];

void on_signal(int signal)
{
    const int saved = errno;
    const int fd = pipe_write.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

SignalQuit::SignalQuit(std::function<void(int)> on_signal_call, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal_call))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    pipe_read = fds[0];
    pipe_write.store(fds[1], std::memory_order_relaxed);
    notifier_ = new QSocketNotifier(pipe_read, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalQuit::drain);
    struct sigaction action{};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(SIGNALS); ++i)
        ::sigaction(SIGNALS[i], &action, &previous[i]);
}

SignalQuit::~SignalQuit()
{
    if (!notifier_)
        return;
    for (size_t i = 0; i < std::size(SIGNALS); ++i)
        ::sigaction(SIGNALS[i], &previous[i], nullptr);
    delete notifier_;
    ::close(pipe_write.exchange(-1));
    ::close(pipe_read);
    pipe_read = -1;
}

void SignalQuit::drain()
{
    unsigned char byte = 0;
    while (::read(pipe_read, &byte, 1) == 1) {
        // The first signal closes cleanly; should that hang, a second one
        // acts as it would without this object.
        if (!handled_)
            for (size_t i = 0; i < std::size(SIGNALS); ++i)
                ::sigaction(SIGNALS[i], &previous[i], nullptr);
        const bool first = !handled_;
        handled_ = true;
        if (first && on_signal_)
            on_signal_(byte);
    }
}

}  // namespace norvane

// The object's Qt part (its header is named for the pair, not this file).
#include "moc_signal_quit.cpp"
