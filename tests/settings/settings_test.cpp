#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "settings/profile_scenarios.h"

namespace {

TEST(Settings, ScenariosGiveTheSameAnswersAsTheSystem) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("vlm-settings-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto outcomes = vlm::testing::runProfileScenarios(folder.wstring() + L"/");
    for (const auto& o : outcomes) {
        EXPECT_EQ(o.expected, o.actual) << o.name;
    }
    EXPECT_GT(outcomes.size(), 30u);
    std::filesystem::remove_all(folder);
}

}  // namespace
