// Ctrl-C, SIGTERM and SIGHUP stop the running command cleanly instead of
// killing the process: the command notices at its next step, removes what it
// had begun to write and exits with the signal's conventional status (128 +
// its number: 130 for Ctrl-C). A second signal while the first is being
// handled ends the process at once, still removing the unfinished file.
// Writes that fail because of a file size limit or a closed pipe come back as
// errors instead of killing the process, so they too leave nothing behind.
#ifndef VXHOST_TOOL_INTERRUPTS_H
#define VXHOST_TOOL_INTERRUPTS_H

#include <string>

namespace vxhost {

void CatchInterrupts();
bool Interrupted();
// 128 + the number of the first signal that arrived; 0 when none did.
int InterruptExitStatus();

// The unfinished file that a second signal removes before the process ends;
// empty for none. Only one output file is written at a time.
void SetUnfinishedFile(const std::string& path);

}  // namespace vxhost

#endif  // VXHOST_TOOL_INTERRUPTS_H
