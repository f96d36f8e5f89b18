"""Export to the compiled model resource the app loads: <Name>.mlmodelc/{model.onnx, metadata.json}."""
import copy
import hashlib
import io
import json
import os
from pathlib import Path

import numpy as np
import onnx
import torch

from . import preprocess
from .model import WithClassMaps

FORMAT = "orvix-compiled-model"
FORMAT_VERSION = 1
CLASS_MAPS = "classMaps"  # name of the optional class activation map output


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


def to_onnx_bytes(net, class_maps=False):
    """ONNX opset 11 of net in inference mode; with class_maps a second output "classMaps" (model.WithClassMaps)."""
    net = net.eval()
    names = ["logits"]
    if class_maps:
        net, names = WithClassMaps(net).eval(), ["logits", CLASS_MAPS]
    buf = io.BytesIO()
    dummy = torch.zeros(1, 3, preprocess.SIDE, preprocess.SIDE)
    torch.onnx.export(net, dummy, buf, input_names=["input"], output_names=names, opset_version=11,
                      do_constant_folding=True)
    model = _fold_identities(onnx.load_from_string(buf.getvalue()))
    # OpenCV's forward() without a name gives the graph's last output: let that stay the logits.
    outputs = sorted((copy.deepcopy(o) for o in model.graph.output), key=lambda o: o.name == "logits")
    del model.graph.output[:]
    model.graph.output.extend(outputs)
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
    output = {"tensor": "logits", "kind": "logits", "temperature": float(temperature)}
    if CLASS_MAPS in [o.name for o in onnx.load_from_string(onnx_bytes).graph.output]:
        output["classMaps"] = CLASS_MAPS
    meta = {
        "format": FORMAT,
        "formatVersion": FORMAT_VERSION,
        "name": name,
        "input": preprocess.input_metadata(),
        "output": output,
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


def opencv_outputs(onnx_path, batch_unit_rgb, names=("logits",)):
    """Runs the exported file through OpenCV's DNN importer (the app's runtime) on [0,1] RGB tensors.

    Outputs are asked for by name, as the app does.
    Returns one array per name, stacked over the batch (N x shape without the batch axis).
    """
    import cv2
    net = cv2.dnn.readNetFromONNX(str(onnx_path))
    outs = {name: [] for name in names}
    for x in batch_unit_rgb:
        net.setInput(np.asarray(preprocess.normalise(x), np.float32)[None])
        for name, blob in zip(names, net.forward(list(names))):
            outs[name].append(np.array(blob[0]))
    return [np.stack(outs[name]) for name in names]
