"""Binary classification figures with 95 % confidence intervals (Wilson for rates, bootstrap for AUC)."""
import math

import numpy as np


def auc(scores, labels):
    """Area under the ROC curve by the rank statistic (ties count one half)."""
    scores, labels = np.asarray(scores, float), np.asarray(labels, int)
    pos, neg = scores[labels == 1], scores[labels == 0]
    if len(pos) == 0 or len(neg) == 0:
        return float("nan")
    order = np.argsort(np.concatenate([pos, neg]), kind="mergesort")
    ranks = np.empty(len(order))
    allscores = np.concatenate([pos, neg])[order]
    i = 0
    while i < len(order):  # average ranks over ties
        j = i
        while j + 1 < len(order) and allscores[j + 1] == allscores[i]:
            j += 1
        ranks[order[i:j + 1]] = (i + j) / 2 + 1
        i = j + 1
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


def fit_temperature(logits, labels):
    """Temperature that minimises the negative log-likelihood of softmax(logits / T) (golden-section on log T)."""
    logits, labels = np.asarray(logits, float), np.asarray(labels, int)

    def nll(log_t):
        z = logits / math.exp(log_t)
        z = z - z.max(axis=1, keepdims=True)
        logp = z - np.log(np.exp(z).sum(axis=1, keepdims=True))
        return -logp[np.arange(len(labels)), labels].mean()

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


def operating_threshold(prob_sets, label_sets, min_sensitivity=0.95, min_specificity=0.90):
    """A threshold in the middle of the region where every given validation view meets both floors.

    Each view (clean validation, shifted validation) gives the interval of thresholds at
    which it keeps sensitivity >= min_sensitivity and specificity >= min_specificity; the
    threshold is the middle, in logit space, of their intersection, so that it sits away
    from both edges of a saturated curve. When the views share no such interval, the
    threshold is the one with the best worst-case Youden index over the views.
    """
    grid = np.linspace(0.01, 0.99, 981)
    ok = np.ones_like(grid, bool)
    worst_j = np.full_like(grid, np.inf)
    for p, y in zip(prob_sets, label_sets):
        p, y = np.asarray(p, float), np.asarray(y, int)
        sens = np.array([(p[y == 1] >= t).mean() for t in grid])
        spec = np.array([(p[y == 0] < t).mean() for t in grid])
        ok &= (sens >= min_sensitivity) & (spec >= min_specificity)
        worst_j = np.minimum(worst_j, sens + spec - 1)
    if ok.any():
        logit = np.log(grid[ok] / (1 - grid[ok]))
        mid = (logit.min() + logit.max()) / 2
        return float(1 / (1 + math.exp(-mid))), True
    return float(grid[int(np.argmax(worst_j))]), False
