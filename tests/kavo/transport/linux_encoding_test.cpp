// What the Linux binding hands to the admin pass-through ioctl.
#include <gtest/gtest.h>

#include <cstring>

#include "transport/nvme_admin_command_linux.h"

using namespace kavo;

namespace {

struct Captured {
    std::vector<nvme_admin_cmd> commands;
    int status = 0;
};

LinuxDriveHandle Handle(Captured& captured, uint8_t mdts = 0) {
    return LinuxDriveHandle(-1, [&captured, mdts](int, nvme_admin_cmd* command) {
        captured.commands.push_back(*command);
        if (command->opcode == 0x06 && command->cdw10 == 1 && command->addr != 0)
            reinterpret_cast<uint8_t*>(command->addr)[77] = mdts;
        command->result = 0x55;
        return captured.status;
    });
}

}  // namespace

TEST(LinuxBinding, IdentifyLogPageAndFeatureCommands) {
    Captured captured;
    LinuxDriveHandle handle = Handle(captured);
    std::vector<uint8_t> buffer(4096);
    EXPECT_TRUE(handle.QueryProperty({kDataTypeIdentify, 0, 2, 4096}, buffer.data()).callSucceeded);
    const nvme_admin_cmd& identify = captured.commands.back();
    EXPECT_EQ(identify.opcode, 0x06);
    EXPECT_EQ(identify.nsid, 2u);
    EXPECT_EQ(identify.cdw10, 0u);
    EXPECT_EQ(identify.data_len, 4096u);

    handle.QueryProperty({kDataTypeLogPage, 0x02, 0, 512}, buffer.data());
    const nvme_admin_cmd& log = captured.commands.back();
    EXPECT_EQ(log.opcode, 0x02);
    EXPECT_EQ(log.nsid, 0xFFFFFFFFu);
    EXPECT_EQ(log.cdw10, 0x007F8002u);
    EXPECT_EQ(log.cdw11, 0u);
    EXPECT_EQ(log.data_len, 512u);

    QueryPropertyResult feature = handle.QueryProperty({kDataTypeFeature, 0x05, 0, 0}, buffer.data());
    EXPECT_EQ(feature.completionDw0, 0x55u);
    EXPECT_EQ(captured.commands.back().opcode, 0x0A);
    EXPECT_EQ(captured.commands.back().nsid, 1u);
    EXPECT_EQ(captured.commands.back().data_len, 0u);
    EXPECT_EQ(captured.commands.back().addr, 0u);
}

TEST(LinuxBinding, LongLogPagesAreReadInPiecesOfTheMaximumTransfer) {
    Captured captured;
    LinuxDriveHandle handle = Handle(captured, 1);  // MDTS 1: 8 KiB
    std::vector<uint8_t> buffer(4096 * 5);
    handle.QueryProperty({kDataTypeIdentify, 1, 0, 4096}, buffer.data());
    captured.commands.clear();
    EXPECT_TRUE(handle.QueryProperty({kDataTypeLogPage, 0x08, 0, 20480}, buffer.data()).callSucceeded);
    ASSERT_EQ(captured.commands.size(), 3u);
    EXPECT_EQ(captured.commands[0].data_len, 8192u);
    EXPECT_EQ(captured.commands[1].cdw12, 8192u);
    EXPECT_EQ(captured.commands[2].data_len, 4096u);
    EXPECT_EQ(captured.commands[2].cdw10 >> 16, 1023u);
}

TEST(LinuxBinding, StatusAndErrnoFailures) {
    Captured captured;
    LinuxDriveHandle handle = Handle(captured);
    std::vector<uint8_t> buffer(512, 7);
    captured.status = 0x4002;
    QueryPropertyResult failed = handle.QueryProperty({kDataTypeLogPage, 0x06, 0, 512}, buffer.data());
    EXPECT_FALSE(failed.callSucceeded);
    EXPECT_EQ(failed.nvmeStatus, 0x4002);
    EXPECT_EQ(buffer[0], 7);
    captured.status = -13;
    EXPECT_EQ(handle.QueryProperty({kDataTypeLogPage, 0x06, 0, 512}, buffer.data()).systemError, 13u);
    NvmeCommand selfTest;
    selfTest.opcode = 0x14;
    selfTest.nsid = 0xFFFFFFFF;
    selfTest.cdw10 = 2;
    selfTest.timeoutMs = 2000;
    captured.status = 0;
    PassThroughResult started = handle.PassThrough(selfTest);
    EXPECT_EQ(started.returnStatus, 1u);
    EXPECT_EQ(captured.commands.back().timeout_ms, 2000u);
    EXPECT_EQ(captured.commands.back().cdw10, 2u);
    EXPECT_EQ(captured.commands.back().nsid, 0xFFFFFFFFu);
}

TEST(LinuxBinding, AReadOfNoBytesIssuesNoCommand) {
    Captured captured;
    LinuxDriveHandle handle = Handle(captured);
    uint8_t data[8] = {};
    QueryPropertyResult result = handle.QueryProperty({kDataTypeLogPage, 0x07, 0, 0}, data);
    EXPECT_TRUE(result.callSucceeded);
    EXPECT_TRUE(captured.commands.empty()) << "NUMD 0 would ask the controller for a dword without a buffer";
    // Every data command's NUMD covers exactly its buffer.
    handle.QueryProperty({kDataTypeLogPage, 0x02, 0, 6}, data);
    ASSERT_EQ(captured.commands.size(), 1u);
    const nvme_admin_cmd& command = captured.commands.back();
    uint32_t numd = ((command.cdw10 >> 16) | (command.cdw11 << 16)) + 1;
    EXPECT_EQ(numd * 4, command.data_len);
    EXPECT_NE(command.addr, 0u);
}
