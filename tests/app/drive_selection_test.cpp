// Drive selection against a host double, the fleet's exit code order, the
// arguments of a drive's run and the merged metrics file.
#include <gtest/gtest.h>

#include "base/kavo_errors.h"
#include "drive_selection.h"
#include "fleet.h"
#include "info/metrics.h"

namespace {

// Controllers 0, 1 and 2 with serials S0, S1, S2; nvme1n1 and nvme1n2 are
// namespaces of controller 1, nvme0n1 of controller 0.
HostDrives ThreeDrives(bool listFails = false) {
    HostDrives host;
    host.numbers = [listFails]() -> std::vector<std::string> {
        if (listFails) throw kavo::KavoError("WMI is not running");
        return {"0", "1", "2"};
    };
    host.controllers = [listFails]() -> std::vector<kavo::NvmeControllerSummary> {
        if (listFails) return {};
        std::vector<kavo::NvmeControllerSummary> list;
        for (const char* n : {"0", "1", "2"}) {
            kavo::NvmeControllerSummary c;
            c.number = n;
            c.serial = std::string("S") + n;
            list.push_back(c);
        }
        return list;
    };
    host.controllerOfNamespace = [](const std::string& name, bool& isNamespace) -> std::string {
        isNamespace = name.find("n1") != std::string::npos || name.find("n2") != std::string::npos;
        if (name == "nvme1n1" || name == "/dev/nvme1n2") return "1";
        if (name == "nvme0n1") return "0";
        return "";
    };
    host.serialOf = [](const std::string& drive) { return "ASKED-" + drive; };
    return host;
}

std::vector<std::string> Paths(const DriveSelection& selection) {
    std::vector<std::string> paths;
    for (const SelectedDrive& drive : selection.drives) paths.push_back(drive.path);
    return paths;
}

}  // namespace

TEST(DriveSelection, NamesListsAndForms) {
    struct Case {
        std::vector<std::string> values;
        std::vector<std::string> paths;
        bool fleet;
    } cases[] = {
        {{"*"}, {"/dev/nvme0"}, false},
        {{"2"}, {"/dev/nvme2"}, false},
        {{"nvme1"}, {"/dev/nvme1"}, false},
        {{"nvme1n1"}, {"/dev/nvme1"}, false},
        {{"/dev/nvme1n2"}, {"/dev/nvme1"}, false},
        {{"serial:S2"}, {"/dev/nvme2"}, false},
        {{"serial:S2   "}, {"/dev/nvme2"}, false},
        {{"all"}, {"/dev/nvme0", "/dev/nvme1", "/dev/nvme2"}, true},
        {{"2,0"}, {"/dev/nvme2", "/dev/nvme0"}, true},
        // A repeated -n adds to the list; a drive named twice is read once.
        {{"0", "2"}, {"/dev/nvme0", "/dev/nvme2"}, true},
        {{"0,nvme0,nvme0n1"}, {"/dev/nvme0"}, true},
        {{"sim,1"}, {"sim", "/dev/nvme1"}, true},
    };
    for (const Case& c : cases) {
        DriveSelection selection = SelectDrives(c.values, ThreeDrives());
        EXPECT_EQ(Paths(selection), c.paths) << c.values.front();
        EXPECT_EQ(selection.fleet, c.fleet) << c.values.front();
    }
}

TEST(DriveSelection, EveryMissingDriveIsNamedAtOnce) {
    try {
        SelectDrives({"0,7,serial:NOPE,nvme5n1"}, ThreeDrives());
        FAIL() << "no error";
    } catch (const kavo::Error& e) {
        EXPECT_EQ(e.exitCode(), kavo::kExitDriveNotFound);
        EXPECT_STREQ(e.what(), "NVMe drive 7 was not found\nNVMe drive serial:NOPE was not found\n"
                               "NVMe drive nvme5n1 was not found");
    }
    for (const char* bad : {"../../dev/sda", "", "0,", "serial:"}) {
        try {
            SelectDrives({bad}, ThreeDrives());
            ADD_FAILURE() << bad << ": no error";
        } catch (const kavo::Error& e) {
            EXPECT_EQ(e.exitCode(), kavo::kExitUsage) << bad;
        }
    }
}

