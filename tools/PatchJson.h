// The patch file: JSON read into a patch description, with the line and
// column of every item kept for messages.
#ifndef VXHOST_TOOL_PATCHJSON_H
#define VXHOST_TOOL_PATCHJSON_H

#include <string>

#include "Patch.h"

namespace vxhost {

// PatchError with the place of the first thing that is not a patch.
PatchDescription ParsePatchJson(const std::string& text);

}  // namespace vxhost

#endif  // VXHOST_TOOL_PATCHJSON_H
