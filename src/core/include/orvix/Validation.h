#pragma once
// A clinic's own validation of the disease model: how it separates the clinic's films labelled
// NORMAL and PNEUMONIA, how well its probabilities are calibrated there, and the threshold that
// reaches a chosen sensitivity on them. Pure computation on (probability, label) pairs, without
// Qt and without files, so that orvix-screen --validate and the window compute the same numbers.
//
//   std::vector<LabelledScore> films = ...;  // P(PNEUMONIA) and the film's label
//   auto report = validate(films, {.shippedThreshold = 0.346, .targetSensitivity = 0.95});
//   if (!report) explain(report.error().message);   // one label only, no films
//
// Conventions: a film is called positive when its probability is >= the threshold (the disease
// model's own rule); intervals are 95 % intervals; every number is a plain fraction in [0, 1].

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "orvix/Result.h"

namespace orvix {

struct LabelledScore {
    double probability = 0.0;  // the disease model's P(PNEUMONIA)
    bool positive = false;     // labelled PNEUMONIA
};

// A value with its 95 % interval [low, high].
struct Interval {
    double value = 0.0, low = 0.0, high = 0.0;
};

// The area under the ROC curve: the probability that a random positive film scores above a
// random negative one, a tie counting one half (Mann-Whitney). Precondition: both labels present.
double rocAuc(std::span<const LabelledScore> films);

// Wilson's score interval for successes out of n (z = 1.96); {0, 0, 1} when n is 0.
Interval wilsonInterval(std::size_t successes, std::size_t n);

struct Confusion {
    std::size_t truePositive = 0, falseNegative = 0, trueNegative = 0, falsePositive = 0;
};
// The films against the rule probability >= threshold.
Confusion confusionAt(std::span<const LabelledScore> films, double threshold);

// The highest threshold whose sensitivity (share of positive films with probability >= it) is at
// least target: the k-th highest positive probability, k = ceil(target * positives). Every
// lower threshold reaches the target too, at no better specificity. Precondition: a positive film
// and 0 < target <= 1.
double thresholdForSensitivity(std::span<const LabelledScore> films, double target);

// Ten equal bins of the probability ([0, 0.1), ..., [0.9, 1.0]); for each the films in it, their
// mean probability and the share labelled PNEUMONIA. The expected calibration error is the
// film-weighted mean of |mean probability - positive share| over the bins.
struct CalibrationBin {
    double low = 0.0, high = 0.0;
    std::size_t films = 0;
    double meanProbability = 0.0, positiveShare = 0.0;  // 0 in an empty bin
};
struct Calibration {
    std::array<CalibrationBin, 10> bins{};
    double expectedError = 0.0;
};
Calibration calibration(std::span<const LabelledScore> films);

// One point of the ROC curve per distinct probability (from the highest), starting at (0, 0)
// and ending at (1, 1).
struct RocPoint {
    double falsePositiveRate = 0.0, truePositiveRate = 0.0, threshold = 0.0;
};
std::vector<RocPoint> rocCurve(std::span<const LabelledScore> films);

struct ValidationSettings {
    double shippedThreshold = 0.5;
    std::optional<std::array<double, 2>> borderline;  // the shipped band, [low, high]
    double targetSensitivity = 0.95;
    std::size_t replicates = 2000;  // bootstrap replicates
    std::uint64_t seed = 20261207;  // the same seed gives the same intervals
};

// The figures at one threshold.
struct OperatingFigures {
    double threshold = 0.0;
    Confusion confusion;
    Interval sensitivity, specificity, ppv, npv;  // Wilson intervals
};

struct ValidationReport {
    std::size_t positives = 0, negatives = 0;
    Interval auc;                  // the interval from the bootstrap
    OperatingFigures shipped;      // at the model's own threshold
    double borderlineShare = 0.0;  // films inside the shipped band (0 without one)
    Calibration calibration;
    // The threshold that reaches the target on these films; its interval and that of the
    // specificity there come from the bootstrap (each replicate chooses its own threshold).
    OperatingFigures local;
    Interval localThreshold, localSpecificity;
    std::vector<RocPoint> roc;
};

// Every figure above. The bootstrap is stratified (each replicate draws as many positive and as
// many negative films as there are, with replacement, from a 64-bit Mersenne Twister seeded with
// settings.seed) and its intervals are the 2.5 and 97.5 percentiles. Fails when a label has no
// film or the target is not in (0, 1].
Result<ValidationReport> validate(std::span<const LabelledScore> films, const ValidationSettings& settings);

}  // namespace orvix
