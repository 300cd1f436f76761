// Console interrupts and process settings on Linux.
//
// A signal handler may not log (the log sinks take locks), so the signals
// are blocked in every thread and a watcher thread takes them with sigwait,
// playing the part of the console-event thread: it runs the handler, which
// logs and sets the stop request. After the first SIGINT (Ctrl-C) or SIGTERM
// (the service manager's stop, in place of Ctrl-Break) the signal gets its
// default action back, so a second one ends the process at once.
#include <csignal>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>

#include "base/kavo_log.h"
#include "quellix.h"

namespace {

void WatchSignals(sigset_t pending) {
    sigset_t handled;
    sigemptyset(&handled);
    while (true) {
        bool any = sigismember(&pending, SIGINT) || sigismember(&pending, SIGTERM);
        if (!any) {
            pause();  // the unblocked signals take their default action here
            continue;
        }
        int signal = 0;
        if (sigwait(&pending, &signal) != 0) continue;
        if (signal == SIGINT) handleCtrlC(signal);
        else handleCtrlBreak(signal);
        sigdelset(&pending, signal);
        std::signal(signal, SIG_DFL);
        sigaddset(&handled, signal);
        pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
    }
}

}  // namespace

void InstallConsoleHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(WatchSignals, signals).detach();
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

void RaiseProcessPriority() {
    if (setpriority(PRIO_PROCESS, 0, -10) != 0) KLOG(Debug) << "Could not raise the process priority (needs root)";
}

void RaiseTimerResolution() {
    // Linux timers already wake close to their due time.
}
