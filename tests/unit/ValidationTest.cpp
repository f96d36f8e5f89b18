// The validation figures against computations written another way: AUC by counting every pair,
// Wilson's bounds as the roots of its quadratic, the threshold by trying every candidate.

#include "orvix/Validation.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

namespace orvix {
namespace {

// Small sets with ties inside and across labels.
std::vector<std::vector<LabelledScore>> fixtureSets() {
    std::vector<std::vector<LabelledScore>> sets = {
        {{0.1, false}, {0.4, false}, {0.35, true}, {0.8, true}},
        {{0.5, false}, {0.5, true}, {0.5, false}, {0.7, true}, {0.2, false}, {0.7, false}, {0.9, true}},
        {{0.3, true}, {0.3, true}, {0.3, false}, {0.3, false}},
    };
    std::mt19937 random(3);
    std::vector<LabelledScore> large;
    for (int i = 0; i < 200; ++i)  // coarse probabilities: many ties
        large.push_back({static_cast<double>(random() % 21) / 20.0, random() % 3 == 0});
    sets.push_back(large);
    return sets;
}

double pairCountAuc(const std::vector<LabelledScore>& films) {
    double wins = 0, pairs = 0;
    for (const auto& p : films)
        for (const auto& n : films)
            if (p.positive && !n.positive) {
                pairs += 1;
                wins += p.probability > n.probability ? 1.0 : p.probability == n.probability ? 0.5 : 0.0;
            }
    return wins / pairs;
}

double bruteForceThreshold(const std::vector<LabelledScore>& films, double target) {
    double best = -1;
    for (const auto& candidate : films) {
        double called = 0, positives = 0;
        for (const auto& f : films)
            if (f.positive) {
                positives += 1;
                called += f.probability >= candidate.probability;
            }
        if (called / positives >= target) best = std::max(best, candidate.probability);
    }
    return best;
}

TEST(ValidationTest, AucCountsEveryPairWithTiesAsHalf) {
    for (const auto& films : fixtureSets()) EXPECT_NEAR(rocAuc(films), pairCountAuc(films), 1e-9);
}

TEST(ValidationTest, WilsonBoundsAreTheRootsOfItsQuadratic) {
    // (phat - p)^2 = z^2 p (1 - p) / n, solved for p.
    const double z = 1.959963984540054;
    for (const auto& [k, n] : {std::pair<std::size_t, std::size_t>{0, 10}, {3, 10}, {10, 10}, {47, 50}, {1, 1}}) {
        const double N = static_cast<double>(n), phat = static_cast<double>(k) / N;
        const double a = 1 + z * z / N, b = -(2 * phat + z * z / N), c = phat * phat;
        const double root = std::sqrt(b * b - 4 * a * c);
        const Interval w = wilsonInterval(k, n);
        EXPECT_NEAR(w.value, phat, 1e-12);
        EXPECT_NEAR(w.low, (-b - root) / (2 * a), 1e-9) << k << "/" << n;
        EXPECT_NEAR(w.high, (-b + root) / (2 * a), 1e-9) << k << "/" << n;
    }
}

TEST(ValidationTest, ThresholdIsTheHighestThatReachesTheTarget) {
    for (const auto& films : fixtureSets())
        for (double target : {0.5, 0.8, 0.95, 1.0}) {
            const double t = thresholdForSensitivity(films, target);
            EXPECT_NEAR(t, bruteForceThreshold(films, target), 1e-12) << target;
            const Confusion c = confusionAt(films, t);
            EXPECT_GE(static_cast<double>(c.truePositive) / static_cast<double>(c.truePositive + c.falseNegative),
                      target);
        }
    // 19 of 20 positives is exactly 0.95: the 19th highest, not the 20th.
    std::vector<LabelledScore> twenty;
    for (int i = 1; i <= 20; ++i) twenty.push_back({i / 100.0, true});
    EXPECT_DOUBLE_EQ(thresholdForSensitivity(twenty, 0.95), 0.02);
}

TEST(ValidationTest, CalibrationBinsAndExpectedError) {
    const std::vector<LabelledScore> films = {{0.05, false}, {0.15, false}, {0.15, true}, {0.95, true}, {1.0, true}};
    const Calibration c = calibration(films);
    EXPECT_EQ(c.bins[0].films, 1u);
    EXPECT_EQ(c.bins[1].films, 2u);
    EXPECT_EQ(c.bins[9].films, 2u);  // 1.0 falls in the last bin
    EXPECT_NEAR(c.bins[1].positiveShare, 0.5, 1e-12);
    EXPECT_NEAR(c.bins[9].meanProbability, 0.975, 1e-12);
    // (1 * 0.05 + 2 * |0.15 - 0.5| + 2 * |0.975 - 1|) / 5
    EXPECT_NEAR(c.expectedError, (0.05 + 0.7 + 0.05) / 5, 1e-12);
}

TEST(ValidationTest, ReportFiguresAndReproducibleBootstrap) {
    const auto films = fixtureSets()[3];
    ValidationSettings settings{.shippedThreshold = 0.5, .borderline = std::array{0.4, 0.6}, .replicates = 300};
    auto a = validate(films, settings), b = validate(films, settings);
    ASSERT_TRUE(a && b);
    EXPECT_NEAR(a->auc.value, pairCountAuc(films), 1e-9);
    EXPECT_EQ(a->local.threshold, bruteForceThreshold(films, 0.95));
    std::size_t inBand = 0, positive = 0, positiveCalled = 0;
    for (const auto& f : films) {
        inBand += f.probability >= 0.4 && f.probability <= 0.6;
        positive += f.positive;
        positiveCalled += f.positive && f.probability >= 0.5;
    }
    EXPECT_NEAR(a->borderlineShare, static_cast<double>(inBand) / static_cast<double>(films.size()), 1e-12);
    EXPECT_EQ(a->shipped.confusion.truePositive, positiveCalled);
    EXPECT_EQ(a->positives, positive);
    EXPECT_LE(a->auc.low, a->auc.value);
    EXPECT_GE(a->auc.high, a->auc.value);
    EXPECT_LT(a->auc.low, a->auc.high);
    // The same seed, the same intervals; another seed, others.
    EXPECT_EQ(a->auc.low, b->auc.low);
    EXPECT_EQ(a->localThreshold.high, b->localThreshold.high);
    EXPECT_EQ(a->localSpecificity.low, b->localSpecificity.low);
    settings.seed += 1;
    auto c = validate(films, settings);
    EXPECT_TRUE(c->auc.low != a->auc.low || c->auc.high != a->auc.high);
}

TEST(ValidationTest, RefusesOneLabelAndATargetOutOfRange) {
    const std::vector<LabelledScore> normals = {{0.1, false}, {0.2, false}};
    auto one = validate(normals, {});
    ASSERT_FALSE(one);
    EXPECT_NE(one.error().message.find("both labels"), std::string::npos);
    EXPECT_FALSE(validate(fixtureSets()[0], {.targetSensitivity = 0.0}));
    EXPECT_FALSE(validate(std::vector<LabelledScore>{}, {}));
}

}  // namespace
}  // namespace orvix
