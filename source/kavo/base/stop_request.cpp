// The stop request flag.
#include "base/stop_request.h"

#include <atomic>

namespace kavo {
namespace {

std::atomic<int> stopRequest{0};

}  // namespace

void RequestStop() { stopRequest.store(1); }
bool StopRequested() { return stopRequest.load() != 0; }

}  // namespace kavo
