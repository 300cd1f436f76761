// Identify Controller, power states and Identify Namespace, from structures
// built byte by byte at the NVMe field offsets.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "fake_drive.h"
#include "field_limits.h"
#include "decode/decoders.h"
#include "decode/info_document.h"
#include "info/nvme_info.h"
#include "decode/parameters.h"

using namespace kavo;
using test::Put;
using test::PutText;

namespace {

std::vector<uint8_t> Controller(uint32_t ver) {
    std::vector<uint8_t> c(4096, 0);
    Put(c, 0, 0x144D, 2);
    Put(c, 2, 0x1B96, 2);
    PutText(c, 4, "S4EWNX0R123456", 20);
    PutText(c, 24, "Samsung SSD 970 EVO 500GB", 40);
    PutText(c, 64, "2B2QEXE7", 8);
    Put(c, 80, ver, 4);
    Put(c, 516, 1, 4);
    return c;
}

class IdentifyTest : public ::testing::Test {
protected:

    int Decode(const std::vector<uint8_t>& data) {
        drive.SetIdentifyController(data);
        doc = InfoDocument();
        run.clear();
        const int result = GetIdentifyController(drive, buffer.data(), doc, false, run);
        highest = doc.highestVersion;
        return result;
    }
    int DecodeNamespace(uint32_t ver) {
        doc = InfoDocument();
        doc.highestVersion = highest;
        const int result = GetIdentifyNamespace(drive, buffer.data(), 1, doc, false, ver, run);
        highest = doc.highestVersion;
        return result;
    }
    // A sample of identify data only (and Error Recovery when asked).
    bool NamespaceSample(bool readController = true, bool errorRecovery = false) {
        SampleSettings settings = test::SampleSettings(false);
        settings.readIdentifyController = readController;
        settings.readIdentifyNamespace = true;
        settings.features[0x05] = errorRecovery;
        std::vector<uint8_t> identify(4096, 0);
        doc = InfoDocument();
        const bool passed = GetNvmeInfo(drive, identify.data(), settings, test::FakeDriveName(), doc, run);
        AddCommandRecords(run, doc);
        info = test::DocumentJson(doc);
        return passed;
    }
    std::string Value(const std::string& name) {
        const Parameter* record = doc.parameters.Find(name);
        return record != nullptr ? record->value : "";
    }
    bool Has(const std::string& name) { return doc.parameters.Has(name); }
    std::string NumberOf(const std::string& name) {
        const Parameter* record = doc.parameters.Find(name);
        return record != nullptr && record->number.present() ? record->number.Literal() : "";
    }

    test::FakeDrive drive;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(4096);
    InfoDocument doc;
    Json::Value info;
    CommandLog run;
    uint32_t highest = 0;
};

}  // namespace

TEST_F(IdentifyTest, RefusesVersionsBelow121) {
    EXPECT_EQ(Decode(Controller(0x00010200)), 1);
    EXPECT_EQ(highest, 0x00010200u);
    EXPECT_TRUE(doc.parameters.empty());
    EXPECT_EQ(run.size(), 1u);
}

TEST_F(IdentifyTest, GatesOn121And13And14Controllers) {
    EXPECT_EQ(Decode(Controller(0x00010201)), 0);
    EXPECT_EQ(highest, 0x00010201u);
    EXPECT_TRUE(Has("Abort Command Limit (ACL)"));
    EXPECT_FALSE(Has("NVM Sets"));
    EXPECT_FALSE(Has("Device Self-test Command"));
    EXPECT_FALSE(Has("Controller Type (CNTRLTYPE)"));

    auto c13 = Controller(0x00010300);
    Put(c13, 96, 0x4, 4);  // CTRATT bit 2: NVM sets
    EXPECT_EQ(Decode(c13), 0);
    EXPECT_EQ(Value("NVM Sets"), "Supported");
    EXPECT_FALSE(Has("Endurance Groups"));
    EXPECT_TRUE(Has("Device Self-test Command"));
    EXPECT_EQ(highest, 0x00010400u);

    auto c14 = Controller(0x00010400);
    EXPECT_EQ(Decode(c14), 0);
    EXPECT_EQ(Value("Endurance Groups"), "Not Supported");
    EXPECT_EQ(Value("Controller Type (CNTRLTYPE)"), "Not Reported");
    EXPECT_EQ(Value("ANA Transition Time (ANATT)"), "Not Supported");
    EXPECT_FALSE(Has("Extended Device Self-test Time (EDSTT)"));  // gate passes, OACS bit 4 clear
    EXPECT_FALSE(Has("Persistent Event Log Size (PELS)"));
}

// A run keeps the decoding of Identify Controller from sample to sample:
// the same bytes give the records and version of a fresh decoding, other
// bytes are decoded again, and a failed decoding is not kept.
TEST_F(IdentifyTest, AKeptDecodingEqualsAFreshOne) {
    auto c13 = Controller(0x00010300);
    Put(c13, 96, 0x4, 4);  // CTRATT bit 2: NVM sets, a 1.4 field
    drive.SetIdentifyController(c13);
    DecodedIdentify kept;
    for (int sample = 0; sample < 2; ++sample) {
        InfoDocument fresh, reused;
        ASSERT_EQ(GetIdentifyController(drive, buffer.data(), fresh, false, run), 0);
        ASSERT_EQ(GetIdentifyController(drive, buffer.data(), reused, false, run, &kept), 0);
        EXPECT_EQ(InfoDocumentText(reused), InfoDocumentText(fresh)) << "sample " << sample;
        EXPECT_EQ(reused.highestVersion, 0x00010400u) << "sample " << sample;
    }
    PutText(c13, 24, "Another Model", 40);
    drive.SetIdentifyController(c13);
    InfoDocument changed;
    GetIdentifyController(drive, buffer.data(), changed, false, run, &kept);
    EXPECT_EQ(changed.parameters.Find("Model Number (MN)")->value.substr(0, 13), "Another Model");
    drive.SetIdentifyController(Controller(0x00010200));  // refused: too old
    InfoDocument refused;
    EXPECT_EQ(GetIdentifyController(drive, buffer.data(), refused, false, run, &kept), 1);
    EXPECT_TRUE(refused.parameters.empty()) << "nothing of the sample before";
    EXPECT_TRUE(kept.bytes.empty());
}

