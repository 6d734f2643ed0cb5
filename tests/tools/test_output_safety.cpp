// What vxhost does to the files and processes around it: it never replaces
// what is not a regular file, streams into pipes and devices, survives a
// damaged library, stops cleanly on every signal that asks it to, refuses a
// render that cannot fit, and reads each value as what it is.
#include "tool_support.h"

#if VX_HAVE_TOOL
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

const std::string kTone = "sumtone -p gate=0:1 -p maxfreq=2000 -p fc=0.5 -p fm1=0.1 -p a=0.05 -p N=1";

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

class ToolProcessTest : public ToolTest {
protected:
    // Starts `vxhost ARGS` in the scratch folder without waiting for it.
    pid_t Start(const std::string& args) const {
        const std::string command =
            "cd '" + m_folder + "' && exec '" + VXHOST_TOOL + "' " + args + " >/dev/null 2>'" + m_folder + "/.stderr'";
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
    // Waits until a file whose name contains `part` appears (the render has begun).
    bool AwaitFile(const std::string& part) const {
        for (int i = 0; i < 1000; ++i) {
            for (const std::string& name : Files())
                if (name.find(part) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    static int ExitStatus(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
};

}  // namespace

TEST_F(ToolTest, DevicesPipesAndLinksAreWrittenNeverReplaced) {
    ASSERT_EQ(Vxhost("render " + kTone + " -l 0.3 -o plain.wav").status, 0);
    const std::string plain = Contents(Scratch("plain.wav"));

    // A named pipe gets the very bytes a regular file gets, WAV header and all.
    ASSERT_EQ(mkfifo(Scratch("pipe.wav").c_str(), 0600), 0);
    // (The command line's folder change holds for its first command only.)
    Vxhost("render " + kTone + " -l 0.3 -o pipe.wav 2>/dev/null & cat '" + Scratch("pipe.wav") + "' > '" +
           Scratch("from-pipe.wav") + "'; wait $!");
    EXPECT_EQ(Contents(Scratch("from-pipe.wav")), plain);
    struct stat info {};
    ASSERT_EQ(stat(Scratch("pipe.wav").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the pipe is still a pipe";

    // A device node stays a device node (made only where we may make one).
    if (mknod(Scratch("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(Vxhost("render " + kTone + " -l 0.3 -o null").status, 0);
        ASSERT_EQ(stat(Scratch("null").c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }

    // A link's target is replaced; the link stays a link.
    WriteFile("old.wav", "old");
    ASSERT_EQ(symlink("old.wav", Scratch("link.wav").c_str()), 0);
    EXPECT_EQ(Vxhost("render " + kTone + " -l 0.3 -o link.wav").status, 0);
    EXPECT_FALSE(IsRegularFile(Scratch("link.wav")));
    EXPECT_EQ(Contents(Scratch("old.wav")), plain);

    // Standard output streams a format that needs no going back.
    EXPECT_EQ(Vxhost("render " + kTone + " -l 0.3 -o - 2>/dev/null | (cat > '" + Scratch("streamed.au") + "')").status,
              0);
    const Wav streamed = ReadWav(Scratch("streamed.au"));
    const Wav file = ReadWav(Scratch("plain.wav"));
    EXPECT_EQ(streamed.samples, file.samples);

    // A device that refuses the bytes is a failure, said once.
    const CommandResult full = Vxhost("render " + kTone + " -l 0.3 -o /dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err.rfind("vxhost: cannot write /dev/full: ", 0), 0u) << full.err;
}

TEST_F(ToolTest, ADamagedLibraryIsAnErrorNotACrash) {
    const std::string whole = Contents(std::string(VX_PLUGIN_DIR) + "/sumtone.so");
    ASSERT_GT(whole.size(), 5000u);
    WriteFile("bad.so", whole.substr(0, 5000));
    for (const char* command : {"info ./bad.so", "render ./bad.so -o x.wav", "validate ./bad.so"}) {
        const CommandResult result = Vxhost(command);
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << command << ": " << result.err;
        EXPECT_NE(result.err.find("cannot load ./bad.so"), std::string::npos) << result.err;
    }
}

TEST_F(ToolTest, APluginNamedByFileIsThatFile) {
    // Named like a system library, the copy in this folder is still the one loaded.
    WriteFile("libm.so.6", Contents(std::string(VX_PLUGIN_DIR) + "/tracer.so"));
    const CommandResult result = Vxhost("info libm.so.6");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("./libm.so.6"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Tracer"), std::string::npos);
}

TEST_F(ToolProcessTest, SignalsStopEveryCommandAndLeaveNoFile) {
    const struct {
        int signal;
        int status;
    } cases[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
    for (const auto& c : cases) {
        const pid_t pid = Start("render " + kTone + " -l 100000 --no-space-check -o long.wav");
        ASSERT_TRUE(AwaitFile(".part"));
        kill(pid, c.signal);
        EXPECT_EQ(ExitStatus(pid), c.status) << strsignal(c.signal);
        EXPECT_TRUE(Files().size() <= 1) << "only the error log remains";
        EXPECT_FALSE(Exists("long.wav"));
    }

    // A hanging check is abandoned at once, not after its time limit.
    const pid_t pid = Start("validate faulty_hang --level 3 --check input-abuse");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto start = std::chrono::steady_clock::now();
    kill(pid, SIGINT);
    EXPECT_EQ(ExitStatus(pid), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // A file size limit is an error like a full disk, not a killed process.
    const CommandResult capped = Vxhost("--version >/dev/null && ulimit -f 64 && '" + std::string(VXHOST_TOOL) +
                                        "' render " + kTone + " -l 10 -o big.wav");
    EXPECT_EQ(capped.status, 1) << capped.err;
    EXPECT_NE(capped.err.find("cannot write big.wav"), std::string::npos) << capped.err;
    EXPECT_FALSE(Exists("big.wav"));
    for (const std::string& name : Files()) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST_F(ToolTest, LengthsAndValuesAreReadAsWhatTheyAre) {
    const struct {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {"render " + kTone + " -l 10000000 -o x.wav", 1, "would take"},
        {"render " + kTone + " -l nan -o x.wav", 2, "--length: nan is not a number of seconds"},
        {"render " + kTone + " -l 0 -o x.wav", 2, "--length: 0 is not a length"},
        {"render " + kTone + " -l abc -o x.wav", 2, "--length: abc is not a number of seconds"},
        {"render " + kTone + " -r 44100.5 -o x.wav", 2, "--rate: 44100.5 is not a whole number of hertz"},
        {"render sumtone -p fc=nan -o x.wav", 2, "\"nan\" is not a finite number"},
        {"render sumtone -p fc=-inf -o x.wav", 2, "\"-inf\" is not a finite number"},
        {"render sumtone -p Mode=3 -o x.wav", 2, "\"3\" is not a choice of Mode (1-Sided=1, 2-Sided=2)"},
        {"render sumtone -p Mode=0 -o x.wav", 2, "\"0\" is not a choice of Mode"},
        {"render sumtone -p bogus=1 -o x.wav", 2, "has no pin \"bogus\""},
        {"render sumtone -p fc -o x.wav", 2, "expected NAME=SOURCE"},
        {"render sumtone -o ''", 2, "--output: an empty name is no file"},
        {"render " + kTone + " -o out.mp3", 2, "cannot write .mp3 files"},
        {"render " + kTone + " -o x.flac --depth float", 2, "FLAC holds whole-number samples only"},
        {"validate sumtone --check nope", 2, "there is no check called \"nope\" (module-properties, "},
        {"foo", 2, "unknown command \"foo\""},
    };
    for (const auto& c : cases) {
        const CommandResult result = Vxhost(c.args);
        EXPECT_EQ(result.status, c.status) << c.args;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.args << ": " << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << c.args << ": " << result.err;
    }
    EXPECT_TRUE(Files().empty()) << "nothing written";
    const CommandResult version = Vxhost("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vxhost ", 0), 0u);
}

TEST_F(ToolTest, FormatsDepthsAndLevels) {
    ASSERT_EQ(Vxhost("render " + kTone + " -l 0.2 -o float.wav").status, 0);
    const Wav reference = ReadWav(Scratch("float.wav"));
    const struct {
        const char* name;
        const char* depth;
        int format;
        float tolerance;  // dither and rounding, in full scale
    } files[] = {
        {"a.wav", "16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2.5f / 32768},
        {"a.aiff", "24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1.0f / 8388608},
        {"a.flac", "", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1.0f / 8388608},
        {"b.flac", "16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2.5f / 32768},
    };
    for (const auto& f : files) {
        const std::string depth = *f.depth ? std::string(" --depth ") + f.depth : "";
        const CommandResult result = Vxhost("render " + kTone + " -l 0.2 -o " + f.name + depth);
        ASSERT_EQ(result.status, 0) << result.err;
        SF_INFO info{};
        SNDFILE* file = sf_open(Scratch(f.name).c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << f.name;
        EXPECT_EQ(info.format, f.format) << f.name;
        sf_close(file);
        const Wav read = ReadWav(Scratch(f.name));
        ASSERT_EQ(read.samples.size(), reference.samples.size());
        float worst = 0.0f;
        for (size_t i = 0; i < read.samples.size(); ++i)
            worst = std::max(worst, std::fabs(read.samples[i] - reference.samples[i]));
        EXPECT_LE(worst, f.tolerance) << f.name;
        // The same render makes the same bytes, dither included.
        ASSERT_EQ(Vxhost("render " + kTone + " -l 0.2 -o again-" + std::string(f.name) + depth).status, 0);
        EXPECT_EQ(Contents(Scratch(f.name)), Contents(Scratch("again-" + std::string(f.name)))) << f.name;
    }

    // Levels: a clipped output is counted, a silent one named, the peak given in dBFS.
    const CommandResult loud = Vxhost("render tracer -p In=0:0.5,0.5:2 --rate 1000 -l 1 -o loud.wav");
    EXPECT_EQ(loud.status, 0);
    EXPECT_NE(loud.out.find("peak 2.000 (6.0 dBFS)"), std::string::npos) << loud.out;
    EXPECT_EQ(loud.err, "vxhost: warning: tracer.Out clips: 500 samples at or above full scale (peak 6.0 dBFS)\n");
    const CommandResult quiet = Vxhost("render tracer -p In=0 --rate 1000 -l 1 -o quiet.wav");
    EXPECT_EQ(quiet.err, "vxhost: warning: tracer.Out is silent: every sample is 0\n");
}

TEST_F(ToolTest, PatchFilesAreCheckedStrictly) {
    WriteFile("no_output.json", R"({ "modules": { "a": { "plugin": "tracer" } },
  "output": [] })");
    WriteFile("gains.json", R"({ "modules": { "m": { "utility": "mix", "inputs": 2, "gains": [1, 2, 3] } } })");
    WriteFile("twice.json", R"({ "modules": { "a": { "plugin": "tracer" } },
  "modules": { "b": { "plugin": "tracer" } } })");
    WriteFile("huge.json", R"({ "modules": { "a": { "plugin": "tracer", "pins": { "In": 1e400 } } } })");
    WriteFile("choice.json", R"({ "modules": { "a": { "plugin": "tracer", "pins": { "Choice": 3 } } } })");
    ASSERT_EQ(mkdir(Scratch("folder.json").c_str(), 0700), 0);
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"patch no_output.json -o x.wav", "vxhost: no_output.json:2:13: output must name at least one pin\n"},
        {"patch gains.json -o x.wav", "vxhost: gains.json:1:63: module \"m\" has 3 gains for 2 inputs\n"},
        {"patch twice.json -o x.wav", "vxhost: twice.json:2:3: the key \"modules\" appears twice in one object\n"},
        {"patch huge.json -o x.wav", "vxhost: huge.json:1:59: a number too large to represent\n"},
        {"patch choice.json -o x.wav", "vxhost: choice.json:1:63: \"3\" is not a choice of Choice (A=1, B=2)\n"},
        {"patch folder.json -o x.wav", "vxhost: cannot read patch folder.json: it is a folder\n"},
        {"patch missing.json -o x.wav", "vxhost: cannot read patch missing.json: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        const CommandResult result = Vxhost(c.args);
        EXPECT_EQ(result.status, 1) << c.args;
        EXPECT_EQ(result.err, c.message) << c.args;
    }
    EXPECT_FALSE(Exists("x.wav"));
}

#endif  // VX_HAVE_TOOL
