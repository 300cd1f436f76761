// The self-test command: start the drive's device self-test, follow its
// progress and temperature once a second, optionally abort it, judge the
// result and write "selftest.summary.json".
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "decode/decode_table.h"
#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "decode/decoders.h"
#include "info/nvme_info.h"
#include "base/kavo_text.h"
#include "quellix.h"
#include "report.h"
#include "run_journal.h"

namespace fs = std::filesystem;

namespace {

// Failed reads of the self-test log in a row that end the polling.
constexpr unsigned kMaxFailedLogReads = 10;

using kavo::decode::Le;

constexpr int64_t kSecond = 1000000000;

const char* const kLogPage6Failed = "Failed to read log page 6 for status update";
const char* const kLogPage2Failed = "Failed to read log page 2 for status update";

std::string Percent4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%4u", value);
    return text;
}

class SelfTestRun {
public:
    explicit SelfTestRun(Json::Value& settings) : settings_(settings) {}
    int Run();

private:
    int End(int code, const std::string& message);
    Json::Value StatusEntry(const std::string& percent, uint8_t status);
    // Adds the SMART members to `entry` and returns the info line's tail.
    std::string AddSmart(Json::Value& entry);
    bool ReadSelfTestLog() {
        return kavo::ReadLogPage(0x06, 564, *handle_, log6_.data(), &commands_) == 0;
    }
    void WriteDetails();
    void ResultLines(const char* resultLabel);
    void RecordRunning(const std::string& elapsed);
    // A status entry for a failed read of the self-test log, counted as a failure.
    void RecordUnreadableLog(const std::string& percent);

    // Status entries and command records go to the journal as they happen.
    void Status(const Json::Value& entry);
    void JournalCommands();

    Json::Value& settings_;
    Json::Value summary_ = Json::Value(Json::objectValue);
    kavo::CommandLog commands_;  // records not yet in the journal
    std::unique_ptr<RunJournal> journal_;
    std::string summaryPath_;
    kavo::NvmeHandle handle_;
    std::array<uint8_t, 564> log6_{};
    std::array<uint8_t, 512> log2_{};
    uint32_t failures_ = 0;
    uint8_t code_ = 1;
    bool readSmart_ = false;
    bool report_ = true;
    int64_t start_ = 0;
    std::string elapsed_;
};

Json::Value SelfTestRun::StatusEntry(const std::string& percent, uint8_t status) {
    Json::Value entry(Json::objectValue);
    entry["percent complete"] = percent;
    entry["timestamp"] = kavo::CurrentTimeText();
    entry["message"] = "";
    entry["status"] = status;
    return entry;
}

std::string SelfTestRun::AddSmart(Json::Value& entry) {
    if (kavo::ReadLogPage(0x02, 512, *handle_, log2_.data(), &commands_) != 0) {
        ++failures_;
        entry["message"] = kLogPage2Failed;
        KLOG_AS(Error, "SelfTest") << kLogPage2Failed;
        return "";
    }
    const uint8_t* p = log2_.data();
    std::string temperature = kavo::KelvinToCelsiusText(Le(p, 512, 1, 2));
    entry["Composite Temperature"] = temperature;
    entry["Percentage Used"] = std::to_string(p[5]);
    entry["Power On Hours"] = kavo::GroupedDecimal128(kavo::U128FromHalves(Le(p, 512, 128, 8), Le(p, 512, 136, 8)));
    entry["Data Read"] = kavo::DataUnitsToGigabytes(p + 32);
    entry["Data Written"] = kavo::DataUnitsToGigabytes(p + 48);
    entry["Warning Composite Temperature Time"] = std::to_string(Le(p, 512, 192, 4));
    entry["Critical Composite Temperature Time"] = std::to_string(Le(p, 512, 196, 4));
    entry["Thermal Management Temperature 1 Time"] = std::to_string(Le(p, 512, 224, 4));
    entry["Thermal Management Temperature 2 Time"] = std::to_string(Le(p, 512, 228, 4));
    return "  Temp: " + temperature;
}

// One status entry of a running (or just ended) test: percent, SMART members
// and the progress line.
void SelfTestRun::RecordRunning(const std::string& elapsed) {
    Json::Value entry = StatusEntry(std::to_string(log6_[1]), log6_[0]);
    std::string line = Percent4(log6_[1]) + "% complete after " + elapsed;
    if (readSmart_) {
        std::string tail = AddSmart(entry);
        if (!tail.empty()) KLOG_AS(Info, "SelfTest") << line << tail;
    } else {
        KLOG_AS(Info, "SelfTest") << line;
    }
    Status(entry);
}

