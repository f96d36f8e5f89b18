#include "orvix/Validation.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace orvix {

namespace {

constexpr double kZ = 1.959963984540054;  // the 97.5 % quantile of the standard normal

double share(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

// The q-quantile of sorted values, interpolated between neighbours.
double quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0.0;
    const double at = q * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(at));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (at - static_cast<double>(below)) * (sorted[above] - sorted[below]);
}

Interval percentileInterval(double value, std::vector<double> replicates) {
    std::sort(replicates.begin(), replicates.end());
    return {value, quantile(replicates, 0.025), quantile(replicates, 0.975)};
}

OperatingFigures figuresAt(std::span<const LabelledScore> films, double threshold) {
    OperatingFigures f;
    f.threshold = threshold;
    f.confusion = confusionAt(films, threshold);
    const Confusion& c = f.confusion;
    f.sensitivity = wilsonInterval(c.truePositive, c.truePositive + c.falseNegative);
    f.specificity = wilsonInterval(c.trueNegative, c.trueNegative + c.falsePositive);
    f.ppv = wilsonInterval(c.truePositive, c.truePositive + c.falsePositive);
    f.npv = wilsonInterval(c.trueNegative, c.trueNegative + c.falseNegative);
    return f;
}

}  // namespace

double rocAuc(std::span<const LabelledScore> films) {
    std::vector<LabelledScore> sorted(films.begin(), films.end());
    std::sort(sorted.begin(), sorted.end(),
              [](const LabelledScore& a, const LabelledScore& b) { return a.probability < b.probability; });
    // The rank sum of the positive films, tied films sharing the mean of their ranks.
    double positiveRanks = 0.0;
    std::size_t positives = 0;
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t j = i;
        std::size_t tiedPositives = 0;
        for (; j < sorted.size() && sorted[j].probability == sorted[i].probability; ++j)
            tiedPositives += sorted[j].positive;
        const double meanRank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2.0;
        positiveRanks += meanRank * static_cast<double>(tiedPositives);
        positives += tiedPositives;
        i = j;
    }
    const double p = static_cast<double>(positives), n = static_cast<double>(sorted.size() - positives);
    return (positiveRanks - p * (p + 1.0) / 2.0) / (p * n);
}

Interval wilsonInterval(std::size_t successes, std::size_t n) {
    if (n == 0) return {0.0, 0.0, 1.0};
    const double total = static_cast<double>(n), p = share(successes, n), z2 = kZ * kZ;
    const double centre = (p + z2 / (2 * total)) / (1 + z2 / total);
    const double half = kZ / (1 + z2 / total) * std::sqrt(p * (1 - p) / total + z2 / (4 * total * total));
    return {p, std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

Confusion confusionAt(std::span<const LabelledScore> films, double threshold) {
    Confusion c;
    for (const auto& film : films) {
        const bool called = film.probability >= threshold;
        if (film.positive) ++(called ? c.truePositive : c.falseNegative);
        else ++(called ? c.falsePositive : c.trueNegative);
    }
    return c;
}

double thresholdForSensitivity(std::span<const LabelledScore> films, double target) {
    std::vector<double> positives;
    for (const auto& film : films)
        if (film.positive) positives.push_back(film.probability);
    std::sort(positives.begin(), positives.end(), std::greater<>());
    // The fewest films that reach the target; the small allowance keeps 0.95 * 20 at 19.
    const double wanted = std::ceil(target * static_cast<double>(positives.size()) - 1e-9);
    const auto k = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(wanted, 1.0)), 1, positives.size());
    return positives[k - 1];
}