TEST_F(IdentifyTest, Renderings) {
    auto c = Controller(0x00010400);
    c[72] = 5;                   // RAB
    c[73] = 0x38, c[74] = 0x25;  // IEEE
    c[77] = 0;                   // MDTS
    Put(c, 84, 1500000, 4);      // RTD3R
    Put(c, 266, 358, 2);         // WCTEMP
    Put(c, 268, 0, 2);           // CCTEMP
    Put(c, 270, 3, 2);           // MTFA
    Put(c, 272, 0, 4);           // HMPRE
    Put(c, 276, 100, 4);         // HMMIN
    Put(c, 312, 0x00FF0002, 4);  // RPMBS: 2 units, total size 256
    Put(c, 526, 0xFFFF, 2);      // AWUN
    Put(c, 528, 7, 2);           // AWUPF
    Put(c, 256, 0x0018, 2);      // OACS: namespace management, self-test
    Put(c, 316, 30, 2);          // EDSTT
    Put(c, 280, 1, 8), Put(c, 288, 1, 8);  // TNVMCAP above 2^64
    Put(c, 128, 5, 2);           // CRDT1
    for (int i = 0; i < 16; ++i) c[112 + i] = static_cast<uint8_t>(i);
    PutText(c, 768, "nqn.test", 256, '\0');
    EXPECT_EQ(Decode(c), 0);
    // Each field's text and, where it has one, its number ("" for none).
    const std::tuple<const char*, const char*, const char*> kExpected[] = {
        {"Controller Vendor", "Samsung", ""},
        {"Subsystem Vendor", "Western Digital", ""},
        {"PCI Vendor ID (VID)", "0x144D", "5197"},
        {"Serial Number (SN)", "S4EWNX0R123456      ", ""},
        {"Recommended Arbitration Burst (RAB)", "5 (2^5=32)", "32"},
        {"IEEE OUI Identifier (IEEE)", "00-25-38", ""},
        {"Maximum Data Transfer Size (MDTS)", "Unrestricted", ""},
        {"Version (VER)", "1.4.0", ""},
        {"RTD3 Resume Latency (RTD3R)", "1,500,000 uS (1.500 sec)", "1500000"},
        {"RTD3 Entry Latency (RTD3E)", "Not Reported", ""},
        {"Warning Composite Temperature Threshold (WCTEMP)", "85 C", "85"},
        {"Critical Composite Temperature Threshold (CCTEMP)", "Not Reported", ""},
        {"Maximum Time for Firmware Activation (MTFA)", "300 mS", "300"},
        {"Host Memory Buffer Preferred Size (HMPRE)", "Not Supported", ""},
        {"Host Memory Buffer Minimum Size (HMMIN)", "Not Supported", ""},
        {"Replay Protected Memory Blocks (RPMBS)", "Supported", ""},
        {"Number of RPMB Units", "2", "2"},
        {"RPMB Total Size", "256 (128KiB units)", "33554432"},
        {"Atomic Write Unit Normal (AWUN)", "All Commands", ""},
        {"Atomic Write Unit Power Fail (AWUPF)", "8", "8"},
        {"Extended Device Self-test Time (EDSTT)", "30 Min", "30"},
        {"Total NVM Capacity (TNVMCAP)", "18,446,744,073,709,551,617", "18446744073709551617"},
        {"Command Retry Delay Time 1 (CRDT1)", "5 (500 mS)", "500"},
        {"FRU Globally Unique Identifier (FGUID)", "000102-030405060708090a0b0c0d0e0f", ""},
        {"NVM Subsystem NVMe Qualified Name (SUBNQN)", "nqn.test", ""},
    };
    for (const auto& [name, text, number] : kExpected) {
        EXPECT_EQ(Value(name), text) << name;
        EXPECT_EQ(NumberOf(name), number) << name;
    }
    EXPECT_FALSE(Has("Atomic Compare & Write Unit (ACWU)"));

    Put(c, 272, 8192, 4);  // HMPRE
    Put(c, 276, 0, 4);     // HMMIN
    EXPECT_EQ(Decode(c), 0);
    EXPECT_EQ(Value("Host Memory Buffer Preferred Size (HMPRE)"), "8,192 (32,768 KiB)");
    EXPECT_EQ(NumberOf("Host Memory Buffer Preferred Size (HMPRE)"), "33554432");
    EXPECT_EQ(Value("Host Memory Buffer Minimum Size (HMMIN)"), "Any Amount");
}

