"""Tests of the training code: the split, the figures, and that what training exports is what the app computes.

Run by ctest (label `training`) with training/ as the top-level directory, so that orvix_train and the scripts
import, and ORVIX_SCREEN pointing at the orvix-screen binary:
    ORVIX_SCREEN=build/bin/orvix-screen python3 -m unittest discover -s training/tests -t training
"""
import hashlib
import json
import os
import subprocess
import tempfile
import unittest
from pathlib import Path

import cv2
import numpy as np
import torch

from orvix_train import augment, data, export, metrics, preprocess, synth
from orvix_train.model import PlainNet, WithClassMaps
from orvix_train.train import TrainConfig, to_unit, train

ROOT = Path(__file__).resolve().parents[2]
SCREEN = os.environ.get("ORVIX_SCREEN", str(ROOT / "build" / "bin" / "orvix-screen"))
PICTURES = ROOT / "tests" / "fixtures" / "pictures"
PARITY_TOLERANCE = 1e-4


def screen_json(paths, models):
    run = subprocess.run([SCREEN, "--json", *map(str, paths)], capture_output=True, text=True,
                         env={**os.environ, "ORVIX_MODEL_DIR": str(models)})
    if run.returncode != 0:
        raise AssertionError(f"orvix-screen exited {run.returncode}: {run.stderr}")
    return {Path(r["path"]).name: r for r in map(json.loads, run.stdout.splitlines())}


def torch_probabilities(net, path, temperature):
    x = to_unit(preprocess.redraw(preprocess.decode(path))[None])
    with torch.no_grad():
        logits = net.eval()(preprocess.normalise(x)).numpy()
    return metrics.softmax(logits, temperature)[0]


class PatientSplit(unittest.TestCase):
    def test_patient_ids_from_file_names(self):
        self.assertEqual(data.patient_id("x/kermany_person1000_bacteria_2931.jpg"), "person1000")
        self.assertEqual(data.patient_id("x/kermany_person1000_virus_1681.jpg"), "person1000")
        self.assertEqual(data.patient_id("kermany_IM-0115-0001.jpg"), "IM-0115")
        self.assertEqual(data.patient_id("kermany_NORMAL2-IM-0412-0001.jpg"), "NORMAL2-IM-0412")

    def test_split_is_by_patient_and_stable(self):
        names = [f"kermany_person{p}_{kind}_{i}.jpg" for p in range(300) for kind, i in (("bacteria", 1), ("virus", 2))]
        side = {}
        for n in names:
            v = data.in_validation(data.patient_id(n), 0.15, 7)
            self.assertEqual(side.setdefault(data.patient_id(n), v), v, "a patient on both sides")
        share = sum(side.values()) / len(side)
        self.assertTrue(0.08 < share < 0.22, share)


