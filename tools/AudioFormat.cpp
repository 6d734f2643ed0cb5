#include "AudioFormat.h"

#include "UsageError.h"

namespace vxhost {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

bool ContainerNamed(const std::string& word, Container* container) {
    const std::string name = Lower(word);
    if (name == "wav" || name == "wave")
        *container = Container::Wav;
    else if (name == "aiff" || name == "aif")
        *container = Container::Aiff;
    else if (name == "flac")
        *container = Container::Flac;
    else if (name == "au" || name == "snd")
        *container = Container::Au;
    else
        return false;
    return true;
}

// The extension of the file name's last part, without the dot; empty for none.
std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size() ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return "";
    return path.substr(dot + 1);
}

}  // namespace

AudioFormat ChooseAudioFormat(const std::string& output, const std::string& format, const std::string& depth) {
    AudioFormat chosen;
    if (!format.empty()) {
        if (!ContainerNamed(format, &chosen.container))
            throw UsageError("--format " + format + " is not supported (wav, aiff, flac, au)");
    } else if (output == "-") {
        // AU needs no going back; without libsndfile the WAV header is made complete up front instead.
        chosen.container = VXHOST_HAVE_SNDFILE ? Container::Au : Container::Wav;
    } else {
        const std::string extension = Extension(output);
        if (!extension.empty() && !ContainerNamed(extension, &chosen.container))
            throw UsageError("cannot write ." + extension + " files (" + output +
                             "): use .wav, .aiff, .flac or .au, or choose with --format");
    }
    chosen.depth = chosen.container == Container::Flac ? SampleDepth::Pcm24 : SampleDepth::Float32;
    if (!depth.empty()) {
        const std::string word = Lower(depth);
        if (word == "16")
            chosen.depth = SampleDepth::Pcm16;
        else if (word == "24")
            chosen.depth = SampleDepth::Pcm24;
        else if (word == "float" || word == "32f" || word == "f32")
            chosen.depth = SampleDepth::Float32;
        else
            throw UsageError("--depth " + depth + " is not supported (16, 24 or float)");
    }
    if (!VXHOST_HAVE_SNDFILE && chosen.container != Container::Wav) {
        const std::string described = DescribeFormat(chosen);
        throw UsageError("this build of vxhost writes WAV only (" + described.substr(0, described.find(',')) +
                         " needs libsndfile): use .wav or --format wav");
    }
    if (chosen.container == Container::Flac && chosen.depth == SampleDepth::Float32)
        throw UsageError("FLAC holds whole-number samples only: use --depth 16 or 24");
    return chosen;
}

int BytesPerSample(SampleDepth depth) {
    switch (depth) {
        case SampleDepth::Pcm16:
            return 2;
        case SampleDepth::Pcm24:
            return 3;
        case SampleDepth::Float32:
            break;
    }
    return 4;
}

std::string DescribeFormat(const AudioFormat& format) {
    static const char* const kContainers[] = {"WAV", "AIFF", "FLAC", "AU"};
    static const char* const kDepths[] = {"16-bit PCM", "24-bit PCM", "32-bit float"};
    return std::string(kContainers[static_cast<int>(format.container)]) + ", " +
           kDepths[static_cast<int>(format.depth)];
}

}  // namespace vxhost