// Each capability bit of Identify Controller alone on a 1.4 controller: its
// parameter shows the set text and every other bit of the same field the
// clear one, so a bit read from the wrong position shows.
TEST_F(IdentifyTest, EachCapabilityBitAlone) {
    struct Bit {
        unsigned bit;
        const char* name;
        const char* set;
        const char* clear;
    };
    struct Field {
        const char* field;
        size_t offset, width;
        uint64_t base;  // bits that must be set for the others to show
        std::vector<Bit> bits;
    };
    const Field kFields[] = {
        {"CMIC", 76, 1, 0, {
            {0, "NVM Subsystem PCIe Ports", "Multiple", "Single"},
            {1, "NVM Subsystem Controllers", "Multiple", "Single"},
            {2, "Associated Function Type", "SR-IOV Virtual", "PCI"},
            {3, "Asymmetric Namespace Access Reporting", "Supported", "Not Supported"},
        }},
        {"OAES", 92, 4, 0, {
            {9, "Firmware Activation Notices", "Supported", "Not Supported"},
            {8, "Namespace Attribute Notices", "Supported", "Not Supported"},
            {11, "Asymmetric Namespace Access Change Notices", "Supported", "Not Supported"},
            {12, "Predictable Latency Event Log Change Notices", "Supported", "Not Supported"},
            {13, "LBA Status Information Notices", "Supported", "Not Supported"},
            {14, "Endurance Group Event Log Page Change Notices", "Supported", "Not Supported"},
        }},
        {"CTRATT", 96, 4, 0, {
            {0, "128-bit Host Identifier", "Supported", "Not Supported"},
            {1, "Non-Operational Power State Permissive Mode", "Supported", "Not Supported"},
            {2, "NVM Sets", "Supported", "Not Supported"},
            {3, "Read Recovery Levels", "Supported", "Not Supported"},
            {4, "Endurance Groups", "Supported", "Not Supported"},
            {5, "Predictable Latency Mode", "Supported", "Not Supported"},
            {6, "Traffic Based Keep Alive Support", "Supported", "Not Supported"},
            {7, "Namespace Granularity", "Supported", "Not Supported"},
            {8, "SQ Associations", "Supported", "Not Supported"},
            {9, "UUID List", "Supported", "Not Supported"},
        }},
        {"NVMSR", 253, 1, 0, {
            {0, "NVMe Storage Device (NVMESD)", "Supported", "Not Supported"},
            {1, "NVMe Enclosure (NVMEE)", "Supported", "Not Supported"},
        }},
        {"MEC", 255, 1, 0, {
            {1, "PCIe Management Endpoint (PCIEME)", "Supported", "Not Supported"},
            {0, "SMBus Management Endpoint (SMBUSME)", "Supported", "Not Supported"},
        }},
        {"OACS", 256, 2, 0, {
            {3, "Namespace Management and Attachment Commands", "Supported", "Not Supported"},
            {2, "Firmware Commit and Image Download Commands", "Supported", "Not Supported"},
            {1, "Format NVM Command", "Supported", "Not Supported"},
            {0, "Security Send and Security Receive Command", "Supported", "Not Supported"},
            {4, "Device Self-test Command", "Supported", "Not Supported"},
            {5, "Directive Send and Directive Receive Commands", "Supported", "Not Supported"},
            {6, "NVME MI Send/Receive Commands", "Supported", "Not Supported"},
            {7, "Virtualization Mgt Command", "Supported", "Not Supported"},
            {8, "Doorbell Buffer Config Command", "Supported", "Not Supported"},
            {9, "Get LBA Status capability", "Supported", "Not Supported"},
        }},
        {"FRMW", 260, 1, 0, {
            {4, "Firmware Activation Without Reset", "Supported", "Not Supported"},
            {0, "Firmware Slot 1 Read Status", "Read only", "Read/Write"},
        }},
        {"LPA", 261, 1, 0, {
            {0, "SMART/Health Log Page per Namespace", "Supported", "Not Supported"},
            {1, "Commands Supported and Effects Log Page", "Supported", "Not Supported"},
            {2, "Extended Data for Get Log Page", "Supported", "Not Supported"},
            {3, "Telemetry Log Notices", "Supported", "Not Supported"},
            {4, "Persistent Event Log", "Supported", "Not Supported"},
        }},
        {"AVSCC", 264, 1, 0, {
            {0, "Admin Vendor Specific command handling", "Not Vendor Specific", "Vendor Specific"},
        }},
        {"APSTA", 265, 1, 0, {
            {0, "Autonomous Power State Transition", "Supported", "Not Supported"},
        }},
        {"SANICAP", 328, 4, 0, {
            {2, "Overwrite Sanitize", "Supported", "Not Supported"},
            {1, "Block Erase Sanitize", "Supported", "Not Supported"},
            {0, "Crypto Erase Sanitize", "Supported", "Not Supported"},
            {29, "No-Deallocate Inhibited (NDI)", "Supported", "Not Supported"},
        }},
        {"ANACAP", 343, 1, 0, {
            {0, "Report ANA Optimized state", "Supported", "Not Supported"},
            {1, "Report ANA Non-Optimized state", "Supported", "Not Supported"},
            {2, "Report ANA Inaccessible state", "Supported", "Not Supported"},
            {3, "Report ANA Persistent Loss state", "Supported", "Not Supported"},
            {4, "Report ANA Change state", "Supported", "Not Supported"},
            {6, "Unchanged ANAGRPID", "Supported", "Not Supported"},
            {7, "Non-zero ANAGRPID", "Supported", "Not Supported"},
        }},
        {"ONCS", 520, 2, 0, {
            {0, "Compare NVM Command", "Supported", "Not Supported"},
            {1, "Write Uncorrectable NVM Command", "Supported", "Not Supported"},
            {2, "Dataset Management NVM Command", "Supported", "Not Supported"},
            {3, "Write Zeroes NVM Command", "Supported", "Not Supported"},
            {4, "Save/Select Fields in Features Command", "Supported", "Not Supported"},
            {5, "Reservations", "Supported", "Not Supported"},
            {6, "Timestamp Feature", "Supported", "Not Supported"},
            {7, "Verify NVM Command", "Supported", "Not Supported"},
        }},
        {"FUSES", 522, 2, 0, {
            {0, "Compare and Write Fused Operation", "Supported", "Not Supported"},
        }},
        {"FNA", 524, 1, 0, {
            {0, "Format All Namespaces", "Supported", "Not Supported"},
            {1, "Secure Erase All Namespaces", "Supported", "Not Supported"},
            {2, "Crypto Erase", "Supported", "Not Supported"},
        }},
        {"VWC", 525, 1, 0, {
            {0, "Volatile Write Cache (VWC)", "Supported", "Not Supported"},
        }},
        {"NVSCC", 530, 1, 0, {
            {0, "Vendor Specific Command Configuration", "Not Vendor Specific", "Vendor Specific"},
        }},
        {"NWPC", 531, 1, 0, {
            {0, "Write Protect Namespace States", "Supported", "Not Supported"},
            {1, "Write Protect Until Power Cycle", "Supported", "Not Supported"},
            {2, "Permanent Write Protect", "Supported", "Not Supported"},
        }},
        {"HCTMA", 322, 2, 0, {
            {0, "Host Controlled Thermal Management (HCTMA)", "Supported", "Not Supported"},
        }},
        // The descriptor bits show once bits 1:0 say SGLs are supported.
        {"SGLS", 536, 4, 1, {
            {2, "Keyed SGL Data Block descriptor", "Supported", "Not Supported"},
            {16, "SGL Bit Bucket descriptor", "Supported", "Not Supported"},
            {17, "SGL byte aligned buffer of metadata", "Supported", "Not Supported"},
            {18, "SGL command longer than the amount of data", "Supported", "Not Supported"},
            {19, "SGL - MPTR containing an SGL Descriptor", "Supported", "Not Supported"},
            {20, "SGL - Address field specifies offset", "Supported", "Not Supported"},
            {21, "SGL - Transport SGL Data Block Descriptor", "Supported", "Not Supported"},
        }},
    };
    for (const Field& field : kFields)
        for (const Bit& alone : field.bits) {
            std::vector<uint8_t> c = Controller(0x00010400);
            Put(c, field.offset, field.base | (uint64_t(1) << alone.bit), static_cast<int>(field.width));
            ASSERT_EQ(Decode(c), 0);
            for (const Bit& other : field.bits) {
                const Parameter* record = doc.parameters.Find(other.name);
                ASSERT_NE(record, nullptr) << other.name;
                EXPECT_EQ(record->value, other.bit == alone.bit ? other.set : other.clear)
                    << field.field << " bit " << alone.bit << ": " << other.name;
            }
        }
}

TEST_F(IdentifyTest, PowerStates) {
    auto c = Controller(0x00010400);
    c[263] = 4;
    Put(c, 2048, 2500, 2);                              // 25 W
    Put(c, 2048 + 32, 350, 2);                          // 3.5 W
    Put(c, 2048 + 64, 45, 2), c[2048 + 64 + 3] = 1;     // 0.0045 W
    Put(c, 2048 + 64 + 20, 500, 2);                     // ACTP with APS 00b
    Put(c, 2048 + 96 + 20, 500, 2), c[2048 + 96 + 22] = 0x45;  // APS 01b, APW 5
    Put(c, 2048 + 4, 5, 4), Put(c, 2048 + 8, 1000000, 4);
    EXPECT_EQ(Decode(c), 0);
    EXPECT_EQ(Value("Power State 0 Maximum Power (MP)"), "25 Watts");
    EXPECT_EQ(Value("Power State 1 Maximum Power (MP)"), "3.5 Watts");
    EXPECT_EQ(Value("Power State 2 Maximum Power (MP)"), "0.0045 Watts");
    EXPECT_EQ(Value("Power State 2 Active Power (ACTP)"), "Invalid Power Scale");
    EXPECT_EQ(Value("Power State 3 Active Power (ACTP)"), "0.05 Watts");
    EXPECT_EQ(Value("Power State 3 Active Power Workload (APW)"), "Reserved");
    EXPECT_EQ(Value("Power State 0 Idle Power (IDLP)"), "Not Reported");
    EXPECT_EQ(Value("Power State 0 Entry Latency (ENLAT)"), "5 uS (0.000 sec)");
    EXPECT_EQ(Value("Power State 0 Exit Latency (EXLAT)"), "1,000,000 uS (1.000 sec)");
    EXPECT_EQ(Value("Power State 4 Maximum Power (MP)"), "Not Reported");
    EXPECT_FALSE(Has("Power State 5 Maximum Power (MP)"));

    c[263] = 255;  // more power states than the structure and the table hold
    EXPECT_EQ(Decode(c), 1);
    EXPECT_TRUE(Has("Power State 31 Relative Write Latency (RWL)"));
}

