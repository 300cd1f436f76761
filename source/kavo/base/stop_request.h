#pragma once
// The process-wide stop request: set by the console handlers (Ctrl-C,
// SIGTERM), never cleared, and polled by loops that may run long, so that a
// run can end between two admin commands.

namespace kavo {

void RequestStop();
bool StopRequested();

}  // namespace kavo