class Figures(unittest.TestCase):
    def test_auc_ranks_and_ties(self):
        self.assertEqual(metrics.auc([0.5, 0.5], [0, 1]), 0.5)
        rng = np.random.default_rng(0)
        s, y = rng.random(200), rng.integers(0, 2, 200)
        pairs = [(a > b) + 0.5 * (a == b) for a in s[y == 1] for b in s[y == 0]]
        self.assertAlmostEqual(metrics.auc(s, y), float(np.mean(pairs)))

    def test_wilson_interval(self):
        np.testing.assert_allclose(metrics.wilson(95, 100), (0.95, 0.8883, 0.9785), atol=1e-4)
        self.assertEqual(metrics.wilson(10, 10)[2], 1.0)

    def test_temperature_is_recovered(self):
        rng = np.random.default_rng(1)
        true_logits = rng.normal(0, 2, (4000, 2))
        y = np.array([rng.random() < p for p in metrics.softmax(true_logits)[:, 1]]).astype(int)
        t = metrics.fit_temperature(true_logits * 3.0, y)  # over-confident by a factor 3
        self.assertAlmostEqual(t, 3.0, delta=0.3)

    def test_one_threshold_for_views_with_their_own_floors(self):
        # One view that can be met: the middle of the feasible region in logit space.
        p = np.array([0.05, 0.1, 0.2, 0.3, 0.7, 0.8, 0.9, 0.95])
        t, feasible = metrics.operating_threshold([p], [np.repeat([0, 1], 4)], 1.0, 1.0)
        self.assertTrue(feasible)
        self.assertAlmostEqual(t, 0.5, delta=0.05)
        children = (np.array([0.1, 0.2, 0.6, 0.9]), np.array([0, 0, 1, 1]))
        adults = (np.array([0.3, 0.5, 0.4, 0.8]), np.array([0, 0, 1, 1]))
        # Children are met from 0.2 to 0.6; adults need 0.5 < t <= 0.8 for specificity 1, t <= 0.4 for
        # sensitivity 1: nothing meets every floor, and the best worst shortfall is one adult missed.
        t, feasible, margin = metrics.constrained_threshold([(*children, 1.0, 1.0), (*adults, 1.0, 1.0)])
        self.assertFalse(feasible)
        self.assertAlmostEqual(margin, -0.5)
        self.assertTrue(0.2 < t <= 0.6, t)
        t, feasible, margin = metrics.constrained_threshold([(*children, 1.0, 1.0), (*adults, 0.5, 0.5)])
        self.assertTrue(feasible)
        self.assertGreaterEqual(margin, 0.0)
        self.assertTrue(0.3 < t <= 0.6, t)

    def test_borderline_band_holds_the_verdicts_that_flip(self):
        clean = np.array([0.45, 0.40, 0.10, 0.30, 0.80, 0.52])
        # View 1 flips pictures 0-2 upwards, view 2 picture 5 downwards; pictures 3 and 4 stay on their side.
        shifted = np.array([[0.55, 0.62, 0.90, 0.35, 0.85, 0.52], [0.45, 0.40, 0.10, 0.30, 0.80, 0.20]])
        lo, hi, flips, share = metrics.borderline_band(clean, shifted, 0.5, coverage=0.5)
        self.assertEqual(np.argwhere(flips).tolist(), [[0, 0], [0, 1], [0, 2], [1, 5]])
        # 4 of the 8 flip probabilities: [0.40, 0.55] (0.15 wide) beats [0.45, 0.62] and [0.20, 0.52].
        self.assertEqual((lo, hi, share), (0.40, 0.55, 0.5))
        self.assertEqual(metrics.borderline_band(clean, shifted, 0.5, coverage=1.0)[:2], (0.10, 0.90))
        lo, hi, _, share = metrics.borderline_band(clean, clean[None], 0.5)
        self.assertEqual((lo, hi, share), (0.5, 0.5, None))
        with self.assertRaises(ValueError):
            metrics.borderline_band(clean, shifted[:, :5], 0.5)


class EvaluationFolders(unittest.TestCase):
    def test_populations_at_any_depth(self):
        import evaluate
        with tempfile.TemporaryDirectory() as tmp:
            for sub in ("adult/NORMAL", "adult/PNEUMONIA", "sites/b/children/NORMAL", "sites/b/children/PNEUMONIA",
                        "notes"):
                (Path(tmp) / sub).mkdir(parents=True)
            found = [(name, layout) for name, layout, _ in evaluate.find_populations(tmp)]
            self.assertEqual(found, [("adult", "disease"), ("sites/b/children", "disease")])
            (Path(tmp) / "X-Ray").mkdir()
            (Path(tmp) / "other").mkdir()
            with self.assertRaises(SystemExit):
                evaluate.find_populations(tmp)