void SelfTestRun::RecordUnreadableLog(const std::string& percent) {
    ++failures_;
    Json::Value entry(Json::objectValue);
    entry["percent complete"] = percent;
    entry["timestamp"] = kavo::CurrentTimeText();
    entry["message"] = kLogPage6Failed;
    KLOG_AS(Error, "SelfTest") << kLogPage6Failed;
    Status(entry);
}

void SelfTestRun::WriteDetails() {
    Json::Value& details = summary_["selftest details"];
    unsigned result = log6_[4] & 0xF;
    details["end time"] = kavo::CurrentTimeText();
    details["run time"] = elapsed_;
    details["run time in ms"] = kavo::ElapsedMilliseconds(start_);
    details["return code"] = result;
    details["log page 6 result"] = std::to_string(result);
    details["log page 6 power on hours"] = kavo::GroupedDecimal64(Le(log6_.data(), log6_.size(), 8, 8));
    // Where the newest test failed, when the drive says.
    const uint8_t* newest = log6_.data() + 4;
    if (result == 7) details["failing segment"] = std::to_string(newest[1]);
    if (newest[2] & 0x01) details["failing namespace"] = std::to_string(Le(newest, 28, 12, 4));
    if (newest[2] & 0x02) details["failing lba"] = kavo::GroupedDecimal64(Le(newest, 28, 16, 8));
}

void SelfTestRun::ResultLines(const char* resultLabel) {
    const Json::Value& details = summary_["selftest details"];
    KLOG_AS(Info, "SelfTest") << " ";
    KLOG_AS(Info, "SelfTest") << resultLabel << details["return code"].asUInt();
    KLOG_AS(Info, "SelfTest") << " End Time:           " << details["end time"].asString();
    KLOG_AS(Info, "SelfTest") << " Run Time:           " << details["run time"].asString();
    KLOG_AS(Info, "SelfTest") << " Summary File        " << summaryPath_;
}

void SelfTestRun::JournalCommands() {
    journal_->Commands(commands_);
    commands_.clear();
}

void SelfTestRun::Status(const Json::Value& entry) {
    JournalCommands();
    journal_->Sample(entry);
    journal_->Flush();
}

int SelfTestRun::End(int code, const std::string& message) {
    handle_.reset();
    if (!journal_) {
        // Ended before the test started: the few records are in memory.
        summary_["command times"] = kavo::CommandLogJson(commands_);
        LogResult(summary_, code, message, summaryPath_);
    } else {
        JournalCommands();
        LogResult(summary_, code, message, summaryPath_, journal_.get());
    }
    if (report_) {
        std::string reportPath = ReportPathFor(summaryPath_);
        WriteReport(summaryPath_, reportPath);
        KLOG_AS(Info, "SelfTest") << " Report File         " << reportPath;
    }
    return code;
}

