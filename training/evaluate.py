"""Checks the shipped models on your own labelled pictures, through the app's own pipeline.

    python3 training/evaluate.py FOLDER [--screen build-release/bin/orvix-screen] [--roc roc.png]

FOLDER holds, at any depth, folders with NORMAL/ and PNEUMONIA/ (the disease classifier is
evaluated on them) or with X-Ray/ and other/ (the chest X-ray gate). Each such folder is one
population, named by its path below FOLDER (e.g. adult/ and children/ give "adult" and
"children"); every population is reported on its own and, where there are several, all of
them together. Every picture is analysed by `orvix-screen --json`; the figures are accuracy,
sensitivity, specificity (Wilson 95 % intervals), AUC (bootstrap 95 % interval) at the
model's own decision rule, the confusion matrix, and a ROC curve per population.
"""
import argparse
import json
import os
import subprocess
from pathlib import Path

from orvix_train import metrics

LAYOUTS = {
    # stage, (negative folder, positive folder), positive label
    "disease": ("disease", ("NORMAL", "PNEUMONIA"), "PNEUMONIA"),
    "gate": ("gate", ("other", "X-Ray"), "X-Ray"),
}


def find_populations(folder):
    """(population name, layout, folder) for every folder at any depth holding a layout's two class folders."""
    found = []
    for here in sorted([Path(folder), *(p for p in Path(folder).rglob("*") if p.is_dir())]):
        names = {p.name for p in here.iterdir() if p.is_dir()}
        for key, (_, (neg, pos), _) in LAYOUTS.items():
            if {neg, pos} <= names:
                rel = here.relative_to(folder).as_posix()
                found.append((Path(folder).resolve().name if rel == "." else rel, key, here))
    if not found:
        raise SystemExit(f"{folder}: no folder with NORMAL/ and PNEUMONIA/, or X-Ray/ and other/, below it")
    if len({layout for _, layout, _ in found}) > 1:
        raise SystemExit(f"{folder}: holds both disease (NORMAL/PNEUMONIA) and gate (X-Ray/other) folders")
    return found


def screen(binary, folder, models=None):
    env = dict(os.environ)
    if models:
        env["ORVIX_MODEL_DIR"] = str(models)
    run = subprocess.run([str(binary), "--json", str(folder)], capture_output=True, text=True, env=env)
    if run.returncode == 2:
        raise SystemExit(run.stderr.strip())
    return [json.loads(line) for line in run.stdout.splitlines() if line.strip()]


def evaluate_population(folder, layout, binary, models=None):
    """Probabilities of the positive label, true labels, the model's own decisions, files not analysed."""
    stage, (neg, pos), positive = LAYOUTS[layout]
    probs, labels, decided, skipped = [], [], [], []
    for cls, name in ((0, neg), (1, pos)):
        for row in screen(binary, Path(folder) / name, models):
            if row["status"] != "ok":
                skipped.append(row["path"])
                continue
            labels.append(cls)
            probs.append(row[stage]["probabilities"][positive])
            decided.append(1 if row[stage]["label"] == positive else 0)
    return probs, labels, decided, skipped


def summarise(layout, probs, labels, decided, skipped):
    # The model's own rule decides; report it as a threshold on the positive probability.
    threshold = min((p for p, d in zip(probs, decided) if d), default=1.0)
    summary = metrics.summary(probs, labels, threshold)
    summary["layout"] = layout
    summary["skipped"] = skipped
    return summary


def evaluate(folder, binary, models=None):
    """{population: (summary, probs, labels)}, with "all" added where there are several populations."""
    out, pooled = {}, ([], [], [], [])
    for name, layout, here in find_populations(folder):
        result = evaluate_population(here, layout, binary, models)
        for into, part in zip(pooled, result):
            into.extend(part)
        out[name] = (summarise(layout, *result), result[0], result[1])
    if len(out) > 1:
        out["all"] = (summarise(layout, *pooled), pooled[0], pooled[1])
    return out


def report(summary):
    def ci(name):
        v, lo, hi = summary[name]
        return f"{name:12s} {v:7.2%}  (95 % CI {lo:.2%} - {hi:.2%})"

    c = summary["confusion"]
    lines = [f"{summary['population']}: {summary['layout']} classifier, {summary['n']} pictures", ci("accuracy"),
             ci("sensitivity"),
             ci("specificity"),
             f"{'AUC':12s} {summary['auc'][0]:.4f}   (95 % CI {summary['auc'][1]:.4f} - {summary['auc'][2]:.4f})",
             "confusion    predicted positive / negative",
             f"  positive   {c['tp']:6d} / {c['fn']:6d}", f"  negative   {c['fp']:6d} / {c['tn']:6d}"]
    if summary["skipped"]:
        lines.append(f"skipped {len(summary['skipped'])} unreadable or undecodable files")
    return "\n".join(lines)


def plot_roc(curves, path, title):
    """curves: {name: (probs, labels)}, one line each."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(4.5, 4.5), dpi=100)
    for name, (probs, labels) in curves.items():
        fpr, tpr = metrics.roc_points(probs, labels)
        ax.plot(fpr, tpr, lw=2, label=f"{name} (n {len(labels)}): AUC {metrics.auc(probs, labels):.3f}")
    ax.plot([0, 1], [0, 1], ls="--", c="grey", lw=1)
    ax.set(xlabel="1 - specificity", ylabel="sensitivity", title=title, xlim=(0, 1), ylim=(0, 1.01))
    ax.legend(loc="lower right", fontsize="small")
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("folder")
    ap.add_argument("--screen", default="build-release/bin/orvix-screen", help="the orvix-screen program")
    ap.add_argument("--models", help="model directory (default: the program's own)")
    ap.add_argument("--roc", default="roc.png", help="where to write the ROC curve")
    ap.add_argument("--json", help="also write the figures as JSON here")
    args = ap.parse_args(argv)
    results = evaluate(args.folder, args.screen, args.models)
    for name, (summary, _, _) in results.items():
        summary["population"] = name
        print(report(summary) + "\n")
    layout = next(iter(results.values()))[0]["layout"]
    plot_roc({name: (p, y) for name, (_, p, y) in results.items()}, args.roc, f"{layout} classifier")
    print(f"ROC curves: {args.roc}")
    if args.json:
        Path(args.json).write_text(json.dumps({name: s for name, (s, _, _) in results.items()}, indent=2) + "\n")


if __name__ == "__main__":
    main()