namespace {

std::vector<uint8_t> Namespace(uint64_t nsze, uint8_t nlbaf, uint8_t flbas) {
    std::vector<uint8_t> n(4096, 0);
    Put(n, 0, nsze, 8);
    Put(n, 8, nsze, 8);
    n[25] = nlbaf;
    n[26] = flbas;
    Put(n, 128, 0x00090000, 4);
    Put(n, 132, 0x020C0008, 4);
    return n;
}

}  // namespace

TEST_F(IdentifyTest, NamespaceFormatsSizesAndGates) {
    drive.Set(kDataTypeIdentify, 0, 1, {Namespace(976773168, 0, 0)});
    highest = 0x00010201;
    EXPECT_EQ(DecodeNamespace(0x00010201), 0);
    EXPECT_EQ(Value("Namespace 1 Size"), "500 GB");
    EXPECT_EQ(Value("Namespace 1 Size in GiB"), "465.8 GiB");
    EXPECT_EQ(Value("Namespace 1 LBA 0 Data Size (LBADS)"), "9 (2^9=512) *");
    EXPECT_EQ(Value("Namespace 1 LBA 0 Relative Performance (RP)"), "Best Performance *");
    EXPECT_FALSE(Has("Namespace 1 LBA 0 Metadata Size (MS)"));
    EXPECT_FALSE(Has("Namespace 1 Deallocate Logical Block Value"));
    EXPECT_EQ(Value("Namespace 1 Atomic Write Unit Normal (NAWUN)"), "Same as AWUN");
    EXPECT_EQ(highest, 0x00010201u);

    auto n = Namespace(1000, 1, 3);
    n[33] = 1;
    Put(n, 34, 7, 2);
    for (int i = 0; i < 16; ++i) n[104 + i] = static_cast<uint8_t>(i * 0x11);
    drive.Set(kDataTypeIdentify, 0, 1, {n});
    EXPECT_EQ(DecodeNamespace(0x00010201), 0);
    EXPECT_FALSE(Has("Namespace 1 Size"));
    EXPECT_EQ(Value("Namespace 1 LBA 1 Metadata Size (MS)"), "8");
    EXPECT_EQ(Value("Namespace 1 LBA 1 Relative Performance (RP)"), "Good Performance");
    EXPECT_EQ(Value("Namespace 1 Deallocate Logical Block Value"), "All 00h");
    EXPECT_EQ(Value("Namespace 1 Atomic Write Unit Normal (NAWUN)"), "7");
    EXPECT_EQ(Value("Namespace 1 Globally Unique Identifier (NGUID)"), "0011223344556677-8899aa-bbccddeeff");
    EXPECT_EQ(highest, 0x00010300u);

    // Sixteen formats are the most the table and the structure describe.
    auto many = Namespace(1000, 200, 0);
    drive.Set(kDataTypeIdentify, 0, 1, {many});
    EXPECT_EQ(DecodeNamespace(0x00010400), 1);
}

