#pragma once
// A test that runs quellix in a fresh scratch directory of its own, named
// after the test.
#include <gtest/gtest.h>

#include <string>

#include "run_binary.h"

namespace test {

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override { dir = ScratchDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
    // A read command file with `changes`, run with `arguments`.
    RunResult Read(const Json::Value& changes, const std::string& arguments = "-n sim") {
        return RunRead(dir, changes, arguments);
    }
    std::string dir;
};

}  // namespace test
