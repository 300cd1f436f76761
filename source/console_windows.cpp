// Console interrupts and process settings on Windows.
#include <csignal>
#include <windows.h>
#include <timeapi.h>

#include "quellix.h"

void InstallConsoleHandlers() {
    // The C runtime restores the default action before calling a handler, so
    // a second Ctrl-C ends the process at once.
    std::signal(SIGINT, handleCtrlC);
    std::signal(SIGBREAK, handleCtrlBreak);
}

void RaiseProcessPriority() { SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS); }

void RaiseTimerResolution() { timeBeginPeriod(4); }

void IgnoreBrokenPipes() {
    // Windows raises no signal for a closed pipe; the write fails.
}
