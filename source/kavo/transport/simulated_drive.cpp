// The simulated drive's handle: the simulated controller behind the shared
// request-to-commands loop, as a real drive sits behind the Linux ioctl.
#include "transport/simulated_drive.h"

#include <chrono>
#include <thread>

#include "base/kavo_text.h"
#include "transport/command_drive_handle.h"

namespace kavo {
namespace {

class SimulatedDriveHandle : public CommandDriveHandle {
public:
    SimulatedDriveHandle(const Json::Value& description, const std::string& origin, std::string name)
        : controller_(description, origin), name_(std::move(name)) {}

    std::string HandleText() const override { return name_; }
    const char* QuerySource() const override { return "SIM_ADMIN_COMMAND"; }
    const char* PassThroughSource() const override { return "SIM_ADMIN_COMMAND"; }
    const char* QueryCallName() const override { return "simulated controller"; }
    const char* PassThroughCallName() const override { return "simulated controller"; }

    std::vector<std::string> QueryDump(const std::string& name, const QueryPropertyRequest& request) const override {
        return {"Additional debug info...", "Running NVMe Admin " + name + " command on the simulated controller",
                "Data type = " + std::to_string(request.dataType),
                "Request value = " + std::to_string(request.requestValue),
                "Request sub-value = " + std::to_string(request.requestSubValue),
                "Data length = " + std::to_string(request.dataLength), "Handle = " + name_};
    }

    std::vector<std::string> PassThroughDump(const std::string& name, const NvmeCommand& command) const override {
        return {"Additional debug info...",
                "NVMe Admin Command " + name + " run on the simulated controller (Pass-Thru method)",
                "Command.OPC = " + std::to_string(command.opcode), "Command.NSID = " + std::to_string(command.nsid),
                "Command.CDW10 = " + std::to_string(command.cdw10), "Command.CDW11 = " + std::to_string(command.cdw11),
                "Handle = " + name_};
    }

protected:
    Outcome RunCommand(const NvmeCommand& command, uint8_t* data) override {
        Outcome outcome;
        int64_t start = MonotonicNanoseconds();
        SimulatedController::Completion completion = controller_.Execute(command, data);
        // A hung command never returns, as a device that stopped answering
        // leaves its ioctl waiting: only the end of the process ends it.
        while (completion.hang) std::this_thread::sleep_for(std::chrono::hours(1));
        if (completion.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(completion.delayMs));
        outcome.milliseconds = ElapsedMilliseconds(start);
        outcome.dw0 = completion.dw0;
        if (completion.transportError) outcome.systemError = 5;  // an I/O error of the transport
        else outcome.nvmeStatus = completion.status;
        outcome.bytes = completion.bytes;
        return outcome;
    }
    // The controller's own MDTS, whether or not Identify Controller was read.
    uint32_t TransferLimit() const override { return MaxTransferBytes(controller_.IdentifyControllerData()[77]); }

private:
    SimulatedController controller_;
    std::string name_;
};

}  // namespace

NvmeHandle OpenSimulatedDrive(const std::string& driveText) {
    std::string origin;
    Json::Value description = LoadSimulatedDescription(driveText, origin);
    return std::make_unique<SimulatedDriveHandle>(description, origin, driveText);
}

void CheckSimulatedDrive(const std::string& driveText) {
    std::string origin;
    Json::Value description = LoadSimulatedDescription(driveText, origin);
    SimulatedController check(description, origin);
}

std::string SimulatedSerial(const std::string& driveText) {
    std::string origin;
    Json::Value description = LoadSimulatedDescription(driveText, origin);
    SimulatedController controller(description, origin);
    return DriveField(controller.IdentifyControllerData().data() + 4, 20);
}

}  // namespace kavo
