"""Writes the tiny test-fixture models (a few KB each) in the real compiled-model format.

They are not classifiers of anything medical; their rules are simple so that tests
can predict their answers:
  SickClassifier1 fixture: bright pictures are NORMAL, dark ones PNEUMONIA
                           (logits +-2 * mean normalised value; threshold rule at 0.5).
  XRayClassifier1 fixture: "X-Ray" unless the picture is clearly redder than it is blue
                           (logit(X-Ray) = 2 * (blue - red) + 1, logit(other) = 0; argmax).
  unstable/XRayClassifier1: loads (its blank-input check gives finite logits) but its
                           logits overflow to infinity on any picture that is not mid-grey,
                           so every such prediction fails: for tests of a stage that fails.

    python3 training/make_fixture_models.py tests/fixtures/models
"""
import sys
from pathlib import Path

import torch
import torch.nn as nn

sys.path.insert(0, str(Path(__file__).resolve().parent))
from orvix_train import export  # noqa: E402


def mean_net(weight, bias):
    net = nn.Sequential(nn.AdaptiveAvgPool2d(1), nn.Flatten(), nn.Linear(3, 2))
    with torch.no_grad():
        net[2].weight.copy_(torch.tensor(weight, dtype=torch.float32))
        net[2].bias.copy_(torch.tensor(bias, dtype=torch.float32))
    return net


def main(out):
    provenance = {"fixture": True, "purpose": "tests only; not a classifier of anything medical"}
    sick = mean_net([[2 / 3, 2 / 3, 2 / 3], [-2 / 3, -2 / 3, -2 / 3]], [0.0, 0.0])
    export.write_resource(out, "SickClassifier1", export.to_onnx_bytes(sick), ("NORMAL", "PNEUMONIA"), 1.0,
                          {"kind": "threshold", "label": "PNEUMONIA", "threshold": 0.5, "otherwise": "NORMAL"},
                          provenance)
    gate = mean_net([[0.0, 0.0, 0.0], [-2.0, 0.0, 2.0]], [0.0, 1.0])
    export.write_resource(out, "XRayClassifier1", export.to_onnx_bytes(gate), ("other", "X-Ray"), 1.0,
                          {"kind": "argmax"}, provenance)
    unstable = mean_net([[3e38, 3e38, 3e38], [-3e38, -3e38, -3e38]], [0.0, 0.0])
    (Path(out) / "unstable").mkdir(exist_ok=True)
    export.write_resource(Path(out) / "unstable", "XRayClassifier1", export.to_onnx_bytes(unstable),
                          ("other", "X-Ray"), 1.0, {"kind": "argmax"}, provenance)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "tests/fixtures/models")
