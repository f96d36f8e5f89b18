"""Figures of the model card from the validation results that training writes.

    python3 training/card_figures.py [--results training/results] [--out docs]

roc-disease.png: the disease model's ROC curve per population (clean validation);
reliability-gate.png: the gate's reliability diagram on clean and on degraded validation
pictures (the view its temperature was fitted on);
failures/: the disease model's most confident errors per population on validation, as small
thumbnails (with --data, the developer data folder), for the card's known failure modes.
"""
import argparse
import json
from pathlib import Path

import cv2
import numpy as np

from orvix_train import metrics


def reliability(ax, p, y, label, bins=10):
    edges = np.linspace(0, 1, bins + 1)
    centre, observed, counts = [], [], []
    for lo, hi in zip(edges[:-1], edges[1:]):
        m = (p >= lo) & ((p < hi) if hi < 1 else (p <= hi))
        if m.any():
            centre.append(p[m].mean())
            observed.append(y[m].mean())
            counts.append(m.sum())
    ece = metrics.expected_calibration_error(p, y, bins)
    ax.plot(centre, observed, marker="o", label=f"{label} (n {len(y)}, ECE {ece:.3f})")
    return counts


def failures(npz, threshold, data_dir, out, per_kind=2, side=200):
    """The most confident false positives and false negatives of each population; returns their lines."""
    out.mkdir(parents=True, exist_ok=True)
    lines = []
    for group in sorted(set(npz["group"])):
        for kind, truth, order in (("false-negative", 1, 1), ("false-positive", 0, -1)):
            m = np.flatnonzero((npz["group"] == group) & (npz["y"] == truth))
            wrong = [i for i in m[np.argsort(order * npz["p"][m])] if (npz["p"][i] >= threshold) != bool(truth)]
            for rank, i in enumerate(wrong[:per_kind]):
                source = Path(data_dir) / str(npz["path"][i])
                img = cv2.imread(str(source), cv2.IMREAD_GRAYSCALE)
                scale = side / max(img.shape)
                small = cv2.resize(img, None, fx=scale, fy=scale, interpolation=cv2.INTER_AREA)
                name = f"{group}-{kind}-{rank + 1}.jpg"
                cv2.imwrite(str(out / name), small, [cv2.IMWRITE_JPEG_QUALITY, 80])
                lines.append(f"{name}: {npz['path'][i]} P(PNEUMONIA) {npz['p'][i]:.3f}")
    return lines


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--results", default="training/results")
    ap.add_argument("--out", default="docs")
    ap.add_argument("--data", help="the developer data folder, for the failure thumbnails")
    args = ap.parse_args(argv)
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    disease = np.load(Path(args.results) / "SickClassifier1-validation.npz")
    fig, ax = plt.subplots(figsize=(4.5, 4.5), dpi=100)
    for group in sorted(set(disease["group"])):
        m = disease["group"] == group
        if len(set(disease["y"][m])) < 2:  # normals only (another export's): no curve, its specificity is in the card
            continue
        fpr, tpr = metrics.roc_points(disease["p"][m], disease["y"][m])
        ax.plot(fpr, tpr, lw=2, label=f"{group} (n {m.sum()}): AUC {metrics.auc(disease['p'][m], disease['y'][m]):.3f}")
    ax.plot([0, 1], [0, 1], ls="--", c="grey", lw=1)
    ax.set(xlabel="1 - specificity", ylabel="sensitivity", title="SickClassifier1, validation", xlim=(0, 1),
           ylim=(0, 1.01))
    ax.legend(loc="lower right", fontsize="small")
    fig.tight_layout()
    fig.savefig(Path(args.out) / "roc-disease.png")
    plt.close(fig)

    gate = np.load(Path(args.results) / "XRayClassifier1-validation.npz")
    fig, ax = plt.subplots(figsize=(4.5, 4.5), dpi=100)
    reliability(ax, gate["p"], gate["y"], "clean")
    reliability(ax, gate["p_degraded"], gate["y_shift"], "degraded")
    ax.plot([0, 1], [0, 1], ls="--", c="grey", lw=1)
    ax.set(xlabel="P(X-Ray) shown", ylabel="share that are chest X-rays", title="XRayClassifier1 reliability",
           xlim=(0, 1), ylim=(0, 1))
    ax.legend(loc="upper left", fontsize="small")
    fig.tight_layout()
    fig.savefig(Path(args.out) / "reliability-gate.png")
    plt.close(fig)
    print(f"wrote {args.out}/roc-disease.png and {args.out}/reliability-gate.png")
    if args.data:
        threshold = json.loads((Path(args.results) / "SickClassifier1.json").read_text())["threshold"]
        print("\n".join(failures(disease, threshold, args.data, Path(args.out) / "failures")))


if __name__ == "__main__":
    main()
