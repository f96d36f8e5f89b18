"""Export to the compiled model resource the app loads: <Name>.mlmodelc/{model.onnx, metadata.json}."""
import hashlib
import io
import json
import os
from pathlib import Path

import numpy as np
import onnx
import torch

from . import preprocess

FORMAT = "orvix-compiled-model"
FORMAT_VERSION = 1


def _fold_identities(model):
    """Removes Identity nodes (PyTorch 1.13 emits them on initializers; OpenCV 4.6 rejects them)."""
    graph = model.graph
    rename = {}
    for node in [n for n in graph.node if n.op_type == "Identity"]:
        rename[node.output[0]] = node.input[0]
        graph.node.remove(node)

    def resolve(name):
        while name in rename:
            name = rename[name]
        return name

    for node in graph.node:
        for i, name in enumerate(node.input):
            node.input[i] = resolve(name)
    for out in graph.output:
        if out.name in rename:  # keep the output name: re-add one Identity would defeat the purpose
            raise ValueError("graph output produced by an Identity node")
    return model


def to_onnx_bytes(net):
    net = net.eval()
    buf = io.BytesIO()
    dummy = torch.zeros(1, 3, preprocess.SIDE, preprocess.SIDE)
    torch.onnx.export(net, dummy, buf, input_names=["input"], output_names=["logits"], opset_version=11,
                      do_constant_folding=True)
    model = _fold_identities(onnx.load_from_string(buf.getvalue()))
    onnx.checker.check_model(model)
    return model.SerializeToString()


def write_resource(directory, name, onnx_bytes, labels, temperature, decision, provenance):
    """Writes the resource atomically enough for a build step: files first, then the directory rename."""
    target = Path(directory) / f"{name}.mlmodelc"
    tmp = Path(directory) / f".{name}.mlmodelc.tmp"
    if tmp.exists():
        for f in tmp.iterdir():
            f.unlink()
    tmp.mkdir(parents=True, exist_ok=True)
    (tmp / "model.onnx").write_bytes(onnx_bytes)
    meta = {
        "format": FORMAT,
        "formatVersion": FORMAT_VERSION,
        "name": name,
        "input": preprocess.input_metadata(),
        "output": {"tensor": "logits", "kind": "logits", "temperature": float(temperature)},
        "classLabels": list(labels),
        "decision": decision,
        "sha256": hashlib.sha256(onnx_bytes).hexdigest(),
        "provenance": provenance,
    }
    (tmp / "metadata.json").write_text(json.dumps(meta, indent=2) + "\n")
    if target.exists():
        for f in target.iterdir():
            f.unlink()
        target.rmdir()
    os.replace(tmp, target)
    return target


def opencv_logits(onnx_path, batch_unit_rgb):
    """Runs the exported file through OpenCV's DNN importer (the app's runtime) on [0,1] RGB tensors."""
    import cv2
    net = cv2.dnn.readNetFromONNX(str(onnx_path))
    outs = []
    for x in batch_unit_rgb:
        net.setInput(np.asarray(preprocess.normalise(x), np.float32)[None])
        outs.append(net.forward().reshape(-1))
    return np.stack(outs)
