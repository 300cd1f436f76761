// The Windows binding end to end under wine: the binding drives a storage
// driver double (storage_driver_double.h) in place of \\.\PHYSICALDRIVEn and
// the Windows NVMe driver, and the double answers from the simulated
// controller. A full read gives the same "nvme" section as the simulated
// binding; the short and extended self-tests run through the program; every
// fault kind leaves the records and messages of the command loop the Linux
// binding runs; the drive list finds two NVMe disks beside one of another
// protocol.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>

#include <windows.h>
#include <winioctl.h>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "fake_drive.h"
#include "host/kavo_windows.h"
#include "host/system_info.h"
#include "info/nvme_info.h"
#include "quellix.h"
#include "run_binary.h"
#include "storage_driver_double.h"
#include "transport/command_drive_handle.h"
#include "transport/nvme_admin_command.h"
#include "transport/simulated_drive.h"

using namespace kavo;
using test::StorageDriverDouble;

namespace {

// The closing line: how many commands went through the double.
class DoubleCount : public ::testing::Environment {
public:
    void TearDown() override {
        StorageDriverDouble::Counts totals = StorageDriverDouble::Totals();
        std::printf("[storage driver double] %zu commands went through the double: %zu query property, "
                    "%zu protocol command, %zu of all of them failed by the controller or the transport as the fault "
                    "tests ask; %zu malformed requests refused\n",
                    totals.queries + totals.protocolCommands, totals.queries, totals.protocolCommands, totals.failed,
                    totals.refused);
        std::fflush(stdout);
    }
};
const ::testing::Environment* const kDoubleCount = ::testing::AddGlobalTestEnvironment(new DoubleCount);

const std::string kExamples = QUELLIX_EXAMPLES;

Json::Value Description(const std::string& file) {
    return file.empty() ? Json::Value(Json::objectValue) : test::ReadJson(kExamples + "/drives/" + file);
}

Json::Value Parsed(const std::string& text) {
    Json::Value value;
    ParseJsonText(text, value);
    return value;
}

// "sim:FILE" for a description: the simulated binding reads it from a file.
std::string SimulatedDrive(const std::string& dir, const Json::Value& description) {
    const std::string path = dir + "\\drive.json";
    test::WriteJson(path, description);
    return "sim:" + path;
}

// Members that depend on the host or the moment rather than the drive: the
// path the drive was opened by, and the controller's running timestamp.
void DropHostAndTime(Json::Value& nvme) {
    Json::Value& parameters = nvme["parameters"];
    std::vector<std::string> drop;
    for (const std::string& name : parameters.getMemberNames())
        if (name == "OS Location" || name.find("Timestamp") != std::string::npos) drop.push_back(name);
    for (const std::string& name : drop) parameters.removeMember(name);
}

// A command record without its times.
std::string RecordLine(const CommandRecord& record) {
    return record.name + " | return code " + std::to_string(record.returnCode) + " | bytes " +
           std::to_string(record.bytesReturned) + (record.allowed ? " | allowed" : "");
}

std::vector<std::string> RecordLines(const CommandLog& log) {
    std::vector<std::string> lines;
    for (const CommandRecord& record : log) lines.push_back(RecordLine(record));
    return lines;
}

std::vector<std::string> DocumentRecords(const Json::Value& info) {
    std::vector<std::string> lines;
    for (const Json::Value& record : info["_metadata"]["commands"])
        lines.push_back(record["admin command"].asString() + " | return code " + record["return code"].asString() +
                        " | bytes " + record["bytes returned"].asString() + (record["allowed"].asBool() ? " | allowed" : ""));
    return lines;
}

// One sample of a drive as the read command takes it, as its document.
Json::Value Sample(DriveHandle& handle) {
    InfoDocument info;
    std::vector<uint8_t> identify(4096, 0);
    CommandLog commands;
    GetNvmeInfo(handle, identify.data(), test::SampleSettings(true), test::FakeDriveName(), info, commands);
    AddCommandRecords(commands, info);
    return test::DocumentJson(info);
}

// The records and error messages of what `run` does, the messages as the
// trace file shows them without time stamp and source, the binding's own
// names replaced by {source} and {call}, times by {ms}. The request dumps
// after a failure are the binding's own by design and are left out.
struct Outcome {
    std::vector<std::string> records, messages;
};

Outcome Observe(DriveHandle& handle, const std::string& dir, const std::function<void(DriveHandle&, CommandLog&)>& run) {
    const std::string trace = dir + "\\observe.trace.log";
    SwitchTraceFile(trace);
    SetLogSeverity(Severity::Error);
    CommandLog log;
    run(handle, log);
    StopLogging();
    Outcome outcome;
    outcome.records = RecordLines(log);
    std::istringstream lines(test::ReadFile(trace));
    const std::regex prefix(R"(^\[[^\]]*\]  (ERROR \[[^\]]*\] )?)");
    const std::regex milliseconds(R"([0-9][0-9.e+-]* mS)");
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        line = std::regex_replace(line, prefix, "");
        bool summary = line.compare(0, 14, "Admin command ") == 0;
        for (const CommandRecord& record : log) summary = summary || line.compare(0, record.name.size() + 2, record.name + ": ") == 0;
        if (!summary) continue;  // a line of the request dump
        for (const std::string& name : {std::string(handle.PassThroughCallName()), std::string(handle.QueryCallName())}) {
            for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at))
                line.replace(at, name.size(), "{call}");
        }
        outcome.messages.push_back(std::regex_replace(line, milliseconds, "{ms} mS"));
    }
    SetLogSeverity(Severity::Info);
    return outcome;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// The Linux binding's command loop (CommandDriveHandle, as LinuxDriveHandle
