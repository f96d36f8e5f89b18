"""Binary classification figures with 95 % confidence intervals (Wilson for rates, bootstrap for AUC)."""
import math

import numpy as np


def auc(scores, labels):
    """Area under the ROC curve by the rank statistic (ties count one half)."""
    scores, labels = np.asarray(scores, float), np.asarray(labels, int)
    pos, neg = scores[labels == 1], scores[labels == 0]
    if len(pos) == 0 or len(neg) == 0:
        return float("nan")
    # Average ranks over ties (1-based): a tie group's members share the mean of the ranks they span.
    _, inverse, counts = np.unique(np.concatenate([pos, neg]), return_inverse=True, return_counts=True)
    ranks = (np.cumsum(counts) - (counts - 1) / 2)[inverse]
    return float((ranks[:len(pos)].sum() - len(pos) * (len(pos) + 1) / 2) / (len(pos) * len(neg)))


def wilson(successes, total, z=1.96):
    if total == 0:
        return (float("nan"),) * 3
    p = successes / total
    denom = 1 + z * z / total
    centre = (p + z * z / (2 * total)) / denom
    half = z * math.sqrt(p * (1 - p) / total + z * z / (4 * total * total)) / denom
    return p, max(0.0, centre - half), min(1.0, centre + half)


def auc_ci(scores, labels, rounds=1000, seed=0):
    scores, labels = np.asarray(scores, float), np.asarray(labels, int)
    rng = np.random.default_rng(seed)
    pos, neg = np.flatnonzero(labels == 1), np.flatnonzero(labels == 0)
    if len(pos) == 0 or len(neg) == 0:  # a group of one class (e.g. normals only) has no AUC
        return None, None, None
    values = []
    for _ in range(rounds):  # stratified bootstrap keeps both classes present
        idx = np.concatenate([rng.choice(pos, len(pos)), rng.choice(neg, len(neg))])
        values.append(auc(scores[idx], labels[idx]))
    return auc(scores, labels), float(np.percentile(values, 2.5)), float(np.percentile(values, 97.5))


def summary(prob_positive, labels, threshold):
    """Accuracy, sensitivity, specificity (value, low, high), AUC with CI and the confusion matrix."""
    p, y = np.asarray(prob_positive, float), np.asarray(labels, int)
    pred = (p >= threshold).astype(int)
    tp, fn = int(((pred == 1) & (y == 1)).sum()), int(((pred == 0) & (y == 1)).sum())
    tn, fp = int(((pred == 0) & (y == 0)).sum()), int(((pred == 1) & (y == 0)).sum())
    return {
        "n": int(len(y)),
        "threshold": float(threshold),
        "accuracy": wilson(tp + tn, len(y)),
        "sensitivity": wilson(tp, tp + fn),
        "specificity": wilson(tn, tn + fp),
        "auc": auc_ci(p, y),
        "confusion": {"tp": tp, "fn": fn, "tn": tn, "fp": fp},
    }


def roc_points(prob_positive, labels):
    p, y = np.asarray(prob_positive, float), np.asarray(labels, int)
    thresholds = np.unique(np.concatenate([[0.0, 1.0 + 1e-9], p]))[::-1]
    tpr = [((p >= t) & (y == 1)).sum() / max(1, (y == 1).sum()) for t in thresholds]
    fpr = [((p >= t) & (y == 0)).sum() / max(1, (y == 0).sum()) for t in thresholds]
    return np.array(fpr), np.array(tpr)


def fit_temperature(logits, labels, groups=None):
    """Temperature that minimises the negative log-likelihood of softmax(logits / T) (golden-section on log T).

    With groups (a label per row), the worst group's mean negative log-likelihood is minimised instead: a
    temperature that suits the pooled pictures can leave a small group badly over-confident. Each group's
    NLL is convex in 1/T, so their maximum has one minimum and the search finds it."""
    logits, labels = np.asarray(logits, float), np.asarray(labels, int)
    groups = np.zeros(len(labels)) if groups is None else np.asarray(groups)
    masks = [groups == g for g in np.unique(groups)]

    def nll(log_t):
        z = logits / math.exp(log_t)
        z = z - z.max(axis=1, keepdims=True)
        logp = z - np.log(np.exp(z).sum(axis=1, keepdims=True))
        per = -logp[np.arange(len(labels)), labels]
        return max(per[m].mean() for m in masks)

    lo, hi = math.log(0.05), math.log(20.0)
    ratio = (math.sqrt(5) - 1) / 2
    for _ in range(80):
        a, b = hi - ratio * (hi - lo), lo + ratio * (hi - lo)
        if nll(a) < nll(b):
            hi = b
        else:
            lo = a
    return math.exp((lo + hi) / 2)


