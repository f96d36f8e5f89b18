"""Each shipped network alone, in OpenCV's DNN module (the app's runtime, one thread) and in PyTorch (the yardstick
pipeline's, its default threads), and the most that orvix-screen on 2 cores could be above the PyTorch pipeline if
reading, decoding, preparing and writing a picture cost it nothing.

OpenCV is timed as the app runs a grey picture (one plane, the first convolution's weights summed over the three
input channels) and, for comparison, on three planes; PyTorch as bench/pytorch_pipeline.py runs it, with the
training's preprocessing of one picture beside. Rounds alternate between the engines, so that a slower stretch of
a shared machine falls on both; medians of each.

    PYTHONPATH=training /usr/bin/python3 bench/network_times.py PICTURE [--rounds 5]
"""
import argparse
import sys
import time
from pathlib import Path

import cv2
import numpy as np
import torch

sys.path.insert(0, str(Path(__file__).resolve().parent))
import pytorch_pipeline  # noqa: E402  (the yardstick's own loading of the checkpoints)
from orvix_train import preprocess  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
NAMES = ("XRayClassifier1", "SickClassifier1")


def opencv_net(name, one_plane):
    net = cv2.dnn.readNetFromONNX(str(ROOT / "models" / f"{name}.mlmodelc" / "model.onnx"))
    if one_plane:  # as the app's Model does for grey pictures: before the first forward pass
        conv = next(i for i in map(net.getLayerId, net.getLayerNames()) if net.getLayer(i).type == "Convolution")
        net.setParam(conv, 0, net.getParam(conv, 0).sum(axis=1, keepdims=True).copy())
    outputs = net.getUnconnectedOutLayersNames()
    return lambda x: (net.setInput(x), net.forward(outputs))


def median_ms(run, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return float(np.median(times[repeats // 5:])) * 1e3


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("picture", type=Path, help="a grey picture (the time hardly depends on which)")
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    cv2.setNumThreads(1)  # orvix-screen --jobs 2 on 2 cores: one thread per prediction
    prepare = lambda: preprocess.normalise(  # noqa: E731
        torch.from_numpy(preprocess.to_unit_rgb(preprocess.redraw(preprocess.decode(args.picture))).copy()))[None]
    x = prepare()
    planes3, plane1 = x.numpy().copy(), x.numpy()[:, 1:2].copy()
    runs = {"PyTorch preprocessing": (prepare, 30)}
    with torch.no_grad():
        for name in NAMES:
            net = pytorch_pipeline.load(name)[0]
            runs[f"{name} PyTorch"] = (lambda net=net: net(x), 20)
            three, one = opencv_net(name, False), opencv_net(name, True)
            runs[f"{name} OpenCV, 3 planes"] = (lambda f=three: f(planes3), 100)
            runs[f"{name} OpenCV, 1 plane"] = (lambda f=one: f(plane1), 100)
        for run, repeats in runs.values():
            run()  # the first pass sets the network up
        times = {key: [] for key in runs}
        for _ in range(args.rounds):
            for key, (run, repeats) in runs.items():
                times[key].append(median_ms(run, repeats))
    ms = {key: float(np.median(t)) for key, t in times.items()}
    for key, value in ms.items():
        print(f"{key:34s} {value:7.2f} ms")
    pytorch = ms["PyTorch preprocessing"] + sum(ms[f"{n} PyTorch"] for n in NAMES)
    for planes in ("1 plane", "3 planes"):
        opencv = sum(ms[f"{n} OpenCV, {planes}"] for n in NAMES)
        print(f"ceiling on 2 cores, {planes}: {2000 / opencv:.0f} pictures/s, {2 * pytorch / opencv:.1f} times "
              f"the PyTorch pipeline ({1000 / pytorch:.1f} pictures/s)")


if __name__ == "__main__":
    main()