// runs it) on a simulated controller behind a kernel that refuses a
// transfer above its limit with EINVAL and reports a failed transport with
// EIO, as the kernel's NVMe admin ioctl does. A short transfer counts the
// bytes the controller delivered, as the simulated binding does (the
// kernel's ioctl itself moves all or nothing, so Linux never sees one).
class LinuxKernelDrive : public CommandDriveHandle {
public:
    LinuxKernelDrive(const Json::Value& description, uint32_t kernelLimit)
        : controller_(description, "reference"), kernelLimit_(kernelLimit) {}
    std::string HandleText() const override { return "fd 3"; }
    const char* QuerySource() const override { return "LINUX_NVME_IOCTL_ADMIN_CMD"; }
    const char* PassThroughSource() const override { return "LINUX_NVME_IOCTL_ADMIN_CMD"; }
    const char* QueryCallName() const override { return "ioctl NVME_IOCTL_ADMIN_CMD"; }
    const char* PassThroughCallName() const override { return "ioctl NVME_IOCTL_ADMIN_CMD"; }
    std::vector<std::string> QueryDump(const std::string&, const QueryPropertyRequest&) const override { return {}; }
    std::vector<std::string> PassThroughDump(const std::string&, const NvmeCommand&) const override { return {}; }

protected:
    Outcome RunCommand(const NvmeCommand& command, uint8_t* data) override {
        Outcome outcome;
        if (kernelLimit_ != 0 && command.dataLength > kernelLimit_) {
            outcome.systemError = 22;  // EINVAL
            return outcome;
        }
        SimulatedController::Completion completion = controller_.Execute(command, data);
        outcome.dw0 = completion.dw0;
        if (completion.transportError) outcome.systemError = 5;  // EIO
        else if (completion.status != 0) outcome.nvmeStatus = completion.status;
        else outcome.bytes = completion.bytes;
        return outcome;
    }
    uint32_t TransferLimit() const override { return MaxTransferBytes(controller_.IdentifyControllerData()[77]); }

private:
    SimulatedController controller_;
    uint32_t kernelLimit_;
};

// Runs `main` of the program in `dir` with `arguments`.
int RunProgram(const std::string& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quellix");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    int status = QuellixMain(static_cast<int>(argv.size()), argv.data());
    std::filesystem::current_path(before);
    return status;
}

// Win32_DiskDrive rows as WMI gives them on a Windows host with the NVMe
// driver: two NVMe disks (PNP identifiers with DISK&VEN_NVME) and a SATA
// disk behind the AHCI driver. Wine's WMI has no such disks.
Json::Value HostDiskRows(const Json::Value&) {
    return Parsed(R"({"Wmi Queries": {"Win32_DiskDrive": [
      {"Index": 0, "PNPDeviceID": "SCSI\\DISK&VEN_&PROD_ST2000DM008-2FR1\\4&2B3D5C1&0&000000"},
      {"Index": 1, "PNPDeviceID": "SCSI\\DISK&VEN_NVME&PROD_SAMSUNG_SSD_980\\5&1A2B3C4D&0&000000"},
      {"Index": 2, "PNPDeviceID": "SCSI\\DISK&VEN_NVME&PROD_WDC_WDS500G2B0C\\5&3E4F5A6B&0&000000"}]}})");
}