TEST(DriveSelection, HostThatCannotListItsDrives) {
    // A named number is then used unchecked, as before; "*" and "all" fail.
    EXPECT_EQ(Paths(SelectDrives({"5"}, ThreeDrives(true))), std::vector<std::string>{"/dev/nvme5"});
    for (const char* value : {"*", "all"}) {
        try {
            SelectDrives({value}, ThreeDrives(true));
            ADD_FAILURE() << value << ": no error";
        } catch (const kavo::Error& e) {
            EXPECT_EQ(e.exitCode(), kavo::kExitFailure);
            EXPECT_NE(std::string(e.what()).find("Failed to get list of NVMe drives from OS"), std::string::npos);
        }
    }
    // A host that lists no drive has none for "all".
    HostDrives empty = ThreeDrives();
    empty.numbers = [] { return std::vector<std::string>{}; };
    try {
        SelectDrives({"all"}, empty);
        ADD_FAILURE() << "no error";
    } catch (const kavo::Error& e) {
        EXPECT_EQ(e.exitCode(), kavo::kExitDriveNotFound);
    }
    // A serial is then asked of each drive itself.
    HostDrives host = ThreeDrives(true);
    host.numbers = [] { return std::vector<std::string>{"0", "1"}; };
    EXPECT_EQ(Paths(SelectDrives({"serial:ASKED-1"}, host)), std::vector<std::string>{"/dev/nvme1"});
}

TEST(DriveSelection, SerialsAndFolderNames) {
    DriveSelection selection = SelectDrives({"all"}, ThreeDrives());
    LearnSerials(selection, ThreeDrives());
    EXPECT_EQ(DriveFolderName(selection.drives[1]), "nvme1-S1");
    SelectedDrive odd{"sim:x.json", "sim:x.json", "sim-x", "A/B C"};
    EXPECT_EQ(DriveFolderName(odd), "sim-x-A_B_C");
    odd.serial.clear();
    EXPECT_EQ(DriveFolderName(odd), "sim-x-unknown");
}

TEST(Fleet, WorstExitCodeOrder) {
    struct Case {
        std::vector<int> codes;
        int worst;
    } cases[] = {
        {{}, 0},           {{0, 0}, 0},          {{0, 21}, 21},      {{21, 22, 0}, 22},
        {{22, 16}, 16},    {{16, 19, 22}, 19},   {{19, 17, 0}, 17},  {{33, 30, 0}, 33},
        {{33, 16}, 16},    {{5, 22}, 5},         {{5, 16}, 16},
    };
    for (const Case& c : cases) EXPECT_EQ(WorstExitCode(c.codes), c.worst) << ::testing::PrintToString(c.codes);
}

TEST(Fleet, DriveRunArguments) {
    std::vector<std::string> fleet = {"read", "-n", "all", "-s", "3", "-d", "out", "--jobs", "2", "-c",
                                      "base", "--metrics", "m.prom", "-n", "sim", "-x", "--stop-on-eof"};
    EXPECT_EQ(DriveRunArguments(fleet, "1", "/o/nvme1-S1", "/b/x.json", "/o/nvme1-S1/metrics.prom"),
              (std::vector<std::string>{"read", "-s", "3", "-x", "-n", "1", "-d", "/o/nvme1-S1", "-c", "/b/x.json",
                                        "--metrics", "/o/nvme1-S1/metrics.prom", "--stop-on-eof"}));
    // A compare file that is a file stays; no metrics, no --metrics.
    EXPECT_EQ(DriveRunArguments({"-c", "one.json", "-n", "0,1"}, "0", "/o/n", "", ""),
              (std::vector<std::string>{"-c", "one.json", "-n", "0", "-d", "/o/n", "--stop-on-eof"}));
}

TEST(Fleet, MetricsFilesMergeIntoOneFamilyEach) {
    const std::string a = "# HELP quellix_x X\n# TYPE quellix_x gauge\nquellix_x{device=\"a\"} 1\n"
                          "# HELP quellix_y_total Y\n# TYPE quellix_y_total counter\nquellix_y_total{device=\"a\"} 5\n";
    const std::string b = "# HELP quellix_x X\n# TYPE quellix_x gauge\nquellix_x{device=\"b\"} 2\n";
    kavo::FleetDriveMetrics ended{"b", "S\"B", true, 22}, running{"a", "SA", false, 0};
    const std::string merged = kavo::MergeMetricsTexts({a, b, kavo::FleetMetrics({running, ended})});
    EXPECT_EQ(merged,
              "# HELP quellix_x X\n# TYPE quellix_x gauge\nquellix_x{device=\"a\"} 1\nquellix_x{device=\"b\"} 2\n"
              "# HELP quellix_y_total Y\n# TYPE quellix_y_total counter\nquellix_y_total{device=\"a\"} 5\n"
              "# HELP quellix_drive_listed 1 for every drive the host listed for the fleet run; alert when one goes missing\n"
              "# TYPE quellix_drive_listed gauge\n"
              "quellix_drive_listed{device=\"a\",serial=\"SA\"} 1\nquellix_drive_listed{device=\"b\",serial=\"S\\\"B\"} 1\n"
              "# HELP quellix_run_exit_code Exit code of the drive's last run in the fleet run (0 passed)\n"
              "# TYPE quellix_run_exit_code gauge\nquellix_run_exit_code{device=\"b\",serial=\"S\\\"B\"} 22\n");
}
