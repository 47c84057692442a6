#pragma once
// A plug-in loaded as the host loads it: the library opened on its own, its
// export looked up by name, its table registered. Both plug-ins export
// RegisterVlmFunc, so a test that needs both cannot link them both.

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/vlm_plugin.h"

namespace vlm::testing {

class PluginLibrary {
public:
    explicit PluginLibrary(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
        using Register = std::int32_t (*)(const FuncTableEntry**);
        const auto registerTable = reinterpret_cast<Register>(dlsym(handle_, "RegisterVlmFunc"));
        if (registerTable == nullptr || registerTable(&table_) != 1) {
            dlclose(handle_);
            throw std::runtime_error(path + " hands out no table");
        }
    }
    ~PluginLibrary() { dlclose(handle_); }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    [[nodiscard]] PluginCalcFunc function(int number) const { return table_[number - 1].funcPtr; }

    // Function `number` over `count` bars into a new output, the inputs in the
    // host's order (a missing one is passed as null).
    [[nodiscard]] std::vector<float> call(int number, const std::vector<float>& a, const std::vector<float>& b,
                                          const std::vector<float>& c = {}) const {
        std::vector<float> out(a.size(), 42.0f);
        function(number)(static_cast<std::int32_t>(a.size()), out.data(), a.data(), b.data(),
                                   c.empty() ? nullptr : c.data());
        return out;
    }

private:
    void* handle_;
    const FuncTableEntry* table_ = nullptr;
};

}  // namespace vlm::testing
