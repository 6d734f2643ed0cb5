#include "Progress.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

#include <cstdio>

#include "Interrupts.h"

namespace vxhost {

namespace {

// Short renders finish before a bar would help; a bar appears only after this.
constexpr auto kQuietTime = std::chrono::milliseconds(400);
constexpr auto kRedrawTime = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::string label)
    : m_label(std::move(label)), m_terminal(isatty(STDERR_FILENO) != 0), m_start(Clock::now()), m_last_draw(m_start) {}

ProgressBar::~ProgressBar() {
    if (m_shown) std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_label.size()) + kBarWidth + 16, "");
}

bool ProgressBar::Update(uint64_t done, uint64_t total) {
    if (Interrupted()) return false;
    if (!m_terminal || total == 0) return true;
    const auto now = Clock::now();
    if (now - m_start < kQuietTime || (m_shown && now - m_last_draw < kRedrawTime && done < total)) return true;
    m_last_draw = now;
    m_shown = true;
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%", m_label.c_str(), bar.c_str(), static_cast<int>(fraction * 100.0));
    std::fflush(stderr);
    return true;
}

}  // namespace vxhost
