// A progress bar on standard error for renders that take a while, shown
// only on a terminal; it also tells the render when the user asked to stop.
#ifndef VXHOST_TOOL_PROGRESS_H
#define VXHOST_TOOL_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace vxhost {

class ProgressBar {
public:
    explicit ProgressBar(std::string label);
    ~ProgressBar();  // clears the bar's line
    // False once the user has asked to stop.
    bool Update(uint64_t done, uint64_t total);

private:
    using Clock = std::chrono::steady_clock;
    std::string m_label;
    bool m_terminal;
    bool m_shown = false;
    Clock::time_point m_start;
    Clock::time_point m_last_draw;
};

}  // namespace vxhost

#endif  // VXHOST_TOOL_PROGRESS_H
