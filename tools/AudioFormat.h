// The file formats a render can be written in: WAV, AIFF and FLAC with
// 16-bit or 24-bit samples, WAV and AIFF with 32-bit float samples too, and
// AU, which a pipe can carry. Chosen by --format and --depth, or else by the
// output file's extension.
#ifndef VXHOST_TOOL_AUDIOFORMAT_H
#define VXHOST_TOOL_AUDIOFORMAT_H

#include <string>

namespace vxhost {

enum class Container { Wav, Aiff, Flac, Au };
enum class SampleDepth { Pcm16, Pcm24, Float32 };

struct AudioFormat {
    Container container = Container::Wav;
    SampleDepth depth = SampleDepth::Float32;
};

// `format` and `depth` are the options' texts, empty when not given. A
// UsageError names what is not supported. Standard output ("-") and files
// without an extension default to AU and WAV respectively, 32-bit float.
AudioFormat ChooseAudioFormat(const std::string& output, const std::string& format, const std::string& depth);

int BytesPerSample(SampleDepth depth);
// "WAV, 16-bit PCM"
std::string DescribeFormat(const AudioFormat& format);

}  // namespace vxhost

#endif  // VXHOST_TOOL_AUDIOFORMAT_H
