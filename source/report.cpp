// The HTML report of a read or self-test run: where it goes and what draws it.
#include "report.h"

#include <filesystem>

#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "report_parts.h"
#include "summary_reader.h"

namespace fs = std::filesystem;

std::string ReportPathFor(const std::string& summaryPath) {
    fs::path path(summaryPath);
    std::string name = path.filename().string();
    size_t at = name.find(".summary");
    std::string stem = at == std::string::npos ? path.stem().string() : name.substr(0, at);
    std::string rest = at == std::string::npos ? "" : name.substr(at + 8);  // ".interrupted-….json" or ".json"
    rest = rest.size() > 5 ? rest.substr(0, rest.size() - 5) : "";
    return (path.parent_path() / (stem + ".report" + rest + ".html")).string();
}

void WriteReport(const SummarySource& source, bool selfTest, const std::string& reportPath) {
    kavo::WriteTextFile(reportPath, selfTest ? report::SelfTestReport(source) : report::ReadReport(source), "report");
}

void WriteReport(const std::string& summaryPath, const std::string& reportPath) {
    const bool selfTest = fs::path(summaryPath).filename().string().rfind("selftest", 0) == 0;
    WriteReport([&](Json::Value& document, const std::function<void(const Json::Value&)>& sample) {
        ReadSummary(summaryPath, document, sample);
    }, selfTest, reportPath);
}

int ReportCommand(const std::string& directory) {
    kavo::StartConsoleLogging(kavo::Severity::Info);
    int drawn = 0;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        bool summary = (name.rfind("read.summary", 0) == 0 || name.rfind("selftest.summary", 0) == 0) &&
                       it->path().extension() == ".json";
        if (!summary) continue;
        std::string report = ReportPathFor(it->path().string());
        try {
            WriteReport(it->path().string(), report);
            KLOG(Info) << "Report: " << report;
            ++drawn;
        } catch (const std::exception& e) {
            KLOG(Error) << "No report of " << it->path().string() << ": " << e.what();
            return 17;
        }
    }
    if (drawn == 0) {
        KLOG(Error) << "No summary of a run in " << directory;
        return 16;
    }
    return 0;
}
