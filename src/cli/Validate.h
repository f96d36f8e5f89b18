#pragma once
// orvix-screen --validate: the disease model measured on a clinic's labelled films.

#include <functional>
#include <vector>

#include "BatchOptions.h"
#include "orvix/DiagnosisState.h"
#include "orvix/Result.h"

namespace orvix::cli {

// Finds and checks the labelled films first, then loads the models (one state per worker through
// loadStates), analyses the films, and prints the figures (text, or one JSON object with --json).
// Writes plots and the operating point only once every figure is computed. Returns the exit
// status: 0, 1 when some film could not be read (each named on standard error), 2 when the films
// cannot be validated (no films, one label only, a bad labels file) or an output cannot be
// written; nothing is written then.
int runValidation(const BatchOptions& options, const std::function<Result<std::vector<DiagnosisState>>()>& loadStates);

}  // namespace orvix::cli