// Every decoded field of Identify Controller at its largest value and at a
// value that needs its top byte, on a 1.4 controller whose capability bits
// let every field show (OACS: capacities and self-test time; HMPRE for HMMIN;
// one RPMB unit; LPA: PELS; FUSES: ACWU; 32 power states, the idle and
// active power in hundredths of a watt).
TEST_F(IdentifyTest, ControllerFieldsAtTheirLargestAndTopByteValues) {
    const char* const kMax128 = "340282366920938463463374607431768211455";
    const char* const kTop128 = "170141183460469231731687303715884105728";
    const char* const kMax128Grouped = "340,282,366,920,938,463,463,374,607,431,768,211,455";
    const char* const kTop128Grouped = "170,141,183,460,469,231,731,687,303,715,884,105,728";
    const test::Shown kMaxLatency{"4,294,967,295 uS (4,294.967 sec)", "4294967295"};
    const test::Shown kTopLatency{"2,147,483,648 uS (2,147.483 sec)", "2147483648"};
    const test::Shown kMaxKelvin{"65,262 C", "65262"}, kTopKelvin{"32,495 C", "32495"};
    const test::Shown kMax4KiB{"4,294,967,295 (17,179,869,180 KiB)", "17592186040320"};
    const test::Shown kTop4KiB{"2,147,483,648 (8,589,934,592 KiB)", "8796093022208"};
    const test::Shown kMaxWatts{"655.35 Watts", "655.35"}, kTopWatts{"327.68 Watts", "327.68"};
    const std::vector<test::FieldLimits> kFields = {
        {"Controller Vendor", 0, 2, {"Unknown", ""}, {"Unknown", ""}},
        {"PCI Vendor ID (VID)", 0, 2, {"0xFFFF", "65535"}, {"0x8000", "32768"}, "identifier"},
        {"PCI Subsystem Vendor ID (SSVID)", 2, 2, {"0xFFFF", "65535"}, {"0x8000", "32768"}, "identifier"},
        {"Recommended Arbitration Burst (RAB)", 72, 1, {"255 (2^255)", ""}, {"128 (2^128)", ""}, "count"},
        {"IEEE OUI Identifier (IEEE)", 73, 3, {"ff-ff-ff", ""}, {"80-00-00", ""}},
        {"Maximum Data Transfer Size (MDTS)", 77, 1, {"255 (2^255)", ""}, {"128 (2^128)", ""}, "count"},
        {"Controller ID (CNTLID)", 78, 2, {"65535", "65535"}, {"32768", "32768"}, "identifier"},
        {"Version (VER)", 80, 4, {"65535.255.255", ""}, {"32768.0.0", ""}},
        {"RTD3 Resume Latency (RTD3R)", 84, 4, kMaxLatency, kTopLatency, "microseconds"},
        {"RTD3 Entry Latency (RTD3E)", 88, 4, kMaxLatency, kTopLatency, "microseconds"},
        {"Read Recovery Levels Supported (RRLS)", 100, 2, {"0xFFFF", "65535"}, {"0x8000", "32768"}, "bit field"},
        {"Controller Type (CNTRLTYPE)", 111, 1, {"Reserved", ""}, {"Reserved", ""}},
        {"FRU Globally Unique Identifier (FGUID)", 112, 16, {"ffffff-ffffffffffffffffffffffffff", ""},
         {"000000-00000000000000000000000080", ""}},
        {"Command Retry Delay Time 1 (CRDT1)", 128, 2, {"65,535 (6,553,500 mS)", "6553500"}, {"32,768 (3,276,800 mS)", "3276800"}, "milliseconds"},
        {"Command Retry Delay Time 2 (CRDT2)", 130, 2, {"65,535 (6,553,500 mS)", "6553500"}, {"32,768 (3,276,800 mS)", "3276800"}, "milliseconds"},
        {"Command Retry Delay Time 3 (CRDT3)", 132, 2, {"65,535 (6,553,500 mS)", "6553500"}, {"32,768 (3,276,800 mS)", "3276800"}, "milliseconds"},
        {"VPD Write Cycles Remaining (VWCR)", 254, 1, {"127", "127"}, {"0", "0"}, "count"},
        {"Abort Command Limit (ACL)", 258, 1, {"256", "256"}, {"129", "129"}, "count"},
        {"Asynchronous Event Request Limit (AERL)", 259, 1, {"256", "256"}, {"129", "129"}, "count"},
        {"Firmware Slots", 260, 1, {"7", "7"}, {"0", "0"}, "count"},
        {"Error Log Page Entries (ELPE)", 262, 1, {"256", "256"}, {"129", "129"}, "count"},
        // More power states than the structure holds: decoding stops at the 33rd.
        {"Number of Power States Support (NPSS)", 263, 1, {"256", "256"}, {"129", "129"}, "count", true},
        {"Warning Composite Temperature Threshold (WCTEMP)", 266, 2, kMaxKelvin, kTopKelvin, "celsius"},
        {"Critical Composite Temperature Threshold (CCTEMP)", 268, 2, kMaxKelvin, kTopKelvin, "celsius"},
        {"Maximum Time for Firmware Activation (MTFA)", 270, 2, {"6,553,500 mS", "6553500"}, {"3,276,800 mS", "3276800"}, "milliseconds"},
        {"Host Memory Buffer Preferred Size (HMPRE)", 272, 4, kMax4KiB, kTop4KiB, "bytes"},
        {"Host Memory Buffer Minimum Size (HMMIN)", 276, 4, kMax4KiB, kTop4KiB, "bytes"},
        {"Total NVM Capacity (TNVMCAP)", 280, 16, {kMax128Grouped, kMax128}, {kTop128Grouped, kTop128}, "bytes"},
        {"Unallocated NVM Capacity (UNVMCAP)", 296, 16, {kMax128Grouped, kMax128}, {kTop128Grouped, kTop128}, "bytes"},
        {"Number of RPMB Units", 312, 1, {"7", "7"}, {"", ""}, "count", true},  // none: the RPMB fields go
        {"RPMB Total Size", 314, 1, {"256 (128KiB units)", "33554432"}, {"129 (128KiB units)", "16908288"}, "bytes"},
        {"RPMB Access Size", 315, 1, {"256 (512B units)", "131072"}, {"129 (512B units)", "66048"}, "bytes"},
        {"Extended Device Self-test Time (EDSTT)", 316, 2, {"65,535 Min", "65535"}, {"32,768 Min", "32768"}, "minutes"},
        {"One Self-Test", 318, 1, {"Per System", ""}, {"Per System", ""}},
        {"Firmware Update Granularity (FWUG)", 319, 1, {"Unrestricted", ""}, {"512 KiB", "524288"}, "bytes"},
        {"Keep Alive Support (KAS)", 320, 2, {"6,553,500 mS", "6553500"}, {"3,276,800 mS", "3276800"}, "milliseconds"},
        {"Minimum Thermal Management Temperature (MNTMT)", 324, 2, kMaxKelvin, kTopKelvin, "celsius"},
        {"Maximum Thermal Management Temperature (MXTMT)", 326, 2, kMaxKelvin, kTopKelvin, "celsius"},
        {"No-Deallocate Modifies Media After Sanitize (NODMMAS)", 328, 4, {"Reserved", ""}, {"Media modified", ""}},
        {"Host Memory Buffer Minimum Descriptor Entry Size (HMMINDS)", 332, 4, kMax4KiB, kTop4KiB, "bytes"},
        {"Host Memory Maximum Descriptors Entries (HMMAXD)", 336, 2, {"65,535", "65535"}, {"32,768", "32768"}, "count"},
        {"NVM Set Identifier Maximum (NSETIDMAX)", 338, 2, {"65,535", "65535"}, {"32,768", "32768"}, "identifier"},
        {"Endurance Group Identifier Maximum (ENDGIDMAX)", 340, 2, {"65,535", "65535"}, {"32,768", "32768"}, "identifier"},
        {"ANA Transition Time (ANATT)", 342, 1, {"255 sec", "255"}, {"128 sec", "128"}, "seconds"},
        {"ANA Group Identifier Maximum (ANAGRPMAX)", 344, 4, {"4,294,967,295", "4294967295"}, {"2,147,483,648", "2147483648"}, "identifier"},
        {"Number of ANA Group Identifiers (NANAGRPID)", 348, 4, {"4,294,967,295", "4294967295"}, {"2,147,483,648", "2147483648"}, "count"},
        {"Persistent Event Log Size (PELS)", 352, 4, {"274,877,906,880 KiB", "281474976645120"}, {"137,438,953,472 KiB", "140737488355328"}, "bytes"},
        {"Maximum Submission Queue Entry Size", 512, 1, {"15 (2^15=32768)", "32768"}, {"8 (2^8=256)", "256"}, "bytes"},
        {"Required Submission Queue Entry Size", 512, 1, {"15 (2^15=32768)", "32768"}, {"0 (2^0=1)", "1"}, "bytes"},
        {"Maximum Completion Queue Entry Size", 513, 1, {"15 (2^15=32768)", "32768"}, {"8 (2^8=256)", "256"}, "bytes"},
        {"Required Completion Queue Entry Size", 513, 1, {"15 (2^15=32768)", "32768"}, {"0 (2^0=1)", "1"}, "bytes"},
        {"Maximum Outstanding Commands (MAXCMD)", 514, 2, {"65535", "65535"}, {"32768", "32768"}, "count"},
        {"Number of Namespaces (NN)", 516, 4, {"4294967295", "4294967295"}, {"2147483648", "2147483648"}, "count"},
        {"Volatile Write Cache Flush All NSID", 525, 1, {"Supported", ""}, {"Not Reported", ""}},
        {"Atomic Write Unit Normal (AWUN)", 526, 2, {"All Commands", ""}, {"32769", "32769"}, "blocks"},
        {"Atomic Write Unit Power Fail (AWUPF)", 528, 2, {"65536", "65536"}, {"32769", "32769"}, "blocks"},
        {"Atomic Compare & Write Unit (ACWU)", 532, 2, {"65,536", "65536"}, {"32,769", "32769"}, "blocks"},
        {"SGL support in NVM command", 536, 4, {"Reserved", ""}, {"Not Supported", ""}},
        {"Maximum Number Allowed Namespaces (MNAN)", 540, 4, {"4,294,967,295", "4294967295"}, {"2,147,483,648", "2147483648"}, "count"},
        {"Power State 0 Maximum Power (MP)", 2048, 2, kMaxWatts, kTopWatts, "watts"},
        {"Power State 0 Non-Operational State (NOPS)", 2051, 1, {"True", ""}, {"False", ""}},
        {"Power State 0 Entry Latency (ENLAT)", 2052, 4, kMaxLatency, kTopLatency, "microseconds"},
        {"Power State 0 Exit Latency (EXLAT)", 2056, 4, kMaxLatency, kTopLatency, "microseconds"},
        {"Power State 0 Relative Read Throughput (RRT)", 2060, 1, {"31", "31"}, {"0", "0"}, "count"},
        {"Power State 0 Relative Read Latency (RRL)", 2061, 1, {"31", "31"}, {"0", "0"}, "count"},
        {"Power State 0 Relative Write Throughput (RWT)", 2062, 1, {"31", "31"}, {"0", "0"}, "count"},
        {"Power State 0 Relative Write Latency (RWL)", 2063, 1, {"31", "31"}, {"0", "0"}, "count"},
        {"Power State 0 Idle Power (IDLP)", 2064, 2, kMaxWatts, kTopWatts, "watts"},
        {"Power State 0 Active Power (ACTP)", 2068, 2, kMaxWatts, kTopWatts, "watts"},
        {"Power State 0 Active Power Workload (APW)", 2070, 1, {"Reserved", ""}, {"No workload", ""}},
        {"Power State 31 Maximum Power (MP)", 3040, 2, kMaxWatts, kTopWatts, "watts"},
        {"Power State 31 Entry Latency (ENLAT)", 3044, 4, kMaxLatency, kTopLatency, "microseconds"},
        {"Power State 31 Exit Latency (EXLAT)", 3048, 4, kMaxLatency, kTopLatency, "microseconds"},
        {"Power State 31 Idle Power (IDLP)", 3056, 2, kMaxWatts, kTopWatts, "watts"},
        {"Power State 31 Active Power (ACTP)", 3060, 2, kMaxWatts, kTopWatts, "watts"},
    };
    std::vector<uint8_t> base = Controller(0x00010400);
    Put(base, 256, 0x18, 2);  // OACS bits 3 and 4
    Put(base, 272, 1, 4);     // HMPRE
    base[261] = 0x10;         // LPA bit 4
    Put(base, 312, 1, 4);     // one RPMB unit
    Put(base, 522, 1, 2);     // FUSES bit 0
    base[263] = 31;
    for (size_t state = 0; state < 32; ++state) base[2048 + 32 * state + 18] = base[2048 + 32 * state + 22] = 0x80;
    test::ExpectFieldsAtTheirLimits(base, kFields, [&](const std::vector<uint8_t>& bytes) {
        Decode(bytes);
        return doc.parameters;
    });
}