def softmax(logits, temperature=1.0):
    z = np.asarray(logits, float) / temperature
    z = z - z.max(axis=1, keepdims=True)
    e = np.exp(z)
    return e / e.sum(axis=1, keepdims=True)


def expected_calibration_error(prob_positive, labels, bins=10):
    p, y = np.asarray(prob_positive, float), np.asarray(labels, int)
    edges = np.linspace(0, 1, bins + 1)
    ece = 0.0
    for lo, hi in zip(edges[:-1], edges[1:]):
        m = (p >= lo) & ((p < hi) if hi < 1 else (p <= hi))
        if m.any():
            ece += m.mean() * abs(p[m].mean() - y[m].mean())
    return float(ece)


def constrained_threshold(views):
    """One threshold for several validation views, each with its own floors.

    views: (prob_positive, labels, min_sensitivity, min_specificity) per view (a population
    seen clean, the same population seen shifted, ...). Where every view meets its floors,
    the threshold is the middle, in logit space, of that region: away from both edges of a
    saturated curve. Where no threshold meets them all, it is the one whose worst shortfall
    (floor minus rate, over every view and both floors) is smallest. Returns the threshold,
    whether the floors were met, and the worst margin (negative: the largest shortfall).
    """
    grid = np.linspace(0.01, 0.99, 981)
    worst = np.full_like(grid, np.inf)
    for p, y, min_sens, min_spec in views:
        p, y = np.asarray(p, float), np.asarray(y, int)
        # A view of one class (normals only) holds only its own floor.
        sens = np.array([(p[y == 1] >= t).mean() for t in grid]) if (y == 1).any() else np.full_like(grid, np.inf)
        spec = np.array([(p[y == 0] < t).mean() for t in grid]) if (y == 0).any() else np.full_like(grid, np.inf)
        worst = np.minimum(worst, np.minimum(sens - min_sens, spec - min_spec))
    ok = worst >= 0
    if ok.any():
        logit = np.log(grid[ok] / (1 - grid[ok]))
        mid = 1 / (1 + math.exp(-(logit.min() + logit.max()) / 2))
        at = int(np.argmin(np.abs(grid - mid)))
        return float(mid), True, float(worst[at])
    best = worst.max()
    # Several thresholds may share the best margin: the middle one of them.
    tied = np.flatnonzero(worst >= best - 1e-12)
    at = int(tied[len(tied) // 2])
    return float(grid[at]), False, float(worst[at])


def borderline_band(p_clean, p_shifted, threshold, coverage=0.85):
    """The narrowest band [lo, hi] around a threshold that holds the probabilities of unstable verdicts.

    p_shifted: one row per shifted view, each the pictures of p_clean in the same order. A verdict is
    unstable where a picture's clean and shifted probabilities lie on opposite sides of the threshold;
    both of them count, since the app may be given either version of the picture. The band
    (lo <= threshold <= hi, narrowest in probability) holds at least `coverage` of those probabilities.
    Returns lo, hi, the flips (a boolean view x picture array) and the share of their probabilities inside
    (None without flips: the band is then the threshold alone).
    """
    p = np.asarray(p_clean, float)
    shifted = np.atleast_2d(np.asarray(p_shifted, float))
    if shifted.shape[1] != len(p):
        raise ValueError("every shifted view must hold the clean view's pictures")
    clean = np.broadcast_to(p, shifted.shape)
    flips = (clean >= threshold) != (shifted >= threshold)
    points = np.concatenate([clean[flips], shifted[flips]])
    if len(points) == 0:
        return float(threshold), float(threshold), flips, None
    below = np.sort(points[points < threshold])[::-1]  # nearest the threshold first
    above = np.sort(points[points >= threshold])
    need = math.ceil(coverage * len(points) - 1e-9)
    best = None
    for a in range(max(0, need - len(above)), min(len(below), need) + 1):
        lo = below[a - 1] if a else threshold
        hi = above[need - a - 1] if need > a else threshold
        if best is None or hi - lo < best[1] - best[0]:
            best = (float(lo), float(hi))
    lo, hi = best
    return lo, hi, flips, float(((points >= lo) & (points <= hi)).mean())


def operating_threshold(prob_sets, label_sets, min_sensitivity=0.95, min_specificity=0.90):
    """constrained_threshold with the same floors for every view; (threshold, floors met)."""
    threshold, feasible, _ = constrained_threshold(
        [(p, y, min_sensitivity, min_specificity) for p, y in zip(prob_sets, label_sets)])
    return threshold, feasible
