#pragma once
// What a self-test's summary tells about the drive beyond the test's own
// progress: the drive as its report names it, and the drive's self-test log.
#include <cstdint>
#include <string>

#include <json/value.h>

#include "decode/health_log.h"

// The drive from the Identify Controller data the test read (4096 bytes):
// "model", "serial", "firmware", "path" and, when the drive reports them,
// "warning temperature" and "critical temperature", texts as in an info
// document with their numbers under "numbers" (the members of a read
// summary's "drive").
Json::Value SelfTestDrive(const uint8_t* identify, const std::string& path);
// Every used entry of the device self-test log, newest first: "test" and
// "result" in words (their codes under "numbers"), "power on hours", and
// "segment", "namespace", "failing lba", "status code type", "status code"
// where the entry holds them, with their numbers under "numbers".
Json::Value SelfTestLogEntries(const kavo::SelfTestLog& log);
