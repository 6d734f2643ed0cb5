// The validator's findings as JUnit XML, the form CI servers read test
// results in: a test suite per plug-in and a test case per check, with its
// time, a failure element for a FAIL and a skipped one for a check that did
// not run (a SKIP, one below the run's level, or one not selected).
#ifndef VXHOST_VALIDATORJUNIT_H
#define VXHOST_VALIDATORJUNIT_H

#include <string>
#include <vector>

#include "ValidatorReport.h"

namespace vxhost {

struct JunitSuite {
    std::string name;  // the plug-in as the user named it
    ValidationReport report;
    // Set when the plug-in could not be loaded: the suite then holds one
    // test case with this as its error.
    std::string load_error;
};

std::string JunitXml(const std::vector<JunitSuite>& suites);

// Text made safe for XML character data and attribute values: markup
// characters escaped, characters XML 1.0 does not allow and bytes that are
// not UTF-8 replaced.
std::string XmlEscape(const std::string& text);

}  // namespace vxhost

#endif  // VXHOST_VALIDATORJUNIT_H