class Augmentation(unittest.TestCase):
    def test_shapes_and_range_are_kept(self):
        g = torch.Generator().manual_seed(0)
        x = torch.rand(4, 3, 224, 224)
        for fn in (lambda b: augment.train_batch(b, g, hflip=0.5, to_grey=0.5),
                   lambda b: augment.train_batch(b, g, hospital=True), lambda b: augment.shifted_batch(b, g),
                   lambda b: augment.degraded_batch(b, g)):
            y = fn(x.clone())
            self.assertEqual(y.shape, x.shape)
            self.assertGreaterEqual(float(y.min()), 0.0)
            self.assertLessEqual(float(y.max()), 1.0)


class ExportToApp(unittest.TestCase):
    """One tiny training step on generated pictures, export, and the C++ runtime loading and agreeing."""

    def test_trained_model_exports_loads_and_matches_pytorch(self):
        images, _ = synth.generate(12, seed=3)
        labels = np.arange(12) % 2
        torch.manual_seed(0)
        net = PlainNet(width=4)
        train(net, images, labels, np.ones(12), TrainConfig(epochs=1, samples_per_epoch=8, seed=0, batch=4),
              log=lambda _: None)
        with tempfile.TemporaryDirectory() as tmp:
            tmp = Path(tmp)
            for name, labels_out, maps in (("SickClassifier1", ("NORMAL", "PNEUMONIA"), True),
                                           ("XRayClassifier1", ("other", "X-Ray"), False)):
                export.write_resource(tmp, name, export.to_onnx_bytes(net, class_maps=maps), labels_out, 1.7,
                                      {"kind": "argmax"}, {"test": True})
            for i, img in enumerate(images[:3]):
                cv2.imwrite(str(tmp / f"p{i}.png"), img)
            rows = screen_json(sorted(tmp.glob("p*.png")), tmp)
            for i in range(3):
                expected = torch_probabilities(net, tmp / f"p{i}.png", 1.7)
                got = rows[f"p{i}.png"]["disease"]["probabilities"]
                self.assertLess(abs(got["PNEUMONIA"] - expected[1]), PARITY_TOLERANCE)
                self.assertLess(abs(rows[f"p{i}.png"]["gate"]["probabilities"]["X-Ray"] - expected[1]),
                                PARITY_TOLERANCE)


def dark_square_picture():
    """[0, 1] RGB, bright but for a dark square over cell (row 2, col 5) of the 7 x 7 class map grid."""
    x = torch.full((1, 3, 224, 224), 0.9)
    x[:, :, 64:96, 160:192] = 0.05
    return x