// Every decoded field of Identify Namespace at its largest value and at a
// value that needs its top byte, on a 1.4 controller. All sixteen LBA formats
// are of 512-byte blocks, so the size stays whichever format is active.
TEST_F(IdentifyTest, NamespaceFieldsAtTheirLargestAndTopByteValues) {
    const test::Shown kMax64{"18,446,744,073,709,551,615", "18446744073709551615"};
    const test::Shown kTop64{"9,223,372,036,854,775,808", "9223372036854775808"};
    const test::Shown kMax16{"65,535", "65535"}, kTop16{"32,768", "32768"};
    const test::Shown kMax16Plus1{"65,536", "65536"}, kTop16Plus1{"32,769", "32769"};
    const std::vector<test::FieldLimits> kFields = {
        {"Namespace 1 Size in LBA (NSZE)", 0, 8, kMax64, kTop64, "blocks"},
        // The text is of the 64-bit product of blocks and block size, as it
        // has always been; the number is the exact product.
        {"Namespace 1 Size", 0, 8, {"18446744074 GB", "9444732965739290426880"}, {"0 GB", "4722366482869645213696"}, "bytes"},
        {"Namespace 1 Size in GiB", 0, 8, {"17179869184.0 GiB", "9444732965739290426880"}, {"0.0 GiB", "4722366482869645213696"}, "bytes"},
        {"Namespace 1 Capacity (NCAP)", 8, 8, kMax64, kTop64, "blocks"},
        {"Namespace 1 Utilization (NUSE)", 16, 8, kMax64, kTop64, "blocks"},
        // More formats than the structure describes: decoding stops at the 17th.
        {"Namespace 1 Number of LBA Formats (NLBAF)", 25, 1, {"256", "256"}, {"129", "129"}, "count", true},
        {"Namespace 1 Active LBA Format", 26, 1, {"15", "15"}, {"0", "0"}, "identifier"},
        {"Namespace 1 Protection Information Enabled", 29, 1, {"Reserved", ""}, {"Disabled", ""}},
        {"Namespace 1 Format Percent Complete", 32, 1, {"127", "127"}, {"0", "0"}, "percent"},
        {"Namespace 1 Deallocate Logical Block Value", 33, 1, {"Reserved", ""}, {"Not Reported", ""}},
        {"Namespace 1 Atomic Write Unit Normal (NAWUN)", 34, 2, kMax16, kTop16, "blocks"},
        {"Namespace 1 Atomic Write Unit Power Fail (NAWUPF)", 36, 2, kMax16, kTop16, "blocks"},
        {"Namespace 1 Atomic Compare & Write Unit (NACWU)", 38, 2, kMax16, kTop16, "blocks"},
        {"Namespace 1 Atomic Boundary Size Normal (NABSN)", 40, 2, kMax16, kTop16, "blocks"},
        {"Namespace 1 Atomic Boundary Offset (NABO)", 42, 2, kMax16, kTop16, "blocks"},
        {"Namespace 1 Atomic Boundary Size Power Fail (NABSPF)", 44, 2, kMax16, kTop16, "blocks"},
        {"Namespace 1 Optimal IO Boundary (NOIOB)", 46, 2, kMax16, kTop16, "blocks"},
        {"Namespace 1 NVM Capacity (NVMCAP)", 48, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"},
         {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}, "bytes"},
        {"Namespace 1 Preferred Write Granularity (NPWG)", 64, 2, kMax16Plus1, kTop16Plus1, "blocks"},
        {"Namespace 1 Preferred Write Alignment (NPWA)", 66, 2, kMax16Plus1, kTop16Plus1, "blocks"},
        {"Namespace 1 Preferred Deallocate Granularity (NPDG)", 68, 2, kMax16Plus1, kTop16Plus1, "blocks"},
        {"Namespace 1 Preferred Deallocate Alignment (NPDA)", 70, 2, kMax16Plus1, kTop16Plus1, "blocks"},
        {"Namespace 1 Optimal Write Size (NOWS)", 72, 2, kMax16Plus1, kTop16Plus1, "blocks"},
        {"Namespace 1 ANA Group Identifier (ANAGRPID)", 92, 4, {"4,294,967,295", "4294967295"}, {"2,147,483,648", "2147483648"}, "identifier"},
        {"Namespace 1 NVM Set Identifier (NVMSETID)", 100, 2, kMax16, kTop16, "identifier"},
        {"Namespace 1 Endurance Group Identifier (ENDGID)", 102, 2, kMax16, kTop16, "identifier"},
        {"Namespace 1 Globally Unique Identifier (NGUID)", 104, 16, {"ffffffffffffffff-ffffff-ffffffffff", ""},
         {"0000000000000000-000000-0000000080", ""}},
        {"Namespace 1 IEEE Extended Unique Identifier (EUI64)", 120, 8, {"ffffff-ffffffffff", ""}, {"000000-0000000080", ""}},
        {"Namespace 1 LBA 0 Metadata Size (MS)", 128, 2, {"65535", "65535"}, {"32768", "32768"}, "bytes"},
        {"Namespace 1 LBA 0 Relative Performance (RP)", 131, 1, {"Degraded Performance *", ""}, {"Best Performance *", ""}},
        {"Namespace 1 LBA 15 Metadata Size (MS)", 188, 2, {"65535", "65535"}, {"32768", "32768"}, "bytes"},
        {"Namespace 1 LBA 15 Data Size (LBADS)", 190, 1, {"255 (2^255)", ""}, {"128 (2^128)", ""}, "bytes"},
        {"Namespace 1 LBA 15 Relative Performance (RP)", 191, 1, {"Degraded Performance", ""}, {"Best Performance", ""}},
    };
    std::vector<uint8_t> base(4096, 0);
    Put(base, 0, 1000, 8), Put(base, 8, 1000, 8), Put(base, 16, 1000, 8);
    base[25] = 15;
    for (size_t format = 0; format < 16; ++format) base[128 + 4 * format + 2] = 9;
    test::ExpectFieldsAtTheirLimits(base, kFields, [&](const std::vector<uint8_t>& bytes) {
        doc = InfoDocument();
        DecodeIdentifyNamespace(bytes.data(), 1, doc, false, 0x00010400);
        return doc.parameters;
    });
}

