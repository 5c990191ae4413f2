#pragma once
// A temporary folder for the running test: one per test and process, also for parametrised
// tests, whose names ("Name/case") would otherwise make one folder inside another and leave
// the outer one behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace plotmint_test {

inline std::filesystem::path test_folder(const std::string& prefix) {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()) + "_" + name);
}

}  // namespace plotmint_test