class ScopedDiskRows {
public:
    ScopedDiskRows() : saved_(windows_host::DriveListRows()) { windows_host::DriveListRows() = HostDiskRows; }
    ~ScopedDiskRows() { windows_host::DriveListRows() = saved_; }

private:
    windows_host::WmiRowSource saved_;
};

}  // namespace

// A full read of each example drive through the Windows binding: the "nvme"
// section equals the simulated binding's for the same description, and
// every command passes on both.
TEST(WindowsBinding, FullReadGivesTheSimulatedBindingsNvmeSection) {
    const std::string dir = test::ScratchDirectory("binding-full-read");
    for (const std::string file : {"", "healthy-1.4.json", "nvme-1.3.json", "two-namespaces.json",
                                   "namespaces-2-and-5.json", "worn-end-of-life.json", "critical-warnings.json"}) {
        SCOPED_TRACE("description " + (file.empty() ? std::string("built-in") : file));
        const Json::Value description = Description(file);
        StorageDriverDouble driver;
        driver.AddNvmeDisk(1, description);
        NvmeHandle windows = GetNvmeId("\\\\.\\PHYSICALDRIVE1", false);
        NvmeHandle simulated = GetNvmeId(SimulatedDrive(dir, description), false);
        Json::Value throughWindows = Sample(*windows), throughSimulated = Sample(*simulated);
        EXPECT_EQ(throughWindows["_metadata"]["result"].asString(), "PASS")
            << throughWindows["_metadata"]["read status"].asString() << "\n" << Joined(driver.refusals);
        EXPECT_EQ(Joined(DocumentRecords(throughWindows)), Joined(DocumentRecords(throughSimulated)));
        EXPECT_GT(throughWindows["nvme"]["parameters"].size(), 100u);
        Json::Value nvmeWindows = throughWindows["nvme"], nvmeSimulated = throughSimulated["nvme"];
        DropHostAndTime(nvmeWindows);
        DropHostAndTime(nvmeSimulated);
        EXPECT_EQ(nvmeWindows.toStyledString(), nvmeSimulated.toStyledString());
        EXPECT_TRUE(driver.refusals.empty()) << Joined(driver.refusals);
        EXPECT_GT(driver.counts().queries, 20u);
        windows.reset();
        EXPECT_EQ(driver.OpenHandles(), 0u) << "the binding closes what it opened";
    }
}

