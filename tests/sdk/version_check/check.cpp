// Compiles only when the version header agrees with the package version file
// and leaves the framework version the host reads alone.
#include "VXPluginEntry.h"
#include "VXSdkVersion.h"

static_assert(VX_SDK_VERSION_MAJOR == PACKAGE_MAJOR, "major version differs from the package's");
static_assert(VX_SDK_VERSION_MINOR == PACKAGE_MINOR, "minor version differs from the package's");
static_assert(VX_SDK_VERSION_PATCH == PACKAGE_PATCH, "patch version differs from the package's");
static_assert(VX_SDK_VERSION_NUMBER == PACKAGE_MAJOR * 10000 + PACKAGE_MINOR * 100 + PACKAGE_PATCH,
              "the version number is not made of the three parts");
static_assert(VX_SDK_MAKE_VERSION(1, 2, 3) < VX_SDK_MAKE_VERSION(1, 10, 0), "versions compare in order");
static_assert(VX_SDK_VERSION == 2190, "the framework version the host checks is not the release");

#if VX_SDK_VERSION_NUMBER < VX_SDK_MAKE_VERSION(1, 0, 0)
#error "the version number is usable in #if"
#endif

constexpr bool SameText(const char* a, const char* b) { return *a == *b && (*a == '\0' || SameText(a + 1, b + 1)); }
static_assert(SameText(VX_SDK_VERSION_STRING, PACKAGE_VERSION), "the version string differs from the package's");
