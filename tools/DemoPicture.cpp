#include "DemoPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "FourierAnalysis.h"

namespace vxhost {

namespace {

constexpr double kWidth = 1000.0;
constexpr double kLeft = 70.0;
constexpr double kRight = 980.0;
constexpr double kPlotWidth = kRight - kLeft;
constexpr size_t kNoteFft = 16384;
constexpr size_t kGramFft = 2048;
constexpr int kGramColumns = 300;
constexpr int kGramRows = 160;
constexpr double kFloorDb = -90.0;

struct Panel {
    double top;
    double height;
    double Bottom() const { return top + height; }
};

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

// Dark blue through red to pale yellow, for levels from the floor to 0 dB.
std::string HeatColor(double level) {
    static const double anchors[][3] = {{20, 24, 60}, {90, 30, 130}, {200, 50, 80}, {250, 150, 40}, {255, 245, 180}};
    const double t = std::clamp(level, 0.0, 1.0) * 4.0;
    const int i = std::min(static_cast<int>(t), 3);
    const double f = t - i;
    char text[16];
    std::snprintf(text, sizeof text, "#%02x%02x%02x",
                  static_cast<int>(anchors[i][0] + f * (anchors[i + 1][0] - anchors[i][0])),
                  static_cast<int>(anchors[i][1] + f * (anchors[i + 1][1] - anchors[i][1])),
                  static_cast<int>(anchors[i][2] + f * (anchors[i + 1][2] - anchors[i][2])));
    return text;
}

class SvgWriter {
public:
    explicit SvgWriter(double height) {
        m_out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
              << "\" viewBox=\"0 0 " << kWidth << " " << height << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
              << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    }
    std::ostringstream& Out() { return m_out; }
    void Text(double x, double y, const std::string& text, const std::string& extra = "") {
        m_out << "<text x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" " << extra << ">" << Escape(text)
              << "</text>\n";
    }
    void Line(double x1, double y1, double x2, double y2, const std::string& style) {
        m_out << "<line x1=\"" << Number(x1) << "\" y1=\"" << Number(y1) << "\" x2=\"" << Number(x2) << "\" y2=\""
              << Number(y2) << "\" " << style << "/>\n";
    }
    void Frame(const Panel& p, const std::string& title, const std::string& fill = "#f7f7f7") {
        m_out << "<rect x=\"" << kLeft << "\" y=\"" << p.top << "\" width=\"" << kPlotWidth << "\" height=\""
              << p.height << "\" fill=\"" << fill << "\" stroke=\"#888\"/>\n";
        Text(kLeft, p.top - 8, title, "font-size=\"14\" font-weight=\"bold\"");
    }
    std::string Finish() {
        m_out << "</svg>\n";
        return m_out.str();
    }

private:
    std::ostringstream m_out;
};

double Seconds(const DemoPictureData& d) { return static_cast<double>(d.mix.size()) / d.sample_rate; }

void TimeAxis(SvgWriter& svg, const Panel& p, double seconds) {
    for (int s = 0; s <= static_cast<int>(seconds); ++s) {
        const double x = kLeft + kPlotWidth * s / seconds;
        svg.Line(x, p.Bottom(), x, p.Bottom() + 4, "stroke=\"#444\"");
        svg.Text(x - 4, p.Bottom() + 16, std::to_string(s) + " s");
    }
}

// A band of the signal's lowest and highest sample in each pixel column.
std::string MinMaxPath(const std::vector<float>& samples, const Panel& p, double low, double high) {
    const int columns = static_cast<int>(kPlotWidth);
    std::vector<float> top(static_cast<size_t>(columns)), bottom(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        const size_t begin = samples.size() * static_cast<size_t>(c) / static_cast<size_t>(columns);
        const size_t end =
            std::max(begin + 1, samples.size() * static_cast<size_t>(c + 1) / static_cast<size_t>(columns));
        float lo = 0.0f, hi = 0.0f;
        for (size_t i = begin; i < end && i < samples.size(); ++i) {
            lo = i == begin ? samples[i] : std::min(lo, samples[i]);
            hi = i == begin ? samples[i] : std::max(hi, samples[i]);
        }
        top[static_cast<size_t>(c)] = hi;
        bottom[static_cast<size_t>(c)] = lo;
    }
    auto y = [&](double v) { return p.Bottom() - p.height * (std::clamp(v, low, high) - low) / (high - low); };
    std::string path = "M";
    for (int c = 0; c < columns; ++c) path += " " + Number(kLeft + c) + "," + Number(y(top[static_cast<size_t>(c)]));
    for (int c = columns - 1; c >= 0; --c)
        path += " " + Number(kLeft + c) + "," + Number(y(bottom[static_cast<size_t>(c)]));
    return path + " Z";
}

void Waveform(SvgWriter& svg, const DemoPictureData& d, const Panel& p) {
    svg.Frame(p, "Waveform of the mix");
    svg.Line(kLeft, p.top + p.height / 2, kRight, p.top + p.height / 2, "stroke=\"#ccc\"");
    svg.Out() << "<path d=\"" << MinMaxPath(d.mix, p, -1.0, 1.0)
              << "\" fill=\"#2b6cb0\" stroke=\"#2b6cb0\" stroke-width=\"0.5\"/>\n";
    svg.Text(kLeft - 24, p.top + 4, "+1");
    svg.Text(kLeft - 24, p.Bottom(), "-1");
    TimeAxis(svg, p, Seconds(d));
}

void Envelopes(SvgWriter& svg, const DemoPictureData& d, const Panel& p) {
    svg.Frame(p, "Envelopes (ramplet outputs)");
    double legend = kRight - 10;
    for (auto it = d.envelopes.rbegin(); it != d.envelopes.rend(); ++it) {
        svg.Out() << "<path d=\"" << MinMaxPath(it->samples, p, 0.0, 1.05) << "\" fill=\"" << it->color
                  << "\" fill-opacity=\"0.35\" stroke=\"" << it->color << "\"/>\n";
        legend -= 8.0 * static_cast<double>(it->label.size()) + 20;
        // The legend sits on the title's line, clear of the curves.
        svg.Out() << "<rect x=\"" << Number(legend) << "\" y=\"" << p.top - 18
                  << "\" width=\"10\" height=\"10\" fill=\"" << it->color << "\"/>\n";
        svg.Text(legend + 14, p.top - 9, it->label);
    }
    svg.Text(kLeft - 24, p.top + 10, "1");
    svg.Text(kLeft - 24, p.Bottom(), "0");
    TimeAxis(svg, p, Seconds(d));
}

void FrequencyTicks(SvgWriter& svg, const Panel& p, double top_hz, bool vertical_axis) {
    for (double hz = 0; hz <= top_hz; hz += 1000) {
        if (vertical_axis) {
            const double y = p.Bottom() - p.height * hz / top_hz;
            svg.Line(kLeft - 4, y, kLeft, y, "stroke=\"#444\"");
            svg.Text(kLeft - 52, y + 4, std::to_string(static_cast<int>(hz)) + " Hz");
        } else {
            const double x = kLeft + kPlotWidth * hz / top_hz;
            svg.Line(x, p.Bottom(), x, p.Bottom() + 4, "stroke=\"#444\"");
            const double shift = hz + 1000 > top_hz ? 40 : 14;  // the last label stays inside the picture
            svg.Text(x - shift, p.Bottom() + 16, std::to_string(static_cast<int>(hz)) + " Hz");
        }
    }
}

void NoteSpectrum(SvgWriter& svg, const DemoPictureData& d, const Panel& p) {
    svg.Frame(p, "Spectrum of " + d.note_label);
    const auto start = static_cast<size_t>(std::llround(d.note_start_seconds * d.sample_rate));
    const std::vector<double> levels = SpectrumDb(d.note, start, kNoteFft);
    const double bin_hz = d.sample_rate / static_cast<double>(kNoteFft);
    auto y = [&](double db) { return p.top + p.height * (0.0 - std::max(db, -120.0)) / 120.0; };
    for (int db = -20; db >= -100; db -= 20) {
        svg.Line(kLeft, y(db), kRight, y(db), "stroke=\"#e2e2e2\"");
        svg.Text(kLeft - 50, y(db) + 4, std::to_string(db) + " dB");
    }
    std::string path = "M";
    const size_t last = std::min(levels.size() - 1, static_cast<size_t>(d.top_hz / bin_hz));
    for (size_t k = 0; k <= last; ++k)
        path +=
            " " + Number(kLeft + kPlotWidth * static_cast<double>(k) * bin_hz / d.top_hz) + "," + Number(y(levels[k]));
    svg.Out() << "<path d=\"" << path << "\" fill=\"none\" stroke=\"#2b6cb0\" stroke-width=\"1\"/>\n";
    for (const BandLimit& limit : d.band_limits) {
        const double x = kLeft + kPlotWidth * limit.hz / d.top_hz;
        svg.Line(x, p.top, x, p.Bottom(), "stroke=\"#c53030\" stroke-dasharray=\"6,4\" stroke-width=\"1.5\"");
        svg.Text(x + 6, p.top + 16, limit.label, "fill=\"#c53030\"");
    }
    FrequencyTicks(svg, p, d.top_hz, false);
}

void Spectrogram(SvgWriter& svg, const DemoPictureData& d, const Panel& p) {
    svg.Frame(p, "Spectrogram of the mix", "#14183c");
    const double cell_width = kPlotWidth / kGramColumns;
    const double cell_height = p.height / kGramRows;
    const double bin_hz = d.sample_rate / static_cast<double>(kGramFft);
    for (int column = 0; column < kGramColumns; ++column) {
        const size_t centre = d.mix.size() * static_cast<size_t>(column) / kGramColumns;
        const size_t start = centre > kGramFft / 2 ? centre - kGramFft / 2 : 0;
        const std::vector<double> levels = SpectrumDb(d.mix, start, kGramFft);
        // Each row shows the loudest bin within it; equal neighbours merge into one rectangle.
        int run_start = 0;
        int run_level = -1;
        for (int row = 0; row <= kGramRows; ++row) {
            int level = -1;
            if (row < kGramRows) {
                const auto first = static_cast<size_t>(d.top_hz * row / kGramRows / bin_hz);
                const auto last = static_cast<size_t>(d.top_hz * (row + 1) / kGramRows / bin_hz);
                double loudest = -200.0;
                for (size_t k = first; k <= last && k < levels.size(); ++k) loudest = std::max(loudest, levels[k]);
                if (loudest > kFloorDb) level = static_cast<int>((loudest - kFloorDb) / -kFloorDb * 15.0);
            }
            if (level == run_level) continue;
            if (run_level >= 0) {
                const double y = p.Bottom() - row * cell_height;
                svg.Out() << "<rect x=\"" << Number(kLeft + column * cell_width) << "\" y=\"" << Number(y)
                          << "\" width=\"" << Number(cell_width + 0.4) << "\" height=\""
                          << Number((row - run_start) * cell_height + 0.4) << "\" fill=\""
                          << HeatColor(run_level / 15.0) << "\"/>\n";
            }
            run_start = row;
            run_level = level;
        }
    }
    for (const BandLimit& limit : d.band_limits) {
        const double y = p.Bottom() - p.height * limit.hz / d.top_hz;
        svg.Line(kLeft, y, kRight, y, "stroke=\"#ffffff\" stroke-dasharray=\"6,4\" stroke-width=\"1\"");
        svg.Text(kRight - 150, y - 4, limit.label, "fill=\"#ffffff\"");
    }
    FrequencyTicks(svg, p, d.top_hz, true);
    TimeAxis(svg, p, Seconds(d));
}

}  // namespace

std::string DemoSvg(const DemoPictureData& data) {
    SvgWriter svg(1010);
    svg.Text(kLeft, 24, data.title, "font-size=\"16\" font-weight=\"bold\"");
    Waveform(svg, data, {60, 150});
    Envelopes(svg, data, {260, 110});
    NoteSpectrum(svg, data, {420, 220});
    Spectrogram(svg, data, {700, 270});
    return svg.Finish();
}

}  // namespace vxhost
