// Turns SIGINT, SIGTERM and SIGHUP into a call on the Qt thread, so Ctrl+C,
// `kill` or a closed terminal end the window the way its Exit command does:
// firmware stopped, serial port closed, settings saved. On Linux the handler
// only writes the signal number into a pipe, which a socket notifier reads
// (signal_quit_posix.cpp); on Windows the console's Ctrl+C, Ctrl+Break and
// close events come as SIGINT, SIGBREAK and SIGTERM through a queued call
// (signal_quit_windows.cpp).
#pragma once
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace norvane {

class SignalQuit : public QObject {
    Q_OBJECT
public:
    // `on_signal` runs on the thread that owns this object for the first
    // signal; a second signal then takes its usual course (Ctrl+C twice ends
    // a window whose close hangs).
    explicit SignalQuit(std::function<void(int signal)> on_signal, QObject* parent = nullptr);
    ~SignalQuit() override;  // the previous handlers come back

    SignalQuit(const SignalQuit&) = delete;
    SignalQuit& operator=(const SignalQuit&) = delete;

private:
    void drain();

    std::function<void(int)> on_signal_;
    QSocketNotifier* notifier_ = nullptr;
    bool handled_ = false;
};

}  // namespace norvane
