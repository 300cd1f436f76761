#pragma once
// The Linux binding: NVMe admin commands through the kernel's admin
// pass-through ioctl on /dev/nvmeN. The ioctl is reached through a function
// object so that tests can capture the command without a device.
#include <functional>

#include <linux/nvme_ioctl.h>

#include "transport/command_drive_handle.h"

namespace kavo {

using AdminIoctl = std::function<int(int fd, nvme_admin_cmd* command)>;

class LinuxDriveHandle : public CommandDriveHandle {
public:
    LinuxDriveHandle(int fd, AdminIoctl ioctl);
    ~LinuxDriveHandle() override;

    std::string HandleText() const override;
    const char* QuerySource() const override { return "LINUX_NVME_IOCTL_ADMIN_CMD"; }
    const char* PassThroughSource() const override { return "LINUX_NVME_IOCTL_ADMIN_CMD"; }
    const char* QueryCallName() const override { return "ioctl NVME_IOCTL_ADMIN_CMD"; }
    const char* PassThroughCallName() const override { return "ioctl NVME_IOCTL_ADMIN_CMD"; }
    std::vector<std::string> QueryDump(const std::string& name, const QueryPropertyRequest& request) const override;
    std::vector<std::string> PassThroughDump(const std::string& name, const NvmeCommand& command) const override;

protected:
    Outcome RunCommand(const NvmeCommand& command, uint8_t* data) override;

private:
    int fd_;
    AdminIoctl ioctl_;
};

// The real ioctl.
int KernelAdminIoctl(int fd, nvme_admin_cmd* command);

}  // namespace kavo