class ClassMaps(unittest.TestCase):
    def test_exported_maps_are_the_head_at_every_cell_and_average_to_the_logits(self):
        torch.manual_seed(2)
        net = PlainNet(width=4, input_norm=True)
        for m in net.modules():  # trained-looking statistics, and a bias the maps must carry
            if isinstance(m, torch.nn.BatchNorm2d):
                m.running_mean.normal_(0, 0.5)
                m.running_var.uniform_(0.5, 2.0)
        with torch.no_grad():
            net.fc.bias.copy_(torch.tensor([0.7, -1.3]))
        net.eval()
        x = torch.cat([dark_square_picture(), torch.rand(2, 3, 224, 224)])
        with tempfile.TemporaryDirectory() as tmp:
            target = export.write_resource(tmp, "SickClassifier1", export.to_onnx_bytes(net, class_maps=True),
                                           ("NORMAL", "PNEUMONIA"), 1.0, {"kind": "argmax"}, {"test": True})
            self.assertEqual(json.loads((target / "metadata.json").read_text())["output"]["classMaps"], "classMaps")
            logits, maps = export.opencv_outputs(target / "model.onnx", x, ("logits", "classMaps"))
            bare = cv2.dnn.readNetFromONNX(str(target / "model.onnx"))
            bare.setInput(preprocess.normalise(x[:1]).numpy())
            unnamed = bare.forward()
        with torch.no_grad():
            features = net.features(net.input_norm(preprocess.normalise(x)))
            expected = torch.einsum("kc,nchw->nkhw", net.fc.weight, features) + net.fc.bias[None, :, None, None]
            torch_logits = net(preprocess.normalise(x)).numpy()
        self.assertEqual(maps.shape, (3, 2, 7, 7))
        np.testing.assert_allclose(maps, expected.numpy(), atol=1e-4)
        np.testing.assert_allclose(maps.mean(axis=(2, 3)), logits, atol=1e-5)
        np.testing.assert_allclose(logits, torch_logits, atol=PARITY_TOLERANCE)
        np.testing.assert_allclose(unnamed.reshape(-1), logits[0], atol=0)  # a bare forward() still gives logits

    def test_disease_resources_declare_maps_and_band(self):
        """The shipped model (checkpoint weights) and the test fixture (dark cells are PNEUMONIA)."""
        x = dark_square_picture()
        for directory in (ROOT / "models", ROOT / "tests" / "fixtures" / "models"):
            with self.subTest(directory=str(directory.relative_to(ROOT))):
                resource = directory / "SickClassifier1.mlmodelc"
                meta = json.loads((resource / "metadata.json").read_text())
                self.assertEqual(hashlib.sha256((resource / "model.onnx").read_bytes()).hexdigest(), meta["sha256"])
                lo, hi = meta["decision"]["borderline"]
                self.assertTrue(0 <= lo <= meta["decision"]["threshold"] <= hi <= 1, (lo, hi))
                logits, maps = export.opencv_outputs(resource / "model.onnx", x,
                                                     (meta["output"]["tensor"], meta["output"]["classMaps"]))
                self.assertEqual(maps.shape, (1, 2, 7, 7))
                np.testing.assert_allclose(maps.mean(axis=(2, 3)), logits, atol=1e-4)
                if meta["provenance"].get("fixture"):
                    normalised = float(preprocess.normalise(x.double()).mean())
                    np.testing.assert_allclose(logits[0], [2 * normalised, -2 * normalised], atol=1e-4)
                    hot = np.unravel_index(np.argmax(maps[0, 1]), (7, 7))
                    self.assertEqual(hot, (2, 5))
                    self.assertEqual(int((maps[0, 1] > 0).sum()), 1)
                else:
                    ckpt = torch.load(ROOT / "training" / "checkpoints" / "SickClassifier1.pt")
                    net = PlainNet(width=ckpt["width"], input_norm=ckpt["inputNorm"])
                    net.load_state_dict(ckpt["state_dict"])
                    with torch.no_grad():
                        expected = WithClassMaps(net.eval())(preprocess.normalise(x))
                    np.testing.assert_allclose(logits, expected[0].numpy(), atol=PARITY_TOLERANCE)
                    np.testing.assert_allclose(maps, expected[1].numpy(), atol=1e-3)


class ShippedModelParity(unittest.TestCase):
    """The shipped models: PyTorch weights and the app agree on the fixture pictures."""

    def test_pytorch_and_app_agree(self):
        models = ROOT / "models"
        checkpoints = ROOT / "training" / "checkpoints"
        pictures = sorted(PICTURES.iterdir())
        rows = screen_json(pictures, models)
        for name, stage in (("SickClassifier1", "disease"), ("XRayClassifier1", "gate")):
            meta = json.loads((models / f"{name}.mlmodelc" / "metadata.json").read_text())
            if meta["provenance"].get("fixture"):
                self.skipTest("the shipped models are still the fixtures")
            ckpt = torch.load(checkpoints / f"{name}.pt")
            net = PlainNet(classes=len(ckpt["labels"]), width=ckpt["width"], input_norm=ckpt.get("inputNorm", False))
            net.load_state_dict(ckpt["state_dict"])
            for path in pictures:
                expected = torch_probabilities(net, path, meta["output"]["temperature"])
                got = rows[path.name][stage]["probabilities"]
                for i, label in enumerate(meta["classLabels"]):
                    self.assertLess(abs(got[label] - expected[i]), PARITY_TOLERANCE, f"{name} {path.name} {label}")


if __name__ == "__main__":
    unittest.main()