// The answer of Identify Active Namespace List naming `nsids`.
std::vector<uint8_t> ActiveList(std::vector<uint32_t> nsids) {
    std::vector<uint8_t> list(4096, 0);
    for (size_t i = 0; i < nsids.size(); ++i) Put(list, 4 * i, nsids[i], 4);
    return list;
}

std::vector<std::string> CommandNames(const Json::Value& info) {
    std::vector<std::string> names;
    for (const Json::Value& record : info["_metadata"]["commands"]) names.push_back(record["admin command"].asString());
    return names;
}

TEST_F(IdentifyTest, ActiveNamespaceListNamesTheNamespacesRead) {
    auto c = Controller(0x00010400);
    Put(c, 516, 5, 4);  // NN 5; only 2 and 5 active
    drive.SetIdentifyController(c);
    drive.Set(kDataTypeIdentify, 2, 0, {ActiveList({2, 5})});
    drive.Set(kDataTypeIdentify, 0, 2, {Namespace(2000000, 0, 0)});
    drive.Set(kDataTypeIdentify, 0, 5, {Namespace(1000, 1, 1)});
    drive.SetFeature(0x05, 0, 0x10000);  // DULBE
    EXPECT_TRUE(NamespaceSample(true, true));
    // "Namespace 1" is the first active namespace; sizes total both.
    EXPECT_EQ(Value("Namespace 1 Size in LBA (NSZE)"), "2,000,000");
    EXPECT_EQ(Value("Size"), "1 GB");
    EXPECT_EQ(CommandNames(info), (std::vector<std::string>{"Identify Controller", "Identify Active Namespace List",
                                                            "Identify Namespace 1", "Identify Namespace 1",
                                                            "Get Feature 5"}));
    const Json::Value& namespaces = info["nvme"]["namespaces"];
    ASSERT_EQ(namespaces.size(), 2u);
    EXPECT_EQ(namespaces[0]["nsid"].asUInt(), 2u);
    EXPECT_EQ(namespaces[0]["size in bytes"].asUInt64(), 2000000u * 512);
    EXPECT_EQ(namespaces[1]["nsid"].asUInt(), 5u);
    EXPECT_EQ(namespaces[1]["block size"].asUInt(), 4096u);
    EXPECT_EQ(namespaces[1]["metadata size"].asUInt(), 8u);
    // The namespace-specific feature goes to the first active namespace.
    ASSERT_FALSE(drive.requests.empty());
    EXPECT_EQ(drive.requests.back().nsid, 2u);
    EXPECT_EQ(Value("Deallocated or Unwritten Logical Block Error Enable (DULBE)"), "Enabled");
}

namespace {

// The active namespace lists of a controller whose active NSIDs are 1 to
// `count`, one list per 1,024 from each list's starting NSID.
void SetListsUpTo(test::FakeDrive& drive, uint32_t count) {
    for (uint32_t from = 0; from < count; from += kNamespaceListEntries) {
        std::vector<uint32_t> list;
        for (uint32_t nsid = from + 1; nsid <= std::min(from + kNamespaceListEntries, count); ++nsid) list.push_back(nsid);
        drive.Set(kDataTypeIdentify, 2, from, {ActiveList(list)});
    }
}

size_t ListRequests(const test::FakeDrive& drive) {
    size_t lists = 0;
    for (const QueryPropertyRequest& request : drive.requests)
        lists += request.dataType == kDataTypeIdentify && request.requestValue == 2;
    return lists;
}

}  // namespace

// A list names at most 1,024 namespaces: it is asked again from the last
// NSID it returned, so every active namespace is listed and counted.
TEST_F(IdentifyTest, TheActiveNamespaceListIsAskedAgainUntilItEnds) {
    auto c = Controller(0x00010400);
    Put(c, 516, 4000, 4);
    drive.SetIdentifyController(c);
    SetListsUpTo(drive, 3000);
    for (uint32_t nsid = 1; nsid <= 3000; ++nsid) drive.Set(kDataTypeIdentify, 0, nsid, {Namespace(1000000, 0, 0)});
    EXPECT_TRUE(NamespaceSample());
    EXPECT_EQ(ListRequests(drive), 3u);
    const Json::Value& namespaces = info["nvme"]["namespaces"];
    ASSERT_EQ(namespaces.size(), 3000u);
    EXPECT_EQ(namespaces[2999]["nsid"].asUInt(), 3000u);
    EXPECT_EQ(Value("Size"), "1536 GB") << "3,000 namespaces of 512,000,000 bytes";
    EXPECT_FALSE(info["_metadata"].isMember("namespace list"));

    // Exactly 1,024: the second list is empty and ends it.
    drive = test::FakeDrive();
    drive.SetIdentifyController(c);
    SetListsUpTo(drive, 1024);
    drive.Set(kDataTypeIdentify, 2, 1024, {ActiveList({})});
    std::vector<uint32_t> nsids;
    bool complete = false;
    EXPECT_EQ(ReadActiveNamespaceList(drive, 4000, nsids, nullptr, kNamespaceListLimit, &complete), 0);
    EXPECT_EQ(nsids.size(), 1024u);
    EXPECT_TRUE(complete);
}

