// Get Features: the current value of fourteen features as parameters.
#include <cstring>
#include <vector>

#include "decode/decode_table.h"
#include "decode/health_log.h"
#include "base/kavo_log.h"
#include "decode/decoders.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo {

std::string FeatureSetting(uint8_t featureId) { return "read feature " + HexByte(featureId) + "h"; }

namespace {

using decode::Bit;
using decode::Bits;
using decode::EnabledDisabled;
using decode::Le;

bool Requested(const SampleSettings& settings, uint8_t fid) { return settings.Feature(fid); }

void RawDw0(InfoDocument& info, const SampleSettings& settings, const std::string& key, uint32_t dw0) {
    if (!settings.logHexData) return;
    uint8_t bytes[4] = {static_cast<uint8_t>(dw0), static_cast<uint8_t>(dw0 >> 8), static_cast<uint8_t>(dw0 >> 16),
                        static_cast<uint8_t>(dw0 >> 24)};
    HexDump(bytes, 4, info.document["raw hex data"][key]);
}

uint32_t IdField(const uint8_t* identify, size_t offset, size_t width) {
    return static_cast<uint32_t>(Le(identify, 4096, offset, width));
}

// The frame every decoder shares: the setting, the gate, the command, the raw
// dump and the exception handling. `decode` adds the parameters from DW0 and
// the data buffer.
template <typename Decode>
int RunFeature(const char* function, uint8_t fid, bool gate, DriveHandle& handle, InfoDocument& info,
               CommandLog& commands, const SampleSettings& settings, const std::string& rawKey, uint32_t dataLength,
               Decode decode, uint32_t nsid = 0) {
    if (!Requested(settings, fid) || !gate) return 0;
    std::string reason;
    try {
        uint32_t dw0 = 0;
        std::vector<uint8_t> data(dataLength, 0);
        if (GetFeature(handle, fid, 0, &dw0, dataLength ? data.data() : nullptr, dataLength, commands, nsid) != 0)
            return 1;
        if (!rawKey.empty()) RawDw0(info, settings, rawKey, dw0);
        decode(dw0, data.data(), info.parameters);
        return 0;
    } catch (const std::exception& e) {
        reason = e.what();
    } catch (...) {
        reason = "Unknown exception";
    }
    LogRecord(Severity::Error, function, __LINE__).stream()
        << "Failed to get feature " << unsigned(fid) << (fid >= 0x0A ? " (" + HexByte(fid) + "h)" : "") << ": "
        << reason;
    return 1;
}

}  // namespace

int GetFeature(DriveHandle& handle, uint8_t featureId, uint32_t cdw11, uint32_t* dw0, uint8_t* data, uint32_t dataLength,
               CommandLog& commands, uint32_t nsid) {
    std::string name = "Get Feature " + std::to_string(featureId);
    if (cdw11 != 0) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, " (0x%x)", cdw11);
        name += suffix;
    }
    return NvmeQueryPropertyCommand(handle, name, kDataTypeFeature, featureId, cdw11, dataLength, data, dw0,
                                    &commands, nsid);
}

int GetFeature01(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings) {
    return RunFeature("kavo::GetFeature01", 0x01, true, handle, info, commands, settings, "Feature 01h: Arbitration", 0,
                      [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          uint32_t burst = Bits(dw0, 2, 0);
                          AddParameter(p, "Arbitration Burst (AB)", burst == 7 ? Rendered("No Limit") : decode::PowerOfTwoText(burst));
                          AddParameter(p, "Low Priority Weight (LPW)", PlainNumber(Bits(dw0, 15, 8) + 1));
                          AddParameter(p, "Medium Priority Weight (MPW)", PlainNumber(Bits(dw0, 23, 16) + 1));
                          AddParameter(p, "High Priority Weight (HPW)", PlainNumber(Bits(dw0, 31, 24) + 1));
                      });
}

int GetFeature02(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings) {
    return RunFeature("kavo::GetFeature02", 0x02, true, handle, info, commands, settings, "Feature 02h: Power Management",
                      0, [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          AddParameter(p, "Current Power State (PS)", PlainNumber(Bits(dw0, 4, 0)));
                          AddParameter(p, "Workload Hint (WH)", PlainNumber(Bits(dw0, 7, 5)));
                      });
}