// The program's own read, short and extended self-tests against the double:
// the drive list (through the WMI seam) names disk 1, the program opens it
// for reading and for writing, and every file and exit code is as with -n sim.
TEST(WindowsBinding, ProgramReadAndSelfTestsThroughTheDouble) {
    ScopedDiskRows rows;
    StorageDriverDouble driver;
    driver.AddNvmeDisk(1);
    driver.AddOtherDisk(0);
    driver.AddNvmeDisk(2);
    const std::string dir = test::ScratchDirectory("binding-program");
    EXPECT_EQ(RunProgram(dir, {kExamples + "/read", "-d", "read"}), 0) << Joined(driver.refusals);
    Json::Value info = test::ReadJson(dir + "\\read\\nvme.info.json");
    EXPECT_EQ(info["_metadata"]["result"].asString(), "PASS");
    EXPECT_EQ(info["nvme"]["parameters"]["OS Location"]["value"].asString(), "\\\\.\\PHYSICALDRIVE1")
        << "-n * is the first NVMe disk of the list";
    const size_t afterRead = driver.counts().protocolCommands;
    EXPECT_EQ(afterRead, 0u) << "a read sends no protocol command";

    EXPECT_EQ(RunProgram(dir, {kExamples + "/self-test-short", "-n", "1", "-d", "short"}), 0) << Joined(driver.refusals);
    Json::Value shortTest = test::ReadJson(dir + "\\short\\selftest.summary.json");
    EXPECT_EQ(shortTest["_cmd"]["result"].asString(), "PASS") << shortTest["_cmd"].toStyledString();
    bool started = false;
    for (const Json::Value& record : shortTest["command times"])
        started = started || (record["admin command"].asString().find("Self-Test") != std::string::npos &&
                              record["return code"].asInt() == 0);
    EXPECT_TRUE(started) << shortTest["command times"].toStyledString();

    EXPECT_EQ(RunProgram(dir, {kExamples + "/self-test-extended", "-n", "2", "-d", "extended"}), 0)
        << Joined(driver.refusals);
    Json::Value extendedTest = test::ReadJson(dir + "\\extended\\selftest.summary.json");
    EXPECT_EQ(extendedTest["_cmd"]["result"].asString(), "PASS") << extendedTest["_cmd"].toStyledString();
    EXPECT_EQ(extendedTest["command times"][3]["admin command"].asString(), "Start Extended Self-Test");
    EXPECT_EQ(driver.counts().protocolCommands, afterRead + 2) << "one Device Self-test command for each test";
    EXPECT_TRUE(driver.refusals.empty()) << Joined(driver.refusals);
    EXPECT_EQ(driver.OpenHandles(), 0u);

    // Drive 0 is not an NVMe disk: not on the list, so the program refuses it.
    EXPECT_EQ(RunProgram(dir, {kExamples + "/read", "-n", "0", "-d", "zero"}), 19);
}

// A standard user's console opens the drive for reading only: the self-test
// fails to open it with the write-access hint, and a protocol command on a
// read-only handle is refused by the control's access check.
TEST(WindowsBinding, SelfTestNeedsWriteAccess) {
    StorageDriverDouble driver;
    driver.AddNvmeDisk(1);
    driver.elevated = false;
    try {
        GetNvmeId("\\\\.\\PHYSICALDRIVE1", true);
        FAIL() << "a standard user cannot open the drive for writing";
    } catch (const KavoError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to open handle for NVME drive '\\\\.\\PHYSICALDRIVE1'\n"
                                         "This command requires administrator privileges for write drive access");
    }
    NvmeHandle readOnly = GetNvmeId("\\\\.\\PHYSICALDRIVE1", false);
    CommandLog log;
    EXPECT_EQ(NvmePassThroughCommand(*readOnly, "Start Short Self-Test", 0x14, 0xFFFFFFFF, 1, 0, 0, 0, 0, 0, &log),
              static_cast<int>(ERROR_ACCESS_DENIED));
    ASSERT_EQ(driver.refusals.size(), 1u);
    EXPECT_EQ(driver.refusals[0], "IOCTL_STORAGE_PROTOCOL_COMMAND on a handle without read and write access");
}

