// A folder of the test's own for the scenario and settings files it writes,
// removed when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

class ScratchFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::UnitTest* unit = ::testing::UnitTest::GetInstance();
        folder = std::filesystem::temp_directory_path() /
                 ("tolvenmire-player-test-" + std::to_string(unit->random_seed()) + "-" +
                  unit->current_test_info()->test_suite_name() + "-" + unit->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    // Writes `content` as the file `name` in the folder; returns its path.
    std::string write(const std::string& name, const std::string& content) {
        const std::filesystem::path p = folder / name;
        std::ofstream(p) << content;
        return p.string();
    }
    std::filesystem::path folder;
};
