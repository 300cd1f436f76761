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
#include "base/json_writer.h"
#include "base/kavo_json.h"
#include "decode/health_log.h"
#include "base/kavo_log.h"
#include "decode/decoders.h"
#include "info/nvme_info.h"
#include "base/kavo_text.h"
#include "base/stop_request.h"
#include "quellix.h"
#include "report.h"
#include "run_journal.h"
#include "selftest_records.h"

namespace fs = std::filesystem;

namespace {

// Failed reads of the self-test log in a row that end the polling.
constexpr unsigned kMaxFailedLogReads = 10;
// The exit code of a run whose polling a stop request (Ctrl-C, SIGTERM)
// ended: the drive's test goes on, its result is not known.
constexpr int kExitInterrupted = 35;

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
    explicit SelfTestRun(const Settings& settings) : settings_(settings) {}
    int Run();

private:
    int Steps();
    int End(int code, const std::string& message);
    // Ends a run whose polling was stopped, the drive's test left running.
    int Interrupted(bool started);
    kavo::NumberedRecord StatusEntry(unsigned percent, uint8_t status);
    // Adds the SMART members to `entry` and returns the info line's tail.
    std::string AddSmart(kavo::NumberedRecord& entry);
    bool ReadSelfTestLog() {
        return kavo::ReadLogPage(0x06, 564, *handle_, log6_.data(), &commands_) == 0;
    }
    void WriteDetails();
    void ResultLines(const char* resultLabel);
    void RecordRunning(const std::string& elapsed);
    // A status entry for a failed read of the self-test log, counted as a failure.
    void RecordUnreadableLog(const std::string& percent);

    // Status entries and command records go to the journal as they happen.
    void Status(const kavo::NumberedRecord& entry);
    void JournalCommands();

    const Settings& settings_;
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
    bool ending_ = false;
};

kavo::NumberedRecord SelfTestRun::StatusEntry(unsigned percent, uint8_t status) {
    kavo::NumberedRecord entry;
    entry.Set("percent complete", std::to_string(percent));
    entry.SetNumber("percent complete", kavo::Number::Unsigned(percent));
    entry.Set("timestamp", kavo::CurrentTimeText());
    entry.Set("message", "");
    entry.Set("status", status);
    return entry;
}

std::string SelfTestRun::AddSmart(kavo::NumberedRecord& entry) {
    if (kavo::ReadLogPage(0x02, 512, *handle_, log2_.data(), &commands_) != 0) {
        ++failures_;
        entry.Set("message", kLogPage2Failed);
        KLOG_AS(Error, "SelfTest") << kLogPage2Failed;
        return "";
    }
    const kavo::SmartHealth h = kavo::ParseSmartHealth(log2_.data());
    // The texts a status entry has always shown: the temperature and the
    // amounts as the info document shows them, the rest as plain digits.
    auto add = [&](const char* member, const kavo::Rendered& value) {
        entry.Set(member, value.text);
        entry.SetNumber(member, value.number);
    };
    const kavo::Rendered temperature = kavo::CelsiusOfKelvin(h.compositeKelvin);
    add("Composite Temperature", temperature);
    add("Percentage Used", kavo::PlainNumber(h.percentageUsed));
    add("Power On Hours", kavo::GroupedNumber(h.powerOnHours));
    add("Data Read", kavo::DataUnitsAsGigabytes(h.dataUnitsRead));
    add("Data Written", kavo::DataUnitsAsGigabytes(h.dataUnitsWritten));
    add("Warning Composite Temperature Time", kavo::PlainNumber(h.warningTemperatureMinutes));
    add("Critical Composite Temperature Time", kavo::PlainNumber(h.criticalTemperatureMinutes));
    add("Thermal Management Temperature 1 Time", kavo::PlainNumber(h.thermalSeconds[0]));
    add("Thermal Management Temperature 2 Time", kavo::PlainNumber(h.thermalSeconds[1]));
    return "  Temp: " + temperature.text;
}

// One status entry of a running (or just ended) test: percent, SMART members
// and the progress line.
void SelfTestRun::RecordRunning(const std::string& elapsed) {
    kavo::NumberedRecord entry = StatusEntry(log6_[1], log6_[0]);
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
    kavo::NumberedRecord entry;
    entry.Set("percent complete", percent);
    if (!percent.empty()) entry.SetNumber("percent complete", kavo::Number::FromLiteral(percent));
    entry.Set("timestamp", kavo::CurrentTimeText());
    entry.Set("message", kLogPage6Failed);
    KLOG_AS(Error, "SelfTest") << kLogPage6Failed;
    Status(entry);
}