// Every fault kind through the Windows binding leaves the records and
// messages that the Linux binding's command loop leaves for the same fault,
// once the platform's own names and numbers are put in, each named below.
TEST(WindowsBinding, FaultsLeaveTheRecordsAndMessagesOfLinux) {
    const std::string dir = test::ScratchDirectory("binding-faults");
    struct Case {
        const char* kind;
        const char* faults;           // the simulated drive's faults
        uint32_t driverLimit;         // the Windows adapter's and the Linux kernel's largest transfer; 0: MDTS
        bool writeAccess;
        std::function<void(DriveHandle&, CommandLog&)> run;
        // What Windows reports in place of what Linux reports, by name.
        std::vector<std::pair<std::string, std::string>> platform;
    };
    std::vector<uint8_t> buffer(65536, 0);
    auto readSmart = [&](DriveHandle& handle, CommandLog& log) {
        NvmeQueryPropertyCommand(handle, "Get Log Page 0x02", kDataTypeLogPage, 2, 0, 512, buffer.data(), nullptr, &log);
    };
    auto identify = [&](DriveHandle& handle, CommandLog& log) { IdentifyController(handle, buffer.data(), &log); };
    auto shortTest = [&](DriveHandle& handle, CommandLog& log) {
        NvmePassThroughCommand(handle, "Start Short Self-Test", 0x14, 0xFFFFFFFF, 1, 0, 0, 0, 0, 0, &log);
    };
    auto telemetry = [&](DriveHandle& handle, CommandLog& log) {
        IdentifyController(handle, buffer.data(), &log);
        NvmeQueryPropertyCommand(handle, "Get Log Page 0x07", kDataTypeLogPage, 7, 0, 8192, buffer.data(), nullptr, &log);
    };
    // The error numbers of each platform for the same failure.
    const std::pair<std::string, std::string> ioError{"returned code 5,", "returned code 1117,"};  // EIO, ERROR_IO_DEVICE
    const std::vector<Case> cases = {
        {"the control fails (query property)", R"([{"command": "log 02", "transport error": true}])", 0, false,
         readSmart, {ioError}},
        {"the control fails (protocol command)", R"([{"command": "self-test 01", "transport error": true}])", 0, true,
         shortTest,
         {{"returned error: 5 in", "returned error: 1117 in"}, {"return code 5", "return code 1117"}}},
        {"short data", R"([{"command": "identify 01", "short": 1024}])", 0, false, identify, {}},
        {"NVMe status (query property)", R"([{"command": "log 02", "status": "0x4002"}])", 0, false, readSmart,
         // The query control is METHOD_BUFFERED: a failed one returns no
         // output, so the NVMe status does not reach the program on Windows.
         {{"returned NVMe status 0x4002,", "returned code 1117,"}}},
        {"NVMe status (protocol command)", R"([{"command": "self-test 01", "status": "0x011D"}])", 0, true, shortTest,
         // ReturnStatus is STORAGE_PROTOCOL_STATUS_ERROR (2) and ErrorCode
         // the status field; the byte count is the driver's, the whole
         // 144-byte buffer.
         {{"returned status: 0x011D", "returned status: 2"},
          {"returned eror code: 0", "returned eror code: 285"},
          {"bytes returned: 0", "bytes returned: 144"},
          {"| bytes 0", "| bytes 144"}}},
        {"a transfer larger than the driver allows", "[]", 4096, false, telemetry,
         {{"returned code 22,", "returned code 87,"}}},  // EINVAL, ERROR_INVALID_PARAMETER
    };
    for (const Case& fault : cases) {
        SCOPED_TRACE(fault.kind);
        Json::Value description(Json::objectValue);
        description["faults"] = Parsed(fault.faults);
        LinuxKernelDrive reference(description, fault.driverLimit);
        Outcome expected = Observe(reference, dir, fault.run);
        StorageDriverDouble driver;
        driver.AddNvmeDisk(1, description, fault.driverLimit);
        NvmeHandle windows = GetNvmeId("\\\\.\\PHYSICALDRIVE1", fault.writeAccess);
        Outcome seen = Observe(*windows, dir, fault.run);
        ASSERT_FALSE(expected.messages.empty());
        for (auto* lines : {&expected.records, &expected.messages})
            for (std::string& line : *lines)
                for (const auto& [linuxText, windowsText] : fault.platform)
                    for (size_t at = line.find(linuxText); at != std::string::npos; at = line.find(linuxText, at + 1))
                        line.replace(at, linuxText.size(), windowsText);
        EXPECT_EQ(Joined(seen.records), Joined(expected.records));
        EXPECT_EQ(Joined(seen.messages), Joined(expected.messages));
        std::printf("[%s]\n%s%s", fault.kind, Joined(seen.records).c_str(), Joined(seen.messages).c_str());
    }
}

// A whole sample with each fault of the simulated drive: the command records
// of the info document and its read status equal the simulated binding's.
TEST(WindowsBinding, SamplesWithFaultsRecordWhatTheSimulatedBindingRecords) {
    const std::string dir = test::ScratchDirectory("binding-sample-faults");
    for (const char* faults : {R"([{"command": "log 03", "short": 100}])",
                               R"([{"command": "feature 04", "transport error": true}])",
                               R"([{"command": "identify 00", "status": "0x4002", "after": 0}])",
                               R"([{"command": "log", "status": "0x4009"}])"}) {
        SCOPED_TRACE(faults);
        Json::Value description(Json::objectValue);
        description["faults"] = Parsed(faults);
        StorageDriverDouble driver;
        driver.AddNvmeDisk(1, description);
        NvmeHandle windows = GetNvmeId("\\\\.\\PHYSICALDRIVE1", false);
        NvmeHandle simulated = GetNvmeId(SimulatedDrive(dir, description), false);
        Json::Value throughWindows = Sample(*windows), throughSimulated = Sample(*simulated);
        EXPECT_EQ(throughWindows["_metadata"]["result"].asString(), "FAIL");
        EXPECT_EQ(throughWindows["_metadata"]["read status"], throughSimulated["_metadata"]["read status"]);
        EXPECT_EQ(Joined(DocumentRecords(throughWindows)), Joined(DocumentRecords(throughSimulated)));
        Json::Value nvmeWindows = throughWindows["nvme"], nvmeSimulated = throughSimulated["nvme"];
        DropHostAndTime(nvmeWindows);
        DropHostAndTime(nvmeSimulated);
        EXPECT_EQ(nvmeWindows.toStyledString(), nvmeSimulated.toStyledString());
    }
}

