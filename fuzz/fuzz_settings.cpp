// The command file and the command line: arguments and a command file made
// up by the fuzzer, read into the typed settings. An error with its exit
// code is the expected answer; anything else escaping is a fault.
#include <string>
#include <vector>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "fuzz_drive.h"
#include "quellix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    // Up to the first NUL: arguments separated by line feeds; after it: the
    // command file.
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t split = text.find('\0');
    std::string arguments = split == std::string::npos ? "" : text.substr(0, split);
    std::string file = split == std::string::npos ? text : text.substr(split + 1);
    std::string path = fuzz::InputFile(reinterpret_cast<const uint8_t*>(file.data()), file.size(), "fuzz.cmd.json");
    std::vector<std::string> args = {"quellix", path, "-n", "sim", "-d", path + ".logs"};
    size_t at = 0;
    while (at < arguments.size() && args.size() < 24) {
        size_t end = arguments.find('\n', at);
        if (end == std::string::npos) end = arguments.size();
        std::string arg = arguments.substr(at, end - at);
        // Requests that would write files in the working folder or start a run.
        if (arg != "--export" && arg != "--list" && arg != "--recover" && arg != "--report") args.push_back(arg);
        at = end + 1;
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    Settings settings;
    try {
        GetAppParameters(static_cast<int>(argv.size()), argv.data(), settings);
    } catch (const kavo::Error&) {
    }
    kavo::StartConsoleLogging(kavo::Severity::None);
    return 0;
}
