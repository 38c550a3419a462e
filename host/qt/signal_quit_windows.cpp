#include "host/qt/signal_quit.h"

#include <QMetaObject>
#include <QPointer>
#include <csignal>
#include <mutex>
#include <windows.h>

namespace norvane {
namespace {

// The console's events arrive on a thread of their own: the object they go
// to and the call that reaches it are kept under one short lock (one
// SignalQuit at a time owns the console handler).
std::mutex target_lock;
QPointer<QObject> target;
std::function<void(int)> deliver;
// Set when the window has closed: a console close event waits for it, as
// Windows ends the process once the handler returns.
HANDLE closed_event = nullptr;

int signal_of(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM;  // the console closed, the user logs off, the machine shuts down
    }
}

BOOL WINAPI on_console_event(DWORD event)
{
    HANDLE wait_for = nullptr;
    {
        std::lock_guard<std::mutex> hold(target_lock);
        if (!target || !deliver)
            return FALSE;
        const int signal = signal_of(event);
        std::function<void(int)> call = deliver;
        QMetaObject::invokeMethod(target.data(), [call, signal] { call(signal); }, Qt::QueuedConnection);
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
            wait_for = closed_event;
    }
    // Windows gives a closing console about five seconds: the window uses
    // them to stop the firmware and save its settings.
    if (wait_for)
        WaitForSingleObject(wait_for, 4500);
    return TRUE;
}

}  // namespace

SignalQuit::SignalQuit(std::function<void(int)> on_signal_call, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal_call))
{
    {
        std::lock_guard<std::mutex> hold(target_lock);
        target = this;
        deliver = [this](int signal) {
            // The first event closes cleanly; should that hang, a second one
            // ends the program as it would without this object.
            if (handled_) {
                ExitProcess(128 + static_cast<UINT>(signal));
            }
            handled_ = true;
            if (on_signal_)
                on_signal_(signal);
        };
        closed_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

SignalQuit::~SignalQuit()
{
    SetConsoleCtrlHandler(on_console_event, FALSE);
    std::lock_guard<std::mutex> hold(target_lock);
    target = nullptr;
    deliver = nullptr;
    if (closed_event) {
        SetEvent(closed_event);
        // A handler may still be waiting on it: the handle stays open until
        // the process ends (one per window).
        closed_event = nullptr;
    }
}

}  // namespace norvane

// The object's Qt part (its header is named for the pair, not this file).
#include "moc_signal_quit.cpp"