int GetFeature04(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* /*identify*/) {
    if (!Requested(settings, 0x04)) return 0;
    try {
        const uint32_t kUnder = 0x00100000;  // THSEL 01b
        uint32_t compositeOver = 0, compositeUnder = 0;
        if (GetFeature(handle, 0x04, 0, &compositeOver, nullptr, 0, commands) != 0) return 1;
        if (GetFeature(handle, 0x04, kUnder, &compositeUnder, nullptr, 0, commands) != 0) return 1;
        struct Sensor { unsigned n; uint32_t over, under; };
        std::vector<Sensor> sensors;
        Parameters& parameters = info.parameters;
        for (unsigned n = 1; n <= 8; ++n) {
            if (!HasParameter(parameters, "Temperature Sensor " + std::to_string(n))) continue;
            Sensor sensor{n, 0, 0};
            if (GetFeature(handle, 0x04, n << 16, &sensor.over, nullptr, 0, commands) != 0) return 1;
            if (GetFeature(handle, 0x04, (n << 16) | kUnder, &sensor.under, nullptr, 0, commands) != 0) return 1;
            sensors.push_back(sensor);
        }
        RawDw0(info, settings, "Feature 04h: Composite Over Threshold", compositeOver);
        RawDw0(info, settings, "Feature 04h: Composite Under Threshold", compositeUnder);
        AddParameter(parameters, "Composite Temperature Under Threshold", CelsiusOfKelvin(compositeUnder & 0xFFFF));
        AddParameter(parameters, "Composite Temperature Over Threshold", CelsiusOfKelvin(compositeOver & 0xFFFF));
        for (const Sensor& s : sensors) {
            std::string n = std::to_string(s.n);
            RawDw0(info, settings, "Feature 04h: Sensor " + n + " Under Threshold", s.under);
            RawDw0(info, settings, "Feature 04h: Sensor " + n + " Over Threshold", s.over);
            AddParameter(parameters, "Temperature Sensor " + n + " Under Threshold", CelsiusOfKelvin(s.under & 0xFFFF));
            AddParameter(parameters, "Temperature Sensor " + n + " Over Threshold", CelsiusOfKelvin(s.over & 0xFFFF));
        }
        return 0;
    } catch (const std::exception& e) {
        KLOG(Error) << "Failed to get feature 4: " << e.what();
    } catch (...) {
        KLOG(Error) << "Failed to get feature 4: Unknown exception";
    }
    return 1;
}

int GetFeature05(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 uint32_t nsid) {
    return RunFeature("kavo::GetFeature05", 0x05, true, handle, info, commands, settings, "Feature 05h: Error Recovery",
                      0, [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          uint32_t tler = Bits(dw0, 15, 0);
                          AddParameter(p, "Time Limited Error Recovery (TLER)",
                                       tler == 0 ? Rendered("No Timeout") : GroupedWithUnit(uint64_t(tler) * 100, "mS"));
                          AddParameter(p, "Deallocated or Unwritten Logical Block Error Enable (DULBE)",
                                       EnabledDisabled(Bit(dw0, 16)));
                      },
                      nsid);
}

int GetFeature06(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify) {
    return RunFeature("kavo::GetFeature06", 0x06, Bit(identify[525], 0), handle, info, commands, settings,
                      "Feature 06h: Volatile Cache Enable", 0, [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          AddParameter(p, "Volatile Write Cache Enable (WCE)", EnabledDisabled(Bit(dw0, 0)));
                      });
}

int GetFeature08(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings) {
    return RunFeature("kavo::GetFeature08", 0x08, true, handle, info, commands, settings,
                      "Feature 08h: Interrupt Coalescing", 0, [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          uint32_t time = Bits(dw0, 15, 8);
                          AddParameter(p, "Aggregation Time (TIME)",
                                       time == 0 ? Rendered("No Delay") : GroupedWithUnit(uint64_t(time) * 100, "uS"));
                          AddParameter(p, "Aggregation Threshold (THR)", GroupedNumber(Bits(dw0, 7, 0) + 1));
                      });
}

int GetFeature0A(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings) {
    return RunFeature("kavo::GetFeature0A", 0x0A, true, handle, info, commands, settings,
                      "Feature 0Ah: Write Atomicity Normal", 0, [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          AddParameter(p, "Disable Normal (DN)", Bit(dw0, 0) ? "Supported" : "Not Supported");
                      });
}

int GetFeature0B(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify) {
    uint32_t oaes = IdField(identify, 92, 4);
    bool anaReporting = Bit(identify[76], 3), telemetry = Bit(identify[261], 3);
    return RunFeature("kavo::GetFeature0B", 0x0B, true, handle, info, commands, settings,
                      "Feature 0Bh: Asynchronous Event Configuration", 0, [&](uint32_t dw0, const uint8_t*, Parameters& p) {
                          // Each notice is reported only when the controller can raise it.
                          struct Notice { bool supported; unsigned bit; const char* name; };
                          const Notice notices[] = {
                              {Bit(oaes, 14), 14, "Endurance Group Aggregate Log Change Notices Enable"},
                              {Bit(oaes, 13), 13, "LBA Status Information Notices Enable"},
                              {Bit(oaes, 12), 12, "Predictable Latency Aggregate Log Change Notices Enable"},
                              {anaReporting, 11, "Asymmetric Namespace Access Change Notices Enable"},
                              {telemetry, 10, "Telemetry Log Notices Enable"},
                              {Bit(oaes, 9), 9, "Firmware Activation Notices Enable"},
                              {Bit(oaes, 8), 8, "Namespace Attribute Notices Enable"},
                          };
                          for (const Notice& notice : notices)
                              if (notice.supported) AddParameter(p, notice.name, EnabledDisabled(Bit(dw0, notice.bit)));
                          AddParameter(p, "SMART Critical Warning Notices Enable", HexNumber(Bits(dw0, 7, 0), 2));
                      });
}

