// Running the vxhost program from tests: a scratch folder per test, the
// command's exit status and its output, and WAV files read back.
#ifndef VX_TESTS_TOOLS_SUPPORT_H
#define VX_TESTS_TOOLS_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct CommandResult {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs `vxhost ARGS` (ARGS already quoted for the shell) in the scratch folder.
    CommandResult Vxhost(const std::string& args) const;
    std::string Scratch(const std::string& name) const { return m_folder + "/" + name; }
    void WriteFile(const std::string& name, const std::string& text) const;
    bool Exists(const std::string& name) const;
    // Files in the scratch folder, hidden ones included.
    std::vector<std::string> Files() const;

    std::string m_folder;
};

struct Wav {
    int channels = 0;
    int sample_rate = 0;
    std::vector<float> samples;  // interleaved
};

Wav ReadWav(const std::string& path);

#endif
