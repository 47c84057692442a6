// The settings scenarios against the system's profile functions.
#include <windows.h>

#include <cstdio>
#include <string>

#include "settings/profile_scenarios.h"

int main() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"vlm-settings-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    int passed = 0, failed = 0;
    for (const auto& o : vlm::testing::runProfileScenarios(folder)) {
        if (o.expected == o.actual) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAILED: %s: expected '%ls', got '%ls'\n", o.name.c_str(), o.expected.c_str(), o.actual.c_str());
        }
    }
    DeleteFileW((folder + L"settings.ini").c_str());
    RemoveDirectoryW(folder.c_str());
    std::printf("settings: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
