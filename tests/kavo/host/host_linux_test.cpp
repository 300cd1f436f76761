// Host information from a fake sysfs / procfs tree.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/device_tree.h"
#include "host/host_linux.h"
#include "decode/parameters.h"
#include "run_binary.h"

using namespace kavo;
namespace fs = std::filesystem;

namespace {

class FakeHost : public ::testing::Test {
protected:
    void SetUp() override {
        root = test::ScratchDirectory("fake-host-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::string port = "sys/devices/pci0000:00/0000:00:1c.0";
        std::string controller = port + "/0000:02:00.0";
        File(port + "/class", "0x060400");
        File(port + "/vendor", "0x8086");
        File(port + "/device", "0xa33c");
        File(port + "/current_link_speed", "16.0 GT/s PCIe");
        File(port + "/max_link_speed", "32.0 GT/s PCIe");
        File(port + "/current_link_width", "4");
        File(port + "/max_link_width", "4");
        File(controller + "/class", "0x010802");
        File(controller + "/vendor", "0x144d");
        File(controller + "/device", "0xa808");
        File(controller + "/current_link_speed", "8.0 GT/s PCIe");
        File(controller + "/max_link_speed", "Unknown");
        File(controller + "/current_link_width", "4");
        File(controller + "/max_link_width", "4");
        fs::create_directories(root + "/sys/bus/pci/drivers/nvme");
        fs::create_directory_symlink(root + "/sys/bus/pci/drivers/nvme", root + "/" + controller + "/driver");
        File("sys/module/nvme/version", "1.0");
        File(controller + "/nvme/nvme0/model", "Samsung SSD 970 EVO Plus 500GB");
        File(controller + "/nvme/nvme0/serial", "S4EVNX0N123456");
        File(controller + "/nvme/nvme0/nvme0n1/size", "976773168");
        fs::create_directory_symlink(root + "/" + controller, root + "/" + controller + "/nvme/nvme0/device");
        fs::create_directories(root + "/sys/class/nvme");
        fs::create_directory_symlink(root + "/" + controller + "/nvme/nvme0", root + "/sys/class/nvme/nvme0");
        File("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) CPU\n"
                             "physical id\t: 0\nsiblings\t: 2\ncpu cores\t: 1\ncache size\t: 1024 KB\ncpu MHz\t\t: 2600.000\n\n"
                             "processor\t: 1\nphysical id\t: 0\nmodel name\t: Intel(R) Xeon(R) CPU\n\n");
        File("etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
        File("proc/sys/kernel/osrelease", "6.1.0-57-amd64");
        File("sys/class/dmi/id/sys_vendor", "QEMU");
        File("sys/class/dmi/id/product_name", "Standard PC");
        File("sys/block/sda/size", "2048");
        File("sys/block/sda/device/model", "VIRTUAL DISK");
        File("sys/block/loop0/size", "8");
    }
    void File(const std::string& relative, const std::string& text) {
        fs::create_directories(fs::path(root + "/" + relative).parent_path());
        test::WriteFile(root + "/" + relative, text + "\n");
    }
    std::string root;
};

}  // namespace

TEST_F(FakeHost, DriveListInNumberOrder) {
    for (const char* name : {"nvme10", "nvme2", "nvme-fabrics"}) fs::create_directories(root + "/sys/class/nvme/" + name);
    EXPECT_EQ(linux_host::NvmeControllers(root), (std::vector<std::string>{"0", "2", "10"}));
    EXPECT_TRUE(linux_host::NvmeControllers(root + "/nowhere").empty());
}

TEST_F(FakeHost, NamespaceNamesLeadToTheirController) {
    // nvme1 holds nvme1n1; with native multipath nvme2 holds the path
    // nvme7c2n1 of the shared namespace nvme7n1.
    fs::create_directories(root + "/sys/class/nvme/nvme1/nvme1n1");
    fs::create_directories(root + "/sys/class/nvme/nvme2/nvme7c2n1");
    struct Case {
        const char* text;
        bool isNamespace;
        const char* controller;
    } cases[] = {{"nvme0n1", true, "0"},       {"/dev/nvme1n1", true, "1"}, {"nvme7n1", true, "2"},
                 {"nvme1n9", true, ""},        {"nvme1", false, ""},        {"/dev/nvme1", false, ""},
                 {"nvmen1", false, ""},        {"nvme1n", false, ""},       {"nvme1n1p1", false, ""}};
    for (const Case& c : cases) {
        std::string name;
        EXPECT_EQ(linux_host::IsNamespaceName(c.text, name), c.isNamespace) << c.text;
        if (c.isNamespace) {
            EXPECT_EQ(linux_host::NamespaceController(root, name), c.controller) << c.text;
        }
    }
}

TEST_F(FakeHost, DeviceTreeAndDriveSearch) {
    Json::Value tree = linux_host::DeviceTree(root);
    ASSERT_EQ(tree.size(), 1u);
    const Json::Value& port = tree[0]["[Children]"][0];
    EXPECT_EQ(port["Description"].asString(), "PCI bridge");
    EXPECT_EQ(port["PCI Speed"].asString(), "Gen4 16.0GT/s");
    EXPECT_EQ(port["PCI Rated Speed"].asString(), "Gen5 32.0GT/s");
    const Json::Value& controller = port["[Children]"][0];
    EXPECT_EQ(controller["Location"].asString(), "Bus 2, device 0, function 0");
    EXPECT_EQ(controller["Driver"].asString(), "nvme,  1.0");
    EXPECT_FALSE(controller.isMember("PCI Rated Speed"));
    EXPECT_EQ(controller["[Children]"][0]["ID"].asString(), "nvme0");
    EXPECT_FALSE(controller["[Children]"][0].isMember("[Children]"));

    Parameters parameters;
    Json::Value path(Json::arrayValue);
    ASSERT_TRUE(FindDriveInDeviceTree(tree, "nvme0", Json::Value(Json::objectValue), parameters, path));
    auto value = [&](const char* name) { return parameters.Find(name) != nullptr ? parameters.Find(name)->value : "?"; };
    EXPECT_EQ(value("PCI Device ID"), "0xA808");
    EXPECT_EQ(value("PCI Speed"), "Gen3 8.0GT/s");
    EXPECT_EQ(value("PCI Rated Speed"), "");
    EXPECT_EQ(value("PCI Width"), "x4");
    EXPECT_EQ(value("Driver"), "nvme,  1.0");
    EXPECT_EQ(value("Root PCI Vendor ID"), "0x8086");
    EXPECT_EQ(value("Root PCI Location"), "Bus 0, device 28, function 0");
    EXPECT_EQ(path.size(), 4u);
    Parameters none;
    Json::Value nopath(Json::arrayValue);
    EXPECT_FALSE(FindDriveInDeviceTree(tree, "nvme7", Json::Value(Json::objectValue), none, nopath));
    EXPECT_EQ(none.size(), 0u);
}

TEST_F(FakeHost, InventoryAndPower) {
    Json::Value system(Json::objectValue);
    linux_host::HostInventory(root, system);
    ASSERT_EQ(system["nvme"].size(), 1u);
    EXPECT_EQ(system["nvme"][0]["size"].asString(), "500107862016");
    EXPECT_EQ(system["nvme list"][0].asString(), "DRIVE 0 : Samsung SSD 970 EVO Plus 500GB");
    ASSERT_EQ(system["drive"].size(), 1u);
    EXPECT_EQ(system["drive"][0]["model"].asString(), "VIRTUAL DISK");
    ASSERT_EQ(system["processor"].size(), 1u);
    EXPECT_EQ(system["processor"][0]["logical cores"].asString(), "2");
    EXPECT_EQ(system["os"].asString(), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(system["manufacturer"].asString(), "QEMU");
    EXPECT_FALSE(system.isMember("uuid"));
    EXPECT_EQ(system["dimm"].size(), 0u);

    // Lines without an ID, an ID that only starts with the one sought and
    // a trailing entry without a newline.
    File("etc/passwd", "broken\nroot:x:0:0:root:/root:/bin/bash\nlab:x:10001:10001::/home/lab:/bin/sh\nqa:x:1000:1000::/home/qa:/bin/sh");
    EXPECT_EQ(linux_host::UserName(root, 0), "root");
    EXPECT_EQ(linux_host::UserName(root, 1000), "qa");
    EXPECT_EQ(linux_host::UserName(root, 10001), "lab");
    EXPECT_EQ(linux_host::UserName(root, 100), "");

    EXPECT_EQ(linux_host::PowerSource(root), "Unknown");
    File("sys/class/power_supply/BAT0/type", "Battery");
    File("sys/class/power_supply/BAT0/status", "Discharging");
    EXPECT_EQ(linux_host::PowerSource(root), "Battery");
    File("sys/class/power_supply/AC/type", "Mains");
    File("sys/class/power_supply/AC/online", "1");
    EXPECT_EQ(linux_host::PowerSource(root), "AC");
    EXPECT_EQ(linux_host::LinkSpeedText("2.5 GT/s PCIe"), "Gen1 2.5GT/s");
    EXPECT_EQ(linux_host::LinkSpeedText("64.0 GT/s PCIe"), "");
}
