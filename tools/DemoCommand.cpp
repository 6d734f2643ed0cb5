// vxhost demo: placeholder until the demo patch lands.
#include "Commands.h"
#include "HostError.h"

namespace vxhost {

int RunDemo(const DemoOptions&) { throw HostError("the demo is not built yet"); }

}  // namespace vxhost
