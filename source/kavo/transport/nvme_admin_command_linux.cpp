// Linux binding of the admin command interface.
#include "transport/nvme_admin_command_linux.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "base/kavo_log.h"
#include "base/kavo_text.h"

namespace kavo {
namespace {

void HintOnPermission(int error) {
    static bool hinted = false;
    if ((error == EACCES || error == EPERM) && !hinted) {
        hinted = true;
        KLOG_AS(Error, "LINUX_NVME_IOCTL_ADMIN_CMD") << "NVMe admin commands need root privileges on Linux (run as root)";
    }
}

std::string DecimalLine(const char* label, uint64_t value) { return std::string(label) + std::to_string(value); }

}  // namespace

int KernelAdminIoctl(int fd, nvme_admin_cmd* command) {
    int result = ioctl(fd, NVME_IOCTL_ADMIN_CMD, command);
    return result < 0 ? -errno : result;
}

NvmeHandle OpenPlatformDrive(const std::string& path, bool writeAccess) {
    int fd = open(path.c_str(), (writeAccess ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        HintOnPermission(errno);
        return nullptr;
    }
    return std::make_unique<LinuxDriveHandle>(fd, KernelAdminIoctl);
}

const char* WriteAccessHint() { return "This command requires root privileges for write drive access"; }
const char* PlatformName() { return "the Linux OS"; }
std::string PlatformDrivePath(const std::string& drive) { return "/dev/nvme" + drive; }
std::string DriveNumberOfPlatformName(const std::string& drive) {
    return DriveNumberAfterPrefix(drive, {"/dev/nvme", "nvme"});
}
const char* PlatformDriveNameForms() { return "nvme0 or /dev/nvme0"; }

LinuxDriveHandle::LinuxDriveHandle(int fd, AdminIoctl ioctl) : fd_(fd), ioctl_(std::move(ioctl)) {}

LinuxDriveHandle::~LinuxDriveHandle() {
    if (fd_ >= 0) close(fd_);
}

std::string LinuxDriveHandle::HandleText() const { return "fd " + std::to_string(fd_); }

CommandDriveHandle::Outcome LinuxDriveHandle::RunCommand(const NvmeCommand& command, uint8_t* data) {
    nvme_admin_cmd request;
    std::memset(&request, 0, sizeof request);
    request.opcode = command.opcode;
    request.nsid = command.nsid;
    request.cdw10 = command.cdw10;
    request.cdw11 = command.cdw11;
    request.cdw12 = command.cdw12;
    request.cdw13 = command.cdw13;
    request.cdw14 = command.cdw14;
    request.cdw15 = command.cdw15;
    request.addr = command.dataLength != 0 ? reinterpret_cast<uintptr_t>(data) : 0;
    request.data_len = command.dataLength;
    request.timeout_ms = command.timeoutMs;
    Outcome outcome;
    int64_t start = MonotonicNanoseconds();
    int result = ioctl_(fd_, &request);
    outcome.milliseconds = ElapsedMilliseconds(start);
    outcome.dw0 = request.result;
    if (result < 0) {
        HintOnPermission(-result);
        outcome.systemError = static_cast<uint32_t>(-result);
    } else if (result > 0) {
        outcome.nvmeStatus = static_cast<uint16_t>(result);
    } else {
        outcome.bytes = command.dataLength;  // the ioctl moves all or nothing
    }
    return outcome;
}

std::vector<std::string> LinuxDriveHandle::QueryDump(const std::string& name, const QueryPropertyRequest& request) const {
    std::vector<std::string> lines = {"Additional debug info...",
                                      "Running NVMe Admin " + name + " command using NVME_IOCTL_ADMIN_CMD"};
    for (const EncodedCommand& encoded : EncodeQueryProperty(request, TransferLimit())) {
        lines.push_back(DecimalLine("nvme_admin_cmd: opcode = ", encoded.command.opcode));
        lines.push_back(DecimalLine("nvme_admin_cmd: nsid = ", encoded.command.nsid));
        lines.push_back(DecimalLine("nvme_admin_cmd: cdw10 = ", encoded.command.cdw10));
        lines.push_back(DecimalLine("nvme_admin_cmd: cdw11 = ", encoded.command.cdw11));
        lines.push_back(DecimalLine("nvme_admin_cmd: cdw12 = ", encoded.command.cdw12));
        lines.push_back(DecimalLine("nvme_admin_cmd: data_len = ", encoded.command.dataLength));
    }
    lines.push_back("Handle = " + HandleText());
    return lines;
}

std::vector<std::string> LinuxDriveHandle::PassThroughDump(const std::string& name, const NvmeCommand& command) const {
    return {"Additional debug info...",
            "NVMe Admin Command " + name + " run using NVME_IOCTL_ADMIN_CMD (Pass-Thru method)",
            DecimalLine("nvme_admin_cmd: timeout_ms = ", command.timeoutMs),
            DecimalLine("nvme_admin_cmd: opcode = ", command.opcode),
            DecimalLine("nvme_admin_cmd: nsid = ", command.nsid),
            DecimalLine("nvme_admin_cmd: cdw10 = ", command.cdw10),
            DecimalLine("nvme_admin_cmd: cdw11 = ", command.cdw11),
            DecimalLine("nvme_admin_cmd: cdw12 = ", command.cdw12),
            DecimalLine("nvme_admin_cmd: cdw13 = ", command.cdw13),
            DecimalLine("nvme_admin_cmd: cdw14 = ", command.cdw14),
            DecimalLine("nvme_admin_cmd: cdw15 = ", command.cdw15),
            "Handle = " + HandleText()};
}

}  // namespace kavo
