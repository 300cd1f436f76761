// What the fuzz targets share.
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "base/kavo_log.h"
#include "decode/parameters.h"
#include "fuzz_drive.h"

namespace fuzz {

void QuietLogging() {
    static bool started = false;
    if (started) return;
    started = true;
    kavo::StartConsoleLogging(kavo::Severity::None);
}

kavo::SampleSettings ReadEverything() {
    kavo::SampleSettings settings;
    settings.logHexData = settings.readIdentifyController = settings.readIdentifyNamespace = true;
    settings.features.set();
    settings.logPages.set();
    return settings;
}

const kavo::DriveName& FuzzDriveName() {
    static const kavo::DriveName name{"fuzz", "fuzz"};
    return name;
}

std::string InputFile(const uint8_t* data, size_t size, const char* name) {
    static const std::string dir = [] {
        auto path = std::filesystem::temp_directory_path() / ("quellix-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }();
    std::string path = dir + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    return path;
}

}  // namespace fuzz
