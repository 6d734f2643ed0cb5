#include "tool_support.h"

#if VX_HAVE_TOOL
#include <dirent.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

void ToolTest::SetUp() {
    char pattern[] = "/tmp/vxhost-test-XXXXXX";
    const char* folder = mkdtemp(pattern);
    ASSERT_NE(folder, nullptr);
    m_folder = folder;
}

void ToolTest::TearDown() {
    if (!m_folder.empty()) std::system(("rm -rf '" + m_folder + "'").c_str());
}

CommandResult ToolTest::Vxhost(const std::string& args) const {
    const std::string out = m_folder + "/.stdout";
    const std::string err = m_folder + "/.stderr";
    const std::string command =
        "cd '" + m_folder + "' && '" + VXHOST_TOOL + "' " + args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    CommandResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

void ToolTest::WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(Scratch(name)) << text;
}

bool ToolTest::Exists(const std::string& name) const { return std::ifstream(Scratch(name)).good(); }

std::vector<std::string> ToolTest::Files() const {
    std::vector<std::string> names;
    DIR* dir = opendir(m_folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

Wav ReadWav(const std::string& path) {
    Wav wav;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return wav;
    wav.channels = info.channels;
    wav.sample_rate = info.samplerate;
    // Read to the end: a streamed file's header may not say how long it is.
    std::vector<float> block(static_cast<size_t>(4096 * info.channels));
    for (sf_count_t got; (got = sf_readf_float(file, block.data(), 4096)) > 0;)
        wav.samples.insert(wav.samples.end(), block.begin(), block.begin() + got * info.channels);
    sf_close(file);
    return wav;
}

#else  // no tool on this target: every test skips

void ToolTest::SetUp() { GTEST_SKIP() << "this suite runs vxhost on the native target; the 32-bit ones run it from ctest"; }
void ToolTest::TearDown() {}
CommandResult ToolTest::Vxhost(const std::string&) const { return {}; }
void ToolTest::WriteFile(const std::string&, const std::string&) const {}
bool ToolTest::Exists(const std::string&) const { return false; }
std::vector<std::string> ToolTest::Files() const { return {}; }
Wav ReadWav(const std::string&) { return {}; }

#endif
