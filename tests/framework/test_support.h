// Shared fixtures for the framework tests: the probe plug-in in a test host.
#ifndef VX_TESTS_FRAMEWORK_SUPPORT_H
#define VX_TESTS_FRAMEWORK_SUPPORT_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TestHost.h"
#include "TestPlugins.h"
#include "plugins/probe/ProbeProtocol.h"

inline std::string PluginPath(const std::string& name) { return BuiltPluginPath(name); }

inline const vxhost::PluginLibrary& LoadPlugin(const std::string& name) { return TestPlugin(name); }

// The probe in a recording host, with its log cleared.
class ProbeTest : public ::testing::Test {
protected:
    ProbeTest() : host(LoadPlugin("probe")) {}

    void CreateWithLayout(int32_t layout) {
        ASSERT_TRUE(host.Create());
        Command(PROBE_GET_LOG, 0, &log);
        Command(PROBE_SET_LAYOUT, layout);
        log->count = 0;
        host.ClearCalls();
    }
    void OpenWithLayout(int32_t layout, int32_t pin_count = -1) {
        CreateWithLayout(layout);
        if (pin_count >= 0) host.SetPinCount(pin_count);
        host.Open();
    }
    void Command(int32_t command, int32_t index = 0, void* ptr = nullptr) {
        host.Dispatch(OP_HOST_MESSAGE, index, command, ptr);
    }
    std::vector<ProbeLogEntry> Logged(int32_t kind) const {
        std::vector<ProbeLogEntry> out;
        for (int32_t i = 0; i < log->count && i < PROBE_LOG_CAPACITY; ++i)
            if (log->entries[i].kind == kind) out.push_back(log->entries[i]);
        return out;
    }
    ProbePinInfo Pin(int32_t n) {
        ProbePinInfo info{};
        Command(PROBE_GET_PIN, n, &info);
        return info;
    }

    vxhost::TestHost host;
    ProbeLog* log = nullptr;
};

#endif
