#pragma once
// The operating point that makes the window's verdicts, for the whole process (the screen and
// the worklist's worker): the configured one, read once at start (see findOperatingPoint), or
// the one the user adopts or drops with Tools > Validate on Local Films. None means the disease
// model's own threshold, and then every verdict, report and PDF is as without this feature.
//
// The user's point is a file only because the user asks for it ("Use this operating point"),
// as a report is; nothing else about it is remembered.

#include <QString>

#include <optional>

#include "orvix/DiagnosisState.h"
#include "orvix/Environment.h"
#include "orvix/OperatingPoint.h"
#include "orvix/Result.h"

namespace orvix::app {

std::optional<OperatingPoint> activeOperatingPoint();
void setActiveOperatingPoint(std::optional<OperatingPoint> point);

// The disease model's rule as the window applies it now: its own metadata, or that metadata with
// the active point's threshold and band.
ModelMetadata activeDiseaseRule(const ModelMetadata& disease);

// After an import run: the active point decides the verdict and names itself in the report.
// Nothing changes without one.
void applyActiveOperatingPoint(DiagnosisState& state);

// After the active point changed: the verdict of the chest X-ray in state decided again at it (or
// at the model's threshold without one), with a report composed anew.
void redecideAtActiveOperatingPoint(DiagnosisState& state);

// What made a verdict: "shipped threshold 39.9 %" or the active point's description.
QString operatingPointText(const ModelMetadata& disease);

// At start: makes the configured point (if any) active. A point that cannot be read, or that
// was validated with other models, is not used; the message to show says which file and why.
std::optional<QString> loadConfiguredOperatingPoint(const DiagnosisState& state, const EnvironmentLookup& environment);

// "Use this operating point": writes point to the user's file (atomically, creating its folder)
// and makes it active. Fails, naming the file, when there is no home or the file cannot be written.
Status adoptOperatingPoint(const OperatingPoint& point, const EnvironmentLookup& environment);

// "Revert to shipped": removes the user's file, if any, and makes the model's threshold active.
// A system-wide point (/etc/orvix) is not the user's to remove: systemPointLeft then names it, as
// it applies again at the next start.
struct Reverted {
    std::optional<std::filesystem::path> systemPointLeft;
};
Result<Reverted> revertToShippedThreshold(const EnvironmentLookup& environment,
                                          const std::filesystem::path& systemDirectory = "/etc/orvix");

}  // namespace orvix::app
