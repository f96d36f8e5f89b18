"""A plain Python/PyTorch pipeline of the batch screening, the yardstick for orvix-screen's throughput.

Each picture is decoded and prepared with training's own preprocessing (orvix_train.preprocess), then the
gate and the disease network (the PyTorch checkpoints the shipped models were exported from) each predict
it, one picture after another, on PyTorch's default threads; probabilities at the shipped temperatures.
One line per picture on standard output (path, P(chest X-ray), P(pneumonia)); the rate on standard error.

    PYTHONPATH=training /usr/bin/python3 bench/pytorch_pipeline.py FOLDER [--limit N]
"""
import argparse
import json
import sys
import time
from pathlib import Path

import torch

from orvix_train import preprocess
from orvix_train.model import PlainNet

ROOT = Path(__file__).resolve().parent.parent


def load(name):
    state = torch.load(ROOT / "training" / "checkpoints" / f"{name}.pt")
    net = PlainNet.from_checkpoint(state)
    meta = json.loads((ROOT / "models" / f"{name}.mlmodelc" / "metadata.json").read_text())
    return net, meta["classLabels"], meta["output"]["temperature"]


def probability(model, x, label):
    net, labels, temperature = model
    return torch.softmax(net(x)[0] / temperature, 0)[labels.index(label)].item()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("folder", type=Path)
    ap.add_argument("--limit", type=int, default=0, help="analyse at most this many pictures")
    args = ap.parse_args()
    files = sorted(p for p in args.folder.rglob("*") if p.suffix.lower() in (".jpg", ".jpeg", ".png"))
    files = files[: args.limit] if args.limit else files
    gate, disease = load("XRayClassifier1"), load("SickClassifier1")
    start = time.perf_counter()  # after the load, as orvix-screen's rate is counted
    with torch.no_grad():
        for path in files:
            unit = preprocess.to_unit_rgb(preprocess.redraw(preprocess.decode(path)))
            x = preprocess.normalise(torch.from_numpy(unit.copy()))[None]
            print(f"{path}\t{probability(gate, x, 'X-Ray'):.6f}\t{probability(disease, x, 'PNEUMONIA'):.6f}")
    seconds = time.perf_counter() - start
    print(f"pytorch pipeline: {len(files)} pictures in {seconds:.2f} s, {len(files) / seconds:.1f} pictures/s",
          file=sys.stderr)


if __name__ == "__main__":
    main()
