// Exceptions re-raised with the place they passed through.
#include "base/kavo_errors.h"

namespace kavo {

[[noreturn]] void RethrowWithLocation(const char* function, const char* file, int line) {
    std::string suffix = std::string("\n @ ") + function + " " + file + " " + std::to_string(line);
    try {
        throw;
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {
        throw std::runtime_error(e.what() + suffix);
    } catch (...) {
        throw std::runtime_error("Unknown exception type" + suffix);
    }
}

}  // namespace kavo