// A controller whose lists never end (a huge NN, or the same full list again
// and again) costs a bounded number of commands, and the sample says so.
TEST_F(IdentifyTest, AnEndlessNamespaceListIsBounded) {
    auto c = Controller(0x00010400);
    Put(c, 516, 0xFFFFFFFEu, 4);
    drive.SetIdentifyController(c);
    SetListsUpTo(drive, kNamespaceListLimit + 4 * kNamespaceListEntries);
    std::vector<uint32_t> nsids;
    bool complete = true;
    EXPECT_EQ(ReadActiveNamespaceList(drive, 0xFFFFFFFEu, nsids, nullptr, kNamespaceListLimit, &complete), 0);
    EXPECT_EQ(nsids.size(), kNamespaceListLimit);
    EXPECT_EQ(nsids.back(), kNamespaceListLimit);
    EXPECT_FALSE(complete);
    EXPECT_EQ(ListRequests(drive), kNamespaceListLimit / kNamespaceListEntries + 1);

    // A sample that lists the namespaces (for Error Recovery) without
    // identifying each of them.
    SampleSettings settings = test::SampleSettings(false);
    settings.features[0x05] = true;
    std::vector<uint8_t> identify(4096, 0);
    doc = InfoDocument();
    GetNvmeInfo(drive, identify.data(), settings, test::FakeDriveName(), doc, run);
    info = test::DocumentJson(doc);
    EXPECT_NE(info["_metadata"]["namespace list"].asString().find("names more than 65536 namespaces: listed up to NSID 65536"),
              std::string::npos) << info["_metadata"].toStyledString();

    // The same full list whatever it is asked from: nothing new ends it.
    drive = test::FakeDrive();
    drive.SetIdentifyController(c);
    std::vector<uint32_t> first;
    for (uint32_t nsid = 1; nsid <= kNamespaceListEntries; ++nsid) first.push_back(nsid);
    drive.Set(kDataTypeIdentify, 2, 0, {ActiveList(first)});
    drive.Set(kDataTypeIdentify, 2, kNamespaceListEntries, {ActiveList(first)});
    EXPECT_EQ(ReadActiveNamespaceList(drive, 0xFFFFFFFEu, nsids, nullptr), 0);
    EXPECT_EQ(nsids.size(), kNamespaceListEntries);
    EXPECT_EQ(ListRequests(drive), 2u);
}

TEST_F(IdentifyTest, WithoutANamespaceListTheWalkFindsTheActiveOnes) {
    auto c = Controller(0x00010400);
    Put(c, 516, 3, 4);  // NN 3, namespaces 2 and 3 inactive; no active namespace list
    drive.SetIdentifyController(c);
    drive.Set(kDataTypeIdentify, 0, 1, {Namespace(2000000, 0, 0)});
    drive.Set(kDataTypeIdentify, 0, 2, {std::vector<uint8_t>(4096, 0)});
    drive.Set(kDataTypeIdentify, 0, 3, {std::vector<uint8_t>(4096, 0)});
    EXPECT_TRUE(NamespaceSample());
    EXPECT_EQ(Value("Namespace 1 Size in LBA (NSZE)"), "2,000,000");
    EXPECT_EQ(Value("Size"), "1 GB");
    EXPECT_EQ(info["nvme"]["namespaces"].size(), 1u);
    // The failed list is tolerated: the sample's commands still pass.
    EXPECT_EQ(info["_metadata"]["result"].asString(), "PASS");
    EXPECT_EQ(info["_metadata"]["commands"].size(), 5u);
    EXPECT_TRUE(info["_metadata"]["commands"][1]["allowed"].asBool());
}

TEST_F(IdentifyTest, HugeNamespaceCountStopsTheWalk) {
    auto c = Controller(0x00010400);
    Put(c, 516, 0xFFFFFFFFu, 4);
    drive.SetIdentifyController(c);
    for (uint32_t nsid = 1; nsid <= 1100; ++nsid) drive.Set(kDataTypeIdentify, 0, nsid, {Namespace(nsid == 1 ? 100 : 0, 0, 0)});
    NamespaceSample(false);
    EXPECT_EQ(info["_metadata"]["commands"].size(), 2u + 1024u);
    EXPECT_NE(info["_metadata"]["namespace walk"].asString().find("up to NSID 1024"), std::string::npos);
}

TEST_F(IdentifyTest, NoActiveNamespaceSendsNoNamespaceFeature) {
    auto c = Controller(0x00010400);
    Put(c, 516, 4, 4);
    drive.SetIdentifyController(c);
    drive.Set(kDataTypeIdentify, 2, 0, {ActiveList({})});
    EXPECT_TRUE(NamespaceSample(true, true));
    EXPECT_EQ(CommandNames(info), (std::vector<std::string>{"Identify Controller", "Identify Active Namespace List"}));
    EXPECT_FALSE(Has("Namespace 1 Size in LBA (NSZE)"));
    EXPECT_FALSE(Has("Time Limited Error Recovery (TLER)"));
    EXPECT_EQ(Value("Size"), "0 GB");
    EXPECT_EQ(info["nvme"]["namespaces"].size(), 0u);
    EXPECT_NE(info["_metadata"]["namespace features"].asString().find("no active namespace"), std::string::npos);
}

TEST_F(IdentifyTest, FirstActiveNamespaceStands) {
    auto c = Controller(0x00010400);
    Put(c, 516, 2, 4);
    drive.SetIdentifyController(c);
    drive.Set(kDataTypeIdentify, 2, 0, {ActiveList({1, 2})});
    drive.Set(kDataTypeIdentify, 0, 1, {Namespace(1953525168, 0, 0)});  // 1,000,204,886,016 bytes
    drive.Set(kDataTypeIdentify, 0, 2, {Namespace(1000, 1, 1)});
    EXPECT_TRUE(NamespaceSample());
    EXPECT_EQ(Value("Namespace 1 Size in LBA (NSZE)"), "1,953,525,168");
    EXPECT_EQ(Value("Size"), "1000 GB");
    EXPECT_EQ(info["nvme"]["namespaces"].size(), 2u);
    EXPECT_EQ(info["nvme"]["description"].asString(), "DRIVE 0 : Western Digital Samsung SSD 970 EVO 500GB 1000GB");
}