int SelfTestRun::Run() {
    commands_.clear();
    summary_["_cmd"]["begin time"] = kavo::CurrentTimeText();
    summary_["_settings"] = settings_;
    const std::string logDirectory = kavo::JsonText(settings_["common"], "log directory");
    summaryPath_ = fs::absolute(fs::path(logDirectory) / "selftest.summary.json").string();
    const uint32_t displayInterval = UnsignedSetting(settings_, "display sample interval in sec", true);
    const uint32_t abortTime = UnsignedSetting(settings_, "abort time", true);
    const bool extended = kavo::JsonBool(settings_, "extended self-test");
    readSmart_ = kavo::JsonBool(settings_, "read smart data");
    report_ = ReportWanted(settings_);
    const std::string description = kavo::JsonText(settings_, "short description");

    handle_ = kavo::GetNvmeId(kavo::JsonText(settings_["common"], "nvme path"), true);
    std::array<uint8_t, 4096> identify{};
    // When Identify Controller fails its data is undefined: the zeroed buffer
    // then reads as a drive without self-test support.
    failures_ = kavo::NvmeQueryPropertyCommand(*handle_, "Identify Controller", kavo::kDataTypeIdentify, 1, 0, 4096,
                                               identify.data(), nullptr, &commands_);
    if (failures_ != 0) identify.fill(0);
    // "selftest details" exists only once there are details to give.
    if ((Le(identify.data(), 4096, 256, 2) & 0x10) == 0) return End(30, "Device does NOT support self-test");
    uint64_t edstt = Le(identify.data(), 4096, 316, 2);
    if (extended && edstt == 0) return End(32, "Device extended self-test duration (EDSTT) is 0");
    code_ = extended ? 2 : 1;
    Json::Value& details = summary_["selftest details"];
    details["run time estimate"] = extended ? std::to_string(edstt) + " Minutes" : "< 2 minutes";

    details["status"] = Json::Value(Json::arrayValue);
    details["begin time"] = kavo::CurrentTimeText();
    RecoverLeftoverJournals(logDirectory);
    journal_ = std::make_unique<RunJournal>(SelfTestJournal(), logDirectory, summary_, kavo::MonotonicNanoseconds());
    KLOG_AS(Info, "SelfTest") << " ";
    KLOG_AS(Info, "SelfTest") << " ---- " << description << " ----";
    KLOG_AS(Info, "SelfTest") << "";
    KLOG_AS(Info, "SelfTest") << " Begin Time:         " << details["begin time"].asString();
    KLOG_AS(Info, "SelfTest") << " Estimated Run Time: " << details["run time estimate"].asString();
    KLOG_AS(Info, "SelfTest") << " Log Directory:      " << logDirectory;
    KLOG_AS(Info, "SelfTest") << "";

    if (!ReadSelfTestLog()) {
        RecordUnreadableLog("0");
    } else {
        Json::Value entry = StatusEntry("0", log6_[0]);
        std::string line = Percent4(0) + "% complete at start";
        if (readSmart_) {
            std::string tail = AddSmart(entry);
            if (!tail.empty()) KLOG_AS(Info, "SelfTest") << line << " " << tail;
        } else {
            KLOG_AS(Info, "SelfTest") << line;
        }
        Status(entry);
    }

    start_ = kavo::MonotonicNanoseconds();
    int64_t nextPoll = start_ + kSecond;
    int64_t nextStatus = start_ + displayInterval * kSecond;
    const int64_t abortDeadline = start_ + abortTime * kSecond;
    if (kavo::NvmePassThroughCommand(*handle_, "Start Extended Self-Test", kavo::kOpcodeDeviceSelfTest, 0xFFFFFFFF, code_,
                                     0, 0, 0, 0, 0, &commands_) != 0)
        return End(31, "Self-test did NOT start");

    // The polling ends however the drive behaves: after twice the drive's
    // own test time (two minutes for a short test), or the abort time when
    // that is later, and after a run of failed reads of the self-test log.
    const int64_t testSeconds = extended ? static_cast<int64_t>(edstt) * 60 : 120;
    const int64_t pollingDeadline = start_ + std::max<int64_t>(2 * testSeconds, abortTime + 60) * kSecond;
    unsigned failedReads = 0;
    unsigned lastProgress = 0;
    while (true) {
        kavo::SleepUntilMonotonic(nextPoll);
        nextPoll += kSecond;
        JournalCommands();
        journal_->Flush();
        elapsed_ = kavo::DurationText(kavo::ElapsedMilliseconds(start_), 1);
        if (kavo::MonotonicNanoseconds() > pollingDeadline)
            return End(33, "Self-test did not end within " + std::to_string((pollingDeadline - start_) / kSecond) +
                               " seconds, twice the drive's test time");
        if (!ReadSelfTestLog()) {
            RecordUnreadableLog("");
            if (++failedReads >= kMaxFailedLogReads)
                return End(33, "Log Page 6 read failed " + std::to_string(failedReads) +
                                   " times in a row: the self-test cannot be followed");
            continue;
        }
        failedReads = 0;
        if (abortTime != 0 && abortDeadline < nextPoll) {
            if (kavo::NvmeAdminCommand(*handle_, "Abort Self-Test", &commands_,
                                       kavo::kOpcodeDeviceSelfTest, 0xFFFFFFFF, 0x0F, 0, 0, 0, 0, 0, nullptr, nullptr,
                                       0) != 0)
                return End(34, "Self-test did NOT abort");
            if (!ReadSelfTestLog()) return End(36, "Log Page 6 read failed after abort test");
            if (log6_[0] != 0) {
                ++failures_;
                KLOG_AS(Error, "SelfTest") << "Operation field is not 'No device self-test operation in progress'";
            }
            if ((log6_[4] & 0xF) != 1) {
                ++failures_;
                KLOG_AS(Error, "SelfTest") << "Result status field is not 'Operation was aborted by a Device Self-test command'";
            }
            WriteDetails();
            ResultLines(" Self-Test Result  : ");
            break;
        }
        bool running = log6_[0] == code_;
        if (kavo::MonotonicNanoseconds() <= nextStatus && running) continue;
        if (!running) {
            if ((log6_[4] & 0xF) != 0) ++failures_;
            RecordRunning(elapsed_);
            WriteDetails();
            ResultLines(" Self-Test Result:   ");
            break;
        }
        nextStatus += displayInterval * kSecond;
        if (log6_[1] < lastProgress) {
            ++failures_;
            KLOG_AS(Error, "SelfTest") << "Progress must increase.  Last progress: " << lastProgress
                                       << " Current progress: " << unsigned(log6_[1]);
        }
        lastProgress = log6_[1];
        RecordRunning(elapsed_);
    }
    return failures_ == 0 ? End(0, " SELF-TEST PASSED") : End(33, " SELF-TEST FAILED");
}

}  // namespace

int SelfTest(Json::Value& settings) {
    SelfTestRun run(settings);
    return run.Run();
}
