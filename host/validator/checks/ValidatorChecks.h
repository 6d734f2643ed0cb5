// The checks of `vxhost validate` and the helpers they share. Each check
// gets its context and writes findings into its log; Validator.cpp lists
// them with their names, groups and levels.
#ifndef VXHOST_VALIDATORCHECKS_H
#define VXHOST_VALIDATORCHECKS_H

#include <string>
#include <vector>

#include "Validator.h"
#include "ValidatorHost.h"
#include "ValidatorSignals.h"

namespace vxhost {

// Properties and pin table (ValidatorChecksPins.cpp).
void CheckModuleProperties(const CheckContext& context, CheckLog& log);
void CheckInstanceRecord(const CheckContext& context, CheckLog& log);
void CheckPinTable(const CheckContext& context, CheckLog& log);
void CheckPinQueries(const CheckContext& context, CheckLog& log);

// Lifecycle (ValidatorChecksLifecycle.cpp).
void CheckOpenClose(const CheckContext& context, CheckLog& log);
void CheckManyInstances(const CheckContext& context, CheckLog& log);
void CheckNullCallback(const CheckContext& context, CheckLog& log);
void CheckRestart(const CheckContext& context, CheckLog& log);
void CheckSampleRates(const CheckContext& context, CheckLog& log);
void CheckBlockSizes(const CheckContext& context, CheckLog& log);
void CheckCallLengths(const CheckContext& context, CheckLog& log);

// Processing (ValidatorChecksProcessing.cpp).
void CheckBufferWindow(const CheckContext& context, CheckLog& log);
void CheckFiniteOutput(const CheckContext& context, CheckLog& log);
void CheckEventsAtEdges(const CheckContext& context, CheckLog& log);
void CheckAnnouncementStamps(const CheckContext& context, CheckLog& log);
void CheckDeterminism(const CheckContext& context, CheckLog& log);
void CheckBlockSplit(const CheckContext& context, CheckLog& log);

// The sleep protocol (ValidatorChecksSleep.cpp).
void CheckSleepProtocol(const CheckContext& context, CheckLog& log);
void CheckWakeContinuation(const CheckContext& context, CheckLog& log);

// Robustness (ValidatorChecksAbuse.cpp).
void CheckInputAbuse(const CheckContext& context, CheckLog& log);
void CheckRealtimeSafety(const CheckContext& context, CheckLog& log);

// ---- Shared helpers (ValidatorCheckTools.cpp) ----

// A number that grows with the level: `at_lowest` at level 1, `at_highest` at 10.
int Scaled(int level, int at_lowest, int at_highest);

// The pin table as a host reads it, from a short-lived instance; empty
// (logged) when the library makes no instance.
std::vector<PinDescription> ReadPins(const PluginLibrary& library, CheckLog& log);

// A scenario of held values that change now and then, streams included
// from `stream_chance` on.
Scenario TypicalScenario(const std::vector<PinDescription>& pins, uint64_t length, int32_t block_size,
                         ValidatorRandom& random, double stream_chance = 0.2);

// Opens a fresh instance and plays the scenario; false when no instance came.
bool PlayFresh(ValidatorHost& host, const Scenario& scenario, const CutPolicy& cuts);

// Every recorded output sample finite (and, if asked, no denormal) from `from` on.
void RequireCleanOutput(const ValidatorHost& host, CheckLog& log, const std::string& context, bool no_denormals,
                        int64_t from = 0);

// Sample-for-sample equality of two runs' outputs; false (logged) at the first difference.
bool RequireSameOutput(const ValidatorHost& expected, const ValidatorHost& actual, CheckLog& log,
                       const std::string& what);

bool SameSample(float a, float b);
bool IsDenormal(float value);
std::string Describe(float value);
std::string PinLabel(const std::vector<PinDescription>& pins, int32_t pin);

}  // namespace vxhost

#endif  // VXHOST_VALIDATORCHECKS_H
