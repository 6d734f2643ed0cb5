// The demo's picture as SVG: the mix's waveform, the envelopes, the
// spectrum of one note with its band limit, and a spectrogram of the phrase.
#ifndef VXHOST_TOOL_DEMOPICTURE_H
#define VXHOST_TOOL_DEMOPICTURE_H

#include <string>
#include <vector>

namespace vxhost {

struct PictureTrace {
    std::string label;
    std::string color;
    std::vector<float> samples;
};

struct BandLimit {
    double hz;
    std::string label;
};

struct DemoPictureData {
    std::string title;
    double sample_rate = 44100.0;
    std::vector<float> mix;
    std::vector<PictureTrace> envelopes;
    std::vector<float> note;  // the voice whose note the spectrum shows
    double note_start_seconds = 0.0;
    std::string note_label;
    std::vector<BandLimit> band_limits;
    double top_hz = 8000.0;  // upper end of both frequency axes
};

std::string DemoSvg(const DemoPictureData& data);

}  // namespace vxhost

#endif  // VXHOST_TOOL_DEMOPICTURE_H
