// Baselines picked from a folder by serial number.
#include "baselines.h"

#include <algorithm>
#include <filesystem>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_text.h"
#include "decode/info_document.h"

namespace fs = std::filesystem;

std::string InputFilePath(const std::string& name, const std::string& commandFile, bool folderAllowed) {
    auto found = [folderAllowed](const fs::path& path) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        return fs::is_regular_file(status) || (folderAllowed && fs::is_directory(status));
    };
    fs::path path = fs::absolute(name);
    if (found(path) || fs::path(name).is_absolute()) return path.string();
    fs::path besideCommandFile = fs::absolute(commandFile).parent_path() / name;
    return found(besideCommandFile) ? besideCommandFile.string() : path.string();
}

BaselineFolder IndexBaselines(const std::string& folder) {
    BaselineFolder baselines;
    baselines.folder = fs::absolute(folder).string();
    std::error_code error;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == ".json" && fs::is_regular_file(it->path(), error)) files.push_back(it->path());
    if (error) throw kavo::UsageError("Failed to read baseline folder " + baselines.folder + ": " + error.message());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        kavo::InfoDocument info;
        try {
            if (!kavo::ReadInfoDocument(file.string(), info)) continue;
        } catch (const std::exception&) {
            continue;  // not JSON: no baseline
        }
        if (kavo::JsonText(info.document["_metadata"], "file type") != "nvme info") continue;
        const kavo::Parameter* serial = info.parameters.Find("Serial Number (SN)");
        if (serial != nullptr) baselines.filesBySerial[kavo::Trim(serial->value)].push_back(file.string());
    }
    return baselines;
}

std::string PickBaseline(const BaselineFolder& baselines, const std::string& serial, const std::string& drive) {
    if (serial.empty())
        throw kavo::UsageError("Cannot pick a baseline from " + baselines.folder + " for NVMe drive " + drive +
                               ": its serial number is unknown");
    auto found = baselines.filesBySerial.find(serial);
    if (found == baselines.filesBySerial.end())
        throw kavo::UsageError("No baseline for serial number " + serial + " (NVMe drive " + drive + ") in " +
                               baselines.folder);
    if (found->second.size() > 1) {
        std::string files;
        for (const std::string& file : found->second) files += "\n " + file;
        throw kavo::UsageError("Several baselines for serial number " + serial + " in " + baselines.folder + ":" + files);
    }
    return found->second.front();
}