Calibration calibration(std::span<const LabelledScore> films) {
    Calibration c;
    std::array<double, 10> sums{}, positives{};
    for (const auto& film : films) {
        const auto bin = static_cast<std::size_t>(std::clamp(std::floor(film.probability * 10.0), 0.0, 9.0));
        ++c.bins[bin].films;
        sums[bin] += film.probability;
        positives[bin] += film.positive ? 1.0 : 0.0;
    }
    for (std::size_t b = 0; b < c.bins.size(); ++b) {
        auto& bin = c.bins[b];
        bin.low = static_cast<double>(b) / 10.0;
        bin.high = static_cast<double>(b + 1) / 10.0;
        if (bin.films == 0) continue;
        bin.meanProbability = sums[b] / static_cast<double>(bin.films);
        bin.positiveShare = positives[b] / static_cast<double>(bin.films);
        c.expectedError += share(bin.films, films.size()) * std::abs(bin.meanProbability - bin.positiveShare);
    }
    return c;
}

std::vector<RocPoint> rocCurve(std::span<const LabelledScore> films) {
    std::vector<LabelledScore> sorted(films.begin(), films.end());
    std::sort(sorted.begin(), sorted.end(),
              [](const LabelledScore& a, const LabelledScore& b) { return a.probability > b.probability; });
    std::size_t positives = 0;
    for (const auto& film : sorted) positives += film.positive;
    const std::size_t negatives = sorted.size() - positives;
    std::vector<RocPoint> curve{{0.0, 0.0, 1.0}};
    std::size_t tp = 0, fp = 0;
    for (std::size_t i = 0; i < sorted.size();) {
        const double threshold = sorted[i].probability;
        for (; i < sorted.size() && sorted[i].probability == threshold; ++i) ++(sorted[i].positive ? tp : fp);
        curve.push_back({share(fp, negatives), share(tp, positives), threshold});
    }
    return curve;
}

Result<ValidationReport> validate(std::span<const LabelledScore> films, const ValidationSettings& settings) {
    ValidationReport r;
    for (const auto& film : films) ++(film.positive ? r.positives : r.negatives);
    if (r.positives == 0 || r.negatives == 0)
        return Error{"the films need both labels: " + std::to_string(r.negatives) + " NORMAL and " +
                     std::to_string(r.positives) + " PNEUMONIA"};
    if (!(settings.targetSensitivity > 0.0 && settings.targetSensitivity <= 1.0))
        return Error{"the target sensitivity must lie in (0, 1]"};

    const double localThreshold = thresholdForSensitivity(films, settings.targetSensitivity);
    r.shipped = figuresAt(films, settings.shippedThreshold);
    r.local = figuresAt(films, localThreshold);
    r.calibration = calibration(films);
    r.roc = rocCurve(films);
    if (settings.borderline) {
        // Plain names, not a structured binding: clang 14 cannot capture one in a lambda.
        const double low = (*settings.borderline)[0], high = (*settings.borderline)[1];
        const auto inBand = std::count_if(films.begin(), films.end(), [&](const LabelledScore& f) {
            return low <= f.probability && f.probability <= high;
        });
        r.borderlineShare = share(static_cast<std::size_t>(inBand), films.size());
    }

    std::vector<LabelledScore> positive, negative;
    for (const auto& film : films) (film.positive ? positive : negative).push_back(film);
    std::mt19937_64 random(settings.seed);
    std::vector<double> aucs, thresholds, specificities;
    std::vector<LabelledScore> replicate(films.size());
    for (std::size_t b = 0; b < settings.replicates; ++b) {
        // Drawn by modulo rather than std::uniform_int_distribution, whose draws differ between
        // standard libraries: the same seed gives the same intervals on every build.
        std::size_t i = 0;
        for (const auto* group : {&positive, &negative})
            for (std::size_t k = 0; k < group->size(); ++k) replicate[i++] = (*group)[random() % group->size()];
        aucs.push_back(rocAuc(replicate));
        const double t = thresholdForSensitivity(replicate, settings.targetSensitivity);
        thresholds.push_back(t);
        const Confusion c = confusionAt(replicate, t);
        specificities.push_back(share(c.trueNegative, c.trueNegative + c.falsePositive));
    }
    r.auc = percentileInterval(rocAuc(films), aucs);
    r.localThreshold = percentileInterval(localThreshold, thresholds);
    r.localSpecificity = percentileInterval(r.local.specificity.value, specificities);
    return r;
}

}  // namespace orvix