// What the double refuses, and how. The binding's own path never sends a
// wrong ProtocolDataOffset; this buffer, built from the SDK structures, does.
TEST(StorageDriverDouble, RefusesMalformedRequestsAsTheDriverDoes) {
    StorageDriverDouble driver;
    driver.AddNvmeDisk(1);
    driver.AddOtherDisk(0);
    const WindowsDeviceCalls calls = DeviceCalls();
    HANDLE disk = calls.createFile("\\\\.\\PHYSICALDRIVE1", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(disk, INVALID_HANDLE_VALUE);

    // Identify Controller as the documentation's example asks for it.
    struct Query {
        STORAGE_PROPERTY_ID PropertyId;
        STORAGE_QUERY_TYPE QueryType;
        STORAGE_PROTOCOL_SPECIFIC_DATA data;
    };
    static_assert(offsetof(Query, data) == offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters));
    auto identify = [] {
        Query query{};
        query.PropertyId = StorageAdapterProtocolSpecificProperty;
        query.QueryType = PropertyStandardQuery;
        query.data.ProtocolType = ProtocolTypeNvme;
        query.data.DataType = NVMeDataTypeIdentify;
        query.data.ProtocolDataRequestValue = 1;  // NVME_IDENTIFY_CNS_CONTROLLER
        query.data.ProtocolDataOffset = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
        query.data.ProtocolDataLength = 4096;
        return query;
    };
    std::vector<BYTE> output(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) + 4096, 0xEE);
    DWORD bytes = 0;
    auto send = [&](HANDLE handle, Query query, DWORD outSize) {
        std::fill(output.begin(), output.end(), 0xEE);
        bytes = 12345;
        SetLastError(0);
        BOOL ok = calls.deviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, output.data(),
                                        outSize, &bytes, nullptr);
        return ok ? DWORD(ERROR_SUCCESS) : GetLastError();
    };
    const DWORD full = static_cast<DWORD>(output.size());

    ASSERT_EQ(send(disk, identify(), full), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(bytes, full);
    STORAGE_PROTOCOL_DATA_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, output.data(), sizeof descriptor);
    EXPECT_EQ(descriptor.Version, sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));
    EXPECT_EQ(descriptor.ProtocolSpecificData.ProtocolDataOffset, sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA));
    EXPECT_EQ(descriptor.ProtocolSpecificData.ProtocolDataLength, 4096u);

    // The wrong ProtocolDataOffset: the data would overlap the structure.
    Query wrongOffset = identify();
    wrongOffset.data.ProtocolDataOffset = 8;
    EXPECT_EQ(send(disk, wrongOffset, full), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(output[0], 0xEE) << "a failed METHOD_BUFFERED control returns no output";
    EXPECT_EQ(driver.refusals.back(), "ProtocolDataOffset 8 below sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) 40");
    // An offset past the structure is allowed, but needs the room.
    Query farOffset = identify();
    farOffset.data.ProtocolDataOffset = 64;
    EXPECT_EQ(send(disk, farOffset, full), DWORD(ERROR_INSUFFICIENT_BUFFER));

    Query other = identify();
    other.data.ProtocolType = ProtocolTypeAta;
    EXPECT_EQ(send(disk, other, full), DWORD(ERROR_INVALID_FUNCTION));
    other = identify();
    other.data.DataType = NVMeDataTypeUnknown;
    EXPECT_EQ(send(disk, other, full), DWORD(ERROR_INVALID_PARAMETER));
    other.data.DataType = 7;
    EXPECT_EQ(send(disk, other, full), DWORD(ERROR_INVALID_FUNCTION));
    other = identify();
    other.data.ProtocolDataRequestValue = 0x15;  // a CNS the driver does not carry
    EXPECT_EQ(send(disk, other, full), DWORD(ERROR_INVALID_FUNCTION));
    other = identify();
    other.data.ProtocolDataRequestSubValue4 = 1;
    EXPECT_EQ(send(disk, other, full), DWORD(ERROR_INVALID_PARAMETER));
    other = identify();
    other.PropertyId = StorageDeviceProperty;
    EXPECT_EQ(send(disk, other, full), DWORD(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(send(disk, identify(), full - 1), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(send(disk, identify(), 40), DWORD(ERROR_INSUFFICIENT_BUFFER));
    Query log = identify();
    log.data.DataType = NVMeDataTypeLogPage;
    log.data.ProtocolDataRequestValue = 2;
    log.data.ProtocolDataLength = 512;
    EXPECT_EQ(send(disk, log, full), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(bytes, 48u + 512u);
    log.data.ProtocolDataRequestSubValue = 2;  // a log page offset that is no dword
    EXPECT_EQ(send(disk, log, full), DWORD(ERROR_INVALID_PARAMETER));
    log.data.ProtocolDataRequestSubValue = 0;
    log.data.ProtocolDataLength = 0;
    EXPECT_EQ(send(disk, log, full), DWORD(ERROR_INVALID_PARAMETER));

    // A short input buffer, an unknown control, a disk of another protocol.
    SetLastError(0);
    Query query = identify();
    EXPECT_FALSE(calls.deviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, 20, output.data(), full, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(calls.deviceIoControl(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, output.data(), full, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FUNCTION));
    HANDLE sata = calls.createFile("\\\\.\\PHYSICALDRIVE0", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(send(sata, identify(), full), DWORD(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(calls.createFile("\\\\.\\PHYSICALDRIVE7", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    // The protocol command: Device Self-test as the binding sends it, then
    // each header field out of its range.
    HANDLE writable = calls.createFile("\\\\.\\PHYSICALDRIVE1", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    auto selfTest = [] {
        std::vector<BYTE> buffer(offsetof(test::DocumentedProtocolCommand, Command) + 64, 0);
        auto* command = reinterpret_cast<test::DocumentedProtocolCommand*>(buffer.data());
        command->Version = test::kDocumentedStructureVersion;
        command->Length = sizeof(test::DocumentedProtocolCommand);
        command->ProtocolType = ProtocolTypeNvme;
        command->Flags = test::kDocumentedFlagAdapterRequest;
        command->CommandLength = test::kDocumentedCommandLengthNvme;
        command->TimeOutValue = 2;
        command->CommandSpecific = test::kDocumentedNvmeAdminCommand;
        BYTE* nvme = command->Command;
        nvme[0] = 0x14;                           // Device Self-test
        std::memset(nvme + 4, 0xFF, 4);            // NSID: every namespace
        nvme[40] = 1;                              // CDW10: short self-test
        return buffer;
    };
    auto pass = [&](HANDLE handle, std::vector<BYTE> buffer) {
        SetLastError(0);
        BOOL ok = calls.deviceIoControl(handle, IOCTL_STORAGE_PROTOCOL_COMMAND, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        buffer.data(), static_cast<DWORD>(buffer.size()), &bytes, nullptr);
        return ok ? DWORD(ERROR_SUCCESS) : GetLastError();
    };
    auto changed = [&](const std::function<void(test::DocumentedProtocolCommand&)>& change) {
        std::vector<BYTE> buffer = selfTest();
        change(*reinterpret_cast<test::DocumentedProtocolCommand*>(buffer.data()));
        return buffer;
    };
    std::vector<BYTE> answer = selfTest();
    ASSERT_TRUE(calls.deviceIoControl(writable, IOCTL_STORAGE_PROTOCOL_COMMAND, answer.data(), 144, answer.data(), 144,
                                      &bytes, nullptr));
    EXPECT_EQ(reinterpret_cast<test::DocumentedProtocolCommand*>(answer.data())->ReturnStatus, test::kDocumentedStatusSuccess);
    EXPECT_EQ(bytes, 144u);
    EXPECT_EQ(pass(disk, selfTest()), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(pass(writable, changed([](auto& c) { c.Length = 80; })), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(pass(writable, changed([](auto& c) { c.Version = 2; })), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(pass(writable, changed([](auto& c) { c.CommandLength = 16; })), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(pass(writable, changed([](auto& c) { c.Flags = 0; })), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(pass(writable, changed([](auto& c) { c.ProtocolType = ProtocolTypeScsi; })), DWORD(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(pass(writable, changed([](auto& c) { c.CommandSpecific = test::kDocumentedNvmeNvmCommand; })),
              DWORD(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(pass(writable, changed([](auto& c) { c.DataFromDeviceTransferLength = 512, c.DataFromDeviceBufferOffset = 144; })),
              DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(pass(writable, changed([](auto& c) { c.Command[0] = 0x06; })), DWORD(ERROR_INVALID_FUNCTION));
    std::vector<BYTE> shortCommand = selfTest();
    shortCommand.resize(100);
    EXPECT_EQ(pass(writable, shortCommand), DWORD(ERROR_INVALID_PARAMETER));

    for (HANDLE handle : {disk, sata, writable}) EXPECT_TRUE(calls.closeHandle(handle));
    EXPECT_FALSE(calls.closeHandle(disk));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    std::printf("[storage driver double] refused:\n%s", Joined(driver.refusals).c_str());
}

// Drive discovery: WMI's disk rows of a Windows host with two NVMe disks and
// a SATA disk give drives 1 and 2; each opens and answers Identify
// Controller through the binding, the SATA disk refuses the NVMe request.
TEST(WindowsDiscovery, TwoNvmeDisksAndOneOther) {
    ScopedDiskRows rows;
    StorageDriverDouble driver;
    driver.AddOtherDisk(0);
    Json::Value second(Json::objectValue);
    second["identify controller"]["MN"] = "Second Drive";
    driver.AddNvmeDisk(1);
    driver.AddNvmeDisk(2, second);
    EXPECT_EQ(GetNvmeDriveList(), (std::vector<std::string>{"1", "2"}));
    std::vector<NvmeControllerSummary> list = ListNvmeControllers();
    ASSERT_EQ(list.size(), 2u);
    std::vector<std::string> models;
    for (const NvmeControllerSummary& controller : list) {
        EXPECT_EQ(controller.path, "\\\\.\\PHYSICALDRIVE" + controller.number);
        NvmeHandle drive = GetNvmeId(controller.path, false);
        std::vector<uint8_t> identify(4096, 0);
        CommandLog log;
        ASSERT_EQ(IdentifyController(*drive, identify.data(), &log), 0);
        models.push_back(Trim(std::string(reinterpret_cast<const char*>(&identify[24]), 40)));
    }
    EXPECT_EQ(models[1], "Second Drive");
    EXPECT_NE(models[0], models[1]);
    NvmeHandle sata = GetNvmeId("\\\\.\\PHYSICALDRIVE0", false);
    CommandLog log;
    std::vector<uint8_t> identify(4096, 0x5A);
    EXPECT_EQ(IdentifyController(*sata, identify.data(), &log), 1);
    EXPECT_EQ(identify[0], 0x5A);
    EXPECT_EQ(driver.refusals.back(), "NVMe protocol data asked of a disk of another protocol");
}

// What wine's own WMI gives for the drive list: Win32_DiskDrive rows of
// wine's disks (IDE\DISK\...VEN_WINE, no NVMe), so the list is empty; on a
// Windows host with the NVMe driver the rows above come from WMI itself.
TEST(WindowsDiscovery, WinesOwnDiskRowsHoldNoNvmeDisk) {
    Json::Value queries = Parsed(windows_host::DriveQueryList());
    Json::Value rows;
    try {
        rows = windows_host::DriveListRows()(queries);
    } catch (const KavoError& e) {
        EXPECT_STREQ(e.what(), "WMI is not running");
        return;
    }
    for (const Json::Value& row : rows["Wmi Queries"]["Win32_DiskDrive"])
        EXPECT_EQ(row["PNPDeviceID"].asString().find("DISK&VEN_NVME"), std::string::npos) << CompactJson(row);
    EXPECT_TRUE(GetNvmeDriveList().empty());
}