int GetFeature0C(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify) {
    unsigned npss = identify[263];
    bool logHex = settings.logHexData;
    return RunFeature("kavo::GetFeature0C", 0x0C, Bit(identify[265], 0), handle, info, commands, settings,
                      "Feature 0Ch: Autonomous Power State Transition", 256,
                      [&](uint32_t dw0, const uint8_t* data, Parameters& p) {
                          AddParameter(p, "Autonomous Power State Transition Enable (APSTE)", EnabledDisabled(Bit(dw0, 0)));
                          unsigned entries = std::min(npss + 1, 32u);  // 32 entries fill the 256-byte buffer
                          if (logHex)
                              HexDump(data, 8 * entries, info.document["raw hex data"]["Feature 0Ch: Autonomous Power State Transition Buffer"]);
                          for (unsigned n = 0; n < entries; ++n) {
                              uint64_t entry = Le(data, 256, 8 * n, 8);
                              uint64_t itpt = Bits(entry, 31, 8), itps = Bits(entry, 7, 3);
                              std::string prefix = "Power State " + std::to_string(n);
                              AddParameter(p, prefix + " Idle Time Prior to Transition (ITPT)",
                                           itpt == 0 ? Rendered("Disabled") : GroupedWithUnit(itpt, "mS"));
                              if (itpt != 0)
                                  AddParameter(p, prefix + " Idle Transition Power State (ITPS)", GroupedNumber(itps));
                          }
                      });
}

int GetFeature0D(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify) {
    return RunFeature("kavo::GetFeature0D", 0x0D, IdField(identify, 272, 4) != 0, handle, info, commands, settings,
                      "Feature 0Dh: Host Memory Buffer", 4096, [](uint32_t dw0, const uint8_t* data, Parameters& p) {
                          AddParameter(p, "Enable Host Memory (EHM)", EnabledDisabled(Bit(dw0, 0)));
                          AddParameter(p, "Host Memory Buffer Size (HSIZE)", GroupedNumber(Le(data, 16, 0, 4)));
                          AddParameter(p, "Host Memory Descriptor List Address (HMDLAL)", HexNumber(Le(data, 16, 4, 4), 8));
                          AddParameter(p, "Host Memory Descriptor List Address (HMDLAU)", HexNumber(Le(data, 16, 8, 4), 8));
                          AddParameter(p, "Host Memory Descriptor List Entry Count (HMDLEC)", GroupedNumber(Le(data, 16, 12, 4)));
                      });
}

int GetFeature0E(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify) {
    return RunFeature("kavo::GetFeature0E", 0x0E, Bit(IdField(identify, 520, 2), 6), handle, info, commands, settings,
                      "", 8, [&](uint32_t, const uint8_t* data, Parameters& p) {
                          if (settings.logHexData) HexDump(data, 8, info.document["raw hex data"]["Feature 0Eh: Timestamp"]);
                          uint64_t stamp = Le(data, 8, 0, 6);
                          unsigned origin = Bits(data[6], 3, 1);
                          AddParameter(p, "Timestamp", GroupedWithUnit(stamp, "mS"));
                          AddParameter(p, "Timestamp Decoded",
                                       origin != 0 ? TimestampText(stamp) : DurationText(static_cast<double>(stamp), 3));
                          AddParameter(p, "Timestamp Origin", origin != 0 ? "Host Programmed" : "Controller Reset");
                          AddParameter(p, "Timestamp Stopped", Bit(data[6], 0) ? "True" : "False");
                      });
}

int GetFeature0F(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify) {
    return RunFeature("kavo::GetFeature0F", 0x0F, IdField(identify, 320, 2) == 1, handle, info, commands, settings,
                      "Feature 0Fh: Keep Alive Timer", 0, [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          AddParameter(p, "Keep Alive Timeout (KATO)", dw0 == 0 ? Rendered("Disabled") : GroupedWithUnit(dw0, "mS"));
                      });
}

int GetFeature10(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify) {
    return RunFeature("kavo::GetFeature10", 0x10, Bit(IdField(identify, 322, 2), 0), handle, info, commands, settings,
                      "Feature 10h: Host Controlled Thermal Management", 0,
                      [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          uint32_t tmt1 = Bits(dw0, 31, 16), tmt2 = Bits(dw0, 15, 0);
                          AddParameter(p, "Thermal Management Temperature 1 (TMT1)", tmt1 == 0 ? Rendered("Disabled") : CelsiusOfKelvin(tmt1));
                          AddParameter(p, "Thermal Management Temperature 2 (TMT2)", tmt2 == 0 ? Rendered("Disabled") : CelsiusOfKelvin(tmt2));
                      });
}

int GetFeature11(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify) {
    return RunFeature("kavo::GetFeature11", 0x11, Bit(IdField(identify, 96, 4), 1), handle, info, commands, settings,
                      "Feature 11h: Non-Operational Power State Config", 0,
                      [](uint32_t dw0, const uint8_t*, Parameters& p) {
                          AddParameter(p, "Non-Operational Power State Permissive Mode Enable (NOPPME)",
                                       EnabledDisabled(Bit(dw0, 0)));
                      });
}

}  // namespace kavo
