#pragma once
// The Linux binding: NVMe admin commands through the kernel's admin
// pass-through ioctl on /dev/nvmeN. The ioctl is reached through a function
// object so that tests can capture the command without a device.
#include <functional>

#include <linux/nvme_ioctl.h>

#include "nvme_admin_command.h"

namespace kavo {

using AdminIoctl = std::function<int(int fd, nvme_admin_cmd* command)>;

class LinuxDriveHandle : public DriveHandle {
public:
    LinuxDriveHandle(int fd, AdminIoctl ioctl);
    ~LinuxDriveHandle() override;

    std::string HandleText() const override;
    const char* QuerySource() const override { return "LINUX_NVME_IOCTL_ADMIN_CMD"; }
    const char* PassThroughSource() const override { return "LINUX_NVME_IOCTL_ADMIN_CMD"; }
    const char* QueryCallName() const override { return "ioctl NVME_IOCTL_ADMIN_CMD"; }
    const char* PassThroughCallName() const override { return "ioctl NVME_IOCTL_ADMIN_CMD"; }
    QueryPropertyResult QueryProperty(const QueryPropertyRequest& request, uint8_t* data) override;
    PassThroughResult PassThrough(const NvmeCommand& command) override;
    std::vector<std::string> QueryDump(const std::string& name, const QueryPropertyRequest& request) const override;
    std::vector<std::string> PassThroughDump(const std::string& name, const NvmeCommand& command) const override;

private:
    // Runs one command; returns the ioctl result (negative: -errno).
    int Run(const NvmeCommand& command, void* data, uint32_t& dw0, double& milliseconds);

    int fd_;
    AdminIoctl ioctl_;
    uint32_t maxTransferBytes_ = 0;  // learnt from Identify Controller MDTS
};

// The real ioctl.
int KernelAdminIoctl(int fd, nvme_admin_cmd* command);

}  // namespace kavo
