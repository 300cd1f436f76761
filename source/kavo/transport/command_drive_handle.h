#pragma once
// The part of a binding that carries real NVMe admin commands (the Linux
// ioctl, the simulated controller): a query-property request becomes one or
// more encoded commands, each run through the binding's RunCommand, and the
// pieces are assembled into one result. A binding supplies only how one
// command runs and how it fails.
#include <vector>

#include "transport/nvme_admin_command.h"

namespace kavo {

class CommandDriveHandle : public DriveHandle {
public:
    QueryPropertyResult QueryProperty(const QueryPropertyRequest& request, uint8_t* data) final;
    PassThroughResult PassThrough(const NvmeCommand& command) final;

protected:
    // What one admin command did.
    struct Outcome {
        uint32_t systemError = 0;  // the transport failed (errno-style value)
        uint16_t nvmeStatus = 0;   // the controller failed the command
        uint32_t dw0 = 0;          // completion dword 0
        uint32_t bytes = 0;        // data bytes delivered
        double milliseconds = 0;   // time of the command alone
    };
    // Runs one command; `data` has room for command.dataLength bytes.
    virtual Outcome RunCommand(const NvmeCommand& command, uint8_t* data) = 0;
    // Largest transfer of one command, 0 for unlimited. By default learnt
    // from the MDTS of the last Identify Controller read through this handle.
    virtual uint32_t TransferLimit() const { return learntTransferLimit_; }

private:
    uint32_t learntTransferLimit_ = 0;
    // Reused from command to command: a fresh large buffer each time makes
    // the allocator tidy its free lists on every command.
    std::vector<uint8_t> bounce_;
};

}  // namespace kavo