void SelfTestRun::WriteDetails() {
    Json::Value& details = summary_["selftest details"];
    const kavo::SelfTestResult newest = kavo::ParseSelfTestLog(log6_.data()).results[0];
    const unsigned result = newest.result();
    details["end time"] = kavo::CurrentTimeText();
    details["run time"] = elapsed_;
    details["run time in ms"] = kavo::ElapsedMilliseconds(start_);
    details["return code"] = result;
    details["log page 6 result"] = std::to_string(result);
    details["log page 6 power on hours"] = kavo::GroupedDecimal64(newest.powerOnHours);
    Json::Value& numbers = details["numbers"];
    numbers["log page 6 result"] = result;
    numbers["log page 6 power on hours"] = Json::UInt64(newest.powerOnHours);
    // Where the newest test failed, when the drive says.
    if (result == 7) {
        details["failing segment"] = std::to_string(newest.segment);
        numbers["failing segment"] = newest.segment;
    }
    if (newest.valid & 0x01) {
        details["failing namespace"] = std::to_string(newest.nsid);
        numbers["failing namespace"] = newest.nsid;
    }
    if (newest.valid & 0x02) {
        details["failing lba"] = kavo::GroupedDecimal64(newest.failingLba);
        numbers["failing lba"] = Json::UInt64(newest.failingLba);
    }
    if (newest.valid & 0x04) numbers["status code type"] = newest.statusCodeType;
    if (newest.valid & 0x08) numbers["status code"] = newest.statusCode;
    details["self-test log"] = SelfTestLogEntries(kavo::ParseSelfTestLog(log6_.data()));
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

void SelfTestRun::Status(const kavo::NumberedRecord& entry) {
    JournalCommands();
    journal_->Sample(entry.Compact());
    journal_->Flush();
}

int SelfTestRun::End(int code, const std::string& message) {
    ending_ = true;
    handle_.reset();
    if (!journal_) {
        // Ended before the test started: the few records are in memory.
        summary_["command times"] = kavo::CommandLogJson(commands_);
    } else {
        try {
            JournalCommands();
        } catch (const kavo::Error&) {
            // The journal failed: the summary holds what reached it.
        }
    }
    return FinishRun(summary_, code, message, summaryPath_, journal_.get(), report_, SelfTestJournal());
}

int SelfTestRun::Interrupted(bool started) {
    summary_["_cmd"]["interrupted"] = true;
    if (!started) return End(kExitInterrupted, " Interrupted before the self-test started: no self-test was started");
    Json::Value& details = summary_["selftest details"];
    details["end time"] = kavo::CurrentTimeText();
    details["run time"] = kavo::DurationText(kavo::ElapsedMilliseconds(start_), 1);
    details["run time in ms"] = kavo::ElapsedMilliseconds(start_);
    return End(kExitInterrupted,
               " Self-test polling interrupted: the drive's self-test was not aborted and goes on; its result will "
               "be in the drive's self-test log (log page 06h)");
}

int SelfTestRun::Run() {
    // Once the run writes into its folder, an error that ends it (a file
    // that cannot be written) ends it with a summary that says so.
    try {
        return Steps();
    } catch (const kavo::Error& e) {
        if (!journal_ || ending_) throw;
        return End(e.exitCode(), e.what());
    }
}

int SelfTestRun::Steps() {
    InstallConsoleHandlers();
    commands_.clear();
    summary_["_cmd"]["begin time"] = kavo::CurrentTimeText();
    summary_["_settings"] = settings_.json;
    const std::string& logDirectory = settings_.common.logDirectory;
    summaryPath_ = fs::absolute(fs::path(logDirectory) / "selftest.summary.json").string();
    const uint32_t displayInterval = settings_.selfTest.displayIntervalSeconds;
    const uint32_t abortTime = settings_.selfTest.abortTimeSeconds;
    const bool extended = settings_.selfTest.extended;
    readSmart_ = settings_.selfTest.readSmartData;
    report_ = settings_.common.report;
    const std::string& description = settings_.common.description;

    handle_ = kavo::GetNvmeId(settings_.common.drive.nvmePath, true);
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
    // The test that runs (-e makes any command file's test an extended one)
    // and the drive it runs on, for the report.
    details["test"] = extended ? "extended" : "short";
    details["drive"] = SelfTestDrive(identify.data(), settings_.common.drive.nvmePath);

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
        kavo::NumberedRecord entry = StatusEntry(0, log6_[0]);
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
    if (kavo::StopRequested()) return Interrupted(false);
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
        if (kavo::StopRequested()) return Interrupted(true);
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

int SelfTest(const Settings& settings) {
    SelfTestRun run(settings);
    return run.Run();
}
