"""Data sets of the two classifiers: manifest, patient-level split, decoded cache."""
import csv
import hashlib
import os
import re
from pathlib import Path

import numpy as np

from . import preprocess


def patient_id(path):
    """Patient key of a paediatric file name.

    kermany_person1000_bacteria_2931.jpg -> person1000
    kermany_IM-0115-0001.jpg             -> IM-0115
    kermany_NORMAL2-IM-0412-0001.jpg     -> NORMAL2-IM-0412
    """
    name = Path(path).stem
    name = name[len("kermany_"):] if name.startswith("kermany_") else name
    m = re.match(r"(person\d+)_", name)
    if m:
        return m.group(1)
    m = re.match(r"((?:NORMAL2-)?IM-\d+)-\d+", name)
    if m:
        return m.group(1)
    return name


def _bucket(key, seed):
    digest = hashlib.sha256(f"{seed}:{key}".encode()).digest()
    return int.from_bytes(digest[:8], "big") / 2**64


def in_validation(key, fraction, seed):
    """Deterministic split on a key (patient or image group), independent of file order."""
    return _bucket(key, seed) < fraction


def read_manifest(data_dir):
    with open(Path(data_dir) / "MANIFEST.csv", newline="") as f:
        return list(csv.DictReader(f))


def gate_xray_patients(data_dir):
    with open(Path(data_dir) / "gate" / "xray" / "labels.csv", newline="") as f:
        return {row["file"]: row["patient_id"] for row in csv.DictReader(f)}


def adult_patients(data_dir):
    with open(Path(data_dir) / "cxr-adult" / "labels.csv", newline="") as f:
        return {row["file"]: row["patient_id"] for row in csv.DictReader(f)}


# The adult set is small: a larger share of its patients validates, so that its figures mean something.
ADULT_VALIDATION_FRACTION = 0.25
# The NIH normals exported by another pipeline (cxr-adult-rsna) carry no patient ids; a share of them, split by
# file, never trains: the cross-processing validation set.
RSNA_VALIDATION_FRACTION = 0.3


def reread_normals(data_dir):
    """cxr-adult files labelled PNEUMONIA by NIH's text mining that radiologists read as normal."""
    path = Path(data_dir) / "cxr-adult" / "rsna-reread.csv"
    if not path.exists():
        return set()
    with open(path, newline="") as f:
        return {row["file"] for row in csv.DictReader(f)
                if row["nih_label"] == "PNEUMONIA" and row["rsna_reading"].lower().startswith("normal")}


def rsna_normal_files(data_dir):
    """Paths (below data_dir) of the radiologist-read normals exported by another pipeline."""
    path = Path(data_dir) / "cxr-adult-rsna" / "labels.csv"
    if not path.exists():
        return []
    with open(path, newline="") as f:
        return [f"cxr-adult-rsna/{row['file']}" for row in csv.DictReader(f) if row["label"] == "NORMAL"]


def disease_records(data_dir, fraction=0.15, seed=7):
    """(path, label index, is_validation, population) for the disease model; 0 NORMAL, 1 PNEUMONIA.

    Populations: "paediatric" (Kermany et al., split by patient as before), "adult" (NIH ChestX-ray14 sample,
    split by NIH patient id with ADULT_VALIDATION_FRACTION) and "adult-rsna" (the same hospital's radiologist-read
    normals through another export, split by file with RSNA_VALIDATION_FRACTION). The NIH PNEUMONIA films that
    radiologists read as normal (reread_normals) are relabelled NORMAL: a radiologist's reading of the film
    outweighs a label mined from the report's text.
    """
    patients = adult_patients(data_dir) if (Path(data_dir) / "cxr-adult" / "labels.csv").exists() else {}
    reread = reread_normals(data_dir)
    out = []
    for row in read_manifest(data_dir):
        path = row["path"]
        label = 0 if row["label"] == "NORMAL" else 1
        if path.startswith("cxr-pneumonia/"):
            out.append((path, label, in_validation(patient_id(path), fraction, seed), "paediatric"))
        elif path.startswith("cxr-adult/"):
            key = patients.get(Path(path).name, path)
            if path[len("cxr-adult/"):] in reread:
                label = 0
            out.append((path, label, in_validation("adult:" + key, ADULT_VALIDATION_FRACTION, seed), "adult"))
    for path in rsna_normal_files(data_dir):
        out.append((path, 0, in_validation("rsna:" + Path(path).name, RSNA_VALIDATION_FRACTION, seed), "adult-rsna"))
    return out


def held_out_source_records(data_dir):
    """(path, label index, collection) of gate/xray's NORMAL and PNEUMONIA films: collections the disease
    model never trains on (nearly all pneumonia, mostly COVID-19), for a leave-source-out check."""
    out = []
    with open(Path(data_dir) / "gate" / "xray" / "labels.csv", newline="") as f:
        for row in csv.DictReader(f):
            if row["label"] in ("NORMAL", "PNEUMONIA"):
                collection = row["file"].split("_")[0]
                out.append((f"gate/xray/{row['file']}", int(row["label"] == "PNEUMONIA"), collection))
    return out


def gate_records(data_dir, fraction=0.15, seed=7):
    """(path, label index, is_validation, category) for the gate; 0 other, 1 X-Ray.

    Paediatric positives follow the disease split (same patients in validation),
    adult positives are split by their patient id, negatives by image within category.
    """
    patients = gate_xray_patients(data_dir)
    out = []
    for row in read_manifest(data_dir):
        path = row["path"]
        if path.startswith("cxr-pneumonia/"):
            out.append((path, 1, in_validation(patient_id(path), fraction, seed), "paediatric"))
        elif path.startswith("gate/xray/"):
            key = patients.get(Path(path).name, path)
            out.append((path, 1, in_validation("adult:" + key, fraction, seed), "adult"))
        elif path.startswith("gate/other/"):
            out.append((path, 0, in_validation(path, fraction, seed), row["category"]))
    return out


def load_cache(data_dir, paths, cache_dir):
    """Decodes and redraws every path once (the app's own preprocessing); uint8 N x 224 x 224 x 3 BGR."""
    key = hashlib.sha256("\n".join(paths).encode()).hexdigest()[:16]
    cache = Path(cache_dir) / f"images-{key}.npy"
    if cache.exists():
        return np.load(cache, mmap_mode="r")
    os.makedirs(cache_dir, exist_ok=True)
    arr = np.empty((len(paths), preprocess.SIDE, preprocess.SIDE, 3), dtype=np.uint8)
    for i, p in enumerate(paths):
        arr[i] = preprocess.redraw(preprocess.decode(Path(data_dir) / p))
    tmp = cache.with_suffix(".tmp.npy")
    np.save(tmp, arr)
    os.replace(tmp, cache)
    return arr
