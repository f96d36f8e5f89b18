"""Trains, calibrates, validates and exports XRayClassifier1 (gate) and SickClassifier1 (disease).

    PYTHONPATH=training python3 -m orvix_train.train --data ../shared/data --models models --task all

Everything is seeded; see docs/models.md for run times and the figures this produces.
"""
import argparse
import datetime
import json
import math
import time
from dataclasses import dataclass
from pathlib import Path

import numpy as np
import torch
import torch.nn.functional as F

from . import augment, data, export, metrics, preprocess, synth
from .model import PlainNet

TASKS = {
    # name, labels in output order, positive label, floors (sensitivity, specificity) for the threshold
    "disease": ("SickClassifier1", ("NORMAL", "PNEUMONIA"), "PNEUMONIA", (0.95, 0.90)),
    "gate": ("XRayClassifier1", ("other", "X-Ray"), "X-Ray", (0.995, 0.995)),
}
# Each task's network around PlainNet's convolutions: the disease model normalises each picture's intensities (the
# hospitals' exposures and processing differ); the gate looks at the picture averaged down to 112 x 112.
ARCHITECTURE = {"disease": {"input_norm": True}, "gate": {"input_pool": 2}}
# The disease model's floors (sensitivity, specificity) per population: one threshold must serve children and adults
# alike. They are the floors the models are held to on films of other hospitals. "adult-rsna" (normals only) holds
# only its specificity floor: healthy adults whose films were processed otherwise must be called NEGATIVE too.
POPULATION_FLOORS = {"paediatric": (0.95, 0.85), "adult": (0.85, 0.75), "adult-rsna": (0.0, 0.80)}
# The processing shifts whose views the threshold must serve beside the clean and shifted ones; the two applied
# together are reported as a stress test only (served too, they would push the threshold to where a third of the
# adult pneumonias are missed on clean films).
THRESHOLD_SHIFTS = ("clahe", "wide-unsharp")
# Seeds of the shifted validation passes (augment.shifted_batch), each over every validation picture.
SHIFT_SEEDS = (1, 2)
# Share of the unstable verdicts' probabilities that the disease model's borderline band holds.
BORDERLINE_COVERAGE = 0.85


def to_unit(batch_bgr):
    """uint8 N x 224 x 224 x 3 BGR -> float N x 3 x 224 x 224 RGB in [0, 1] (the core's xRGB order).

    Channels-last in memory, as preprocess.to_unit_rgb gives it: convolutions round differently on a planar
    copy, and the shipped models' figures were computed on this layout.
    """
    return torch.from_numpy(preprocess.to_unit_rgb(batch_bgr))


def predict_logits(net, images, transform=None, seed=0, batch=128):
    net.eval()
    g = torch.Generator().manual_seed(seed)
    out = []
    with torch.no_grad():
        for i in range(0, len(images), batch):
            x = to_unit(images[i:i + batch])
            if transform is not None:
                x = transform(x, g)
            out.append(net(preprocess.normalise(x)))
    return torch.cat(out).numpy() if out else np.zeros((0, 2))


def shifted_logits(net, images):
    """Logits of the shifted validation view: one pass per SHIFT_SEEDS, concatenated."""
    return np.concatenate([predict_logits(net, images, augment.shifted_batch, seed=s) for s in SHIFT_SEEDS])


def borderline(p_clean, p_shift, groups, threshold):
    """The disease decision's borderline band and, for the provenance, how it was chosen and what it marks.

    p_shift: shifted_logits' probabilities (the validation pictures once per shift seed, in p_clean's order).
    """
    views = np.asarray(p_shift).reshape(len(SHIFT_SEEDS), -1)
    lo, hi, flips, share = metrics.borderline_band(p_clean, views, threshold, BORDERLINE_COVERAGE)

    def marked(p):
        return float(((p >= lo) & (p <= hi)).mean())

    per = {grp: {"n": int((groups == grp).sum()), "flips": int(flips[:, groups == grp].sum()),
                 "markedClean": marked(p_clean[groups == grp]), "markedShifted": marked(views[:, groups == grp])}
           for grp in POPULATION_FLOORS if (groups == grp).any()}
    per["all"] = {"n": len(p_clean), "flips": int(flips.sum()), "markedClean": marked(p_clean),
                  "markedShifted": marked(views)}
    return [lo, hi], {
        "rule": f"narrowest band around the threshold holding {BORDERLINE_COVERAGE:.0%} of the probabilities "
                f"(clean and shifted) of validation pictures whose verdict differs between the clean view "
                f"and a shifted view ({len(SHIFT_SEEDS)} passes)",
        "band": [lo, hi],
        "flips": int(flips.sum()),
        "picturesWithFlip": int(flips.any(axis=0).sum()),
        "flipProbabilitiesInBand": share,
        "picturesWithFlipCleanInBand": float(((p_clean >= lo) & (p_clean <= hi))[flips.any(axis=0)].mean())
        if flips.any() else None,
        "perPopulation": per,
    }


def check_export(target, images, clean, log):
    """OpenCV on the exported file against PyTorch's logits; with class maps, their mean against the logits."""
    x = to_unit(images)
    maps_name = json.loads((target / "metadata.json").read_text())["output"].get("classMaps")
    outs = export.opencv_outputs(target / "model.onnx", x, ("logits", maps_name) if maps_name else ("logits",))
    diff = float(np.abs(outs[0] - clean).max())
    maps_diff = float(np.abs(outs[1].mean(axis=(2, 3)) - outs[0]).max()) if maps_name else None
    log(f"wrote {target}; OpenCV vs PyTorch max |logit diff| {diff:.2e}" +
        (f", class maps' mean vs logits {maps_diff:.2e}" if maps_name else ""))
    return diff, maps_diff


@dataclass(frozen=True)
class TrainConfig:
    """How train() trains: how long, how it draws and augments its batches, and the optimiser's settings."""
    epochs: int
    samples_per_epoch: int  # pictures drawn an epoch, with replacement, in proportion to the sample weights
    seed: int
    class_weights: tuple = (1.0, 1.0)  # of the loss; (1, 1) when the sampling balances the classes
    hflip: float = 0.0  # probability of a horizontal flip (augment.train_batch)
    to_grey: float = 0.0  # probability of a greyscale picture
    hospital: bool = False  # the acquisition effects too (augment.acquisition)
    histograms: float = 0.0  # probability of a random histogram matching (augment.match_histograms)
    consistency: float = 0.0  # weight of the loss that asks two processings of a film for the same answer
    batch: int = 32
    lr: float = 2e-3  # the one-cycle schedule's peak


def train(net, images, labels, sample_weights, config, log):
    """Trains net on images (uint8 N x 224 x 224 x 3 BGR) and their labels; logs each epoch's mean loss.

    With config.histograms, pictures get the grey levels of random training films (augment.match_histograms);
    with config.consistency, each batch is seen twice, each time with its own histograms, and the symmetric
    KL divergence between the two answers joins the loss."""
    torch.manual_seed(config.seed)
    references = augment.grey_quantiles(images) if config.histograms else None
    g = torch.Generator().manual_seed(config.seed)
    opt = torch.optim.AdamW(net.parameters(), lr=config.lr, weight_decay=5e-4)
    steps = config.epochs * math.ceil(config.samples_per_epoch / config.batch)
    sched = torch.optim.lr_scheduler.OneCycleLR(opt, max_lr=config.lr, total_steps=steps, pct_start=0.15)
    weights = torch.as_tensor(sample_weights, dtype=torch.double)
    cw = torch.as_tensor(config.class_weights, dtype=torch.float32)
    labels = torch.as_tensor(labels)
    for epoch in range(config.epochs):
        net.train()
        order = torch.multinomial(weights, config.samples_per_epoch, replacement=True, generator=g).numpy()
        total, t0 = 0.0, time.time()
        for i in range(0, len(order), config.batch):
            idx = np.sort(order[i:i + config.batch])

            def view():
                batch = images[idx]
                if references is not None:
                    batch = augment.match_histograms(batch, references, g, config.histograms)
                return augment.train_batch(to_unit(batch), g, hflip=config.hflip, to_grey=config.to_grey,
                                           hospital=config.hospital)

            logits = net(preprocess.normalise(view()))
            loss = F.cross_entropy(logits, labels[idx], weight=cw)
            if config.consistency:
                other = net(preprocess.normalise(view()))
                loss = (loss + F.cross_entropy(other, labels[idx], weight=cw)) / 2
                a, b = F.log_softmax(logits, 1), F.log_softmax(other, 1)
                kl = F.kl_div(a, b, log_target=True, reduction="batchmean") + \
                    F.kl_div(b, a, log_target=True, reduction="batchmean")
                loss = loss + config.consistency * kl / 2
            opt.zero_grad()
            loss.backward()
            opt.step()
            sched.step()
            total += loss.item() * len(idx)
        log(f"epoch {epoch + 1}/{config.epochs} loss {total / len(order):.4f} ({time.time() - t0:.0f} s)")


def held_out_sources(net, args, temperature, pos_index, threshold):
    """The disease model on collections it never saw (gate/xray: mostly COVID-19 adult pneumonia):
    a leave-source-out check of sensitivity, and of specificity on the few normals there."""
    records = data.held_out_source_records(args.data)
    if not records:
        return {}
    images = np.asarray(data.load_cache(args.data, [r[0] for r in records], args.cache))
    y = np.array([r[1] for r in records])
    p = metrics.softmax(predict_logits(net, images), temperature)[:, pos_index]
    out = {"all": _fmt(metrics.summary(p, y, threshold)) if len(set(y)) == 2 else None}
    for collection in sorted({r[2] for r in records}):
        m = np.array([r[2] == collection for r in records])
        pos, neg = m & (y == 1), m & (y == 0)
        out[collection] = {"pneumonia": int(pos.sum()), "called POSITIVE": int((p[pos] >= threshold).sum()),
                           "normal": int(neg.sum()), "called NEGATIVE": int((p[neg] < threshold).sum())}
    return out


def _fmt(m):
    """A summary for JSON: tuples as lists, undefined figures (a rate of no pictures) as null."""
    def value(v):
        if isinstance(v, tuple):
            return [value(x) for x in v]
        return None if isinstance(v, float) and math.isnan(v) else v
    return {k: value(v) for k, v in m.items()}


@dataclass(frozen=True)
class TaskData:
    """A task's pictures (uint8 N x 224 x 224 x 3 BGR) with their labels and groups (the disease model's
    population, the gate's category), and the indices of the training and of the validation pictures."""
    records: list  # data.disease_records or data.gate_records; the gate's generated pictures come after them
    images: np.ndarray
    labels: np.ndarray
    groups: np.ndarray
    train: np.ndarray
    validation: np.ndarray


@dataclass(frozen=True)
class TrainingRecord:
    """What the results and the provenance say of a network's training."""
    epochs: int
    samples_per_epoch: int
    seconds: float


@dataclass(frozen=True)
class Validation:
    """The validation pictures' logits, clean, shifted (one pass per SHIFT_SEEDS) and for the gate degraded (two
    passes), with the labels and groups of the clean pictures (y, groups) and of the two-pass views (y2, groups2);
    for the disease model, the logits under each of augment.PROCESSING_SHIFTS (processed, by name)."""
    clean: np.ndarray
    shifted: np.ndarray
    degraded: np.ndarray | None
    y: np.ndarray
    groups: np.ndarray
    y2: np.ndarray
    groups2: np.ndarray
    processed: dict


@dataclass(frozen=True)
class OperatingPoint:
    """The calibrated model's positive probabilities on the validation views and the threshold chosen on them."""
    temperature: float
    p_clean: np.ndarray
    p_shift: np.ndarray
    p_degraded: np.ndarray | None
    p_processed: dict
    threshold: float
    floors_met: bool
    worst_margin: float | None  # the disease model's; None for the gate


def load_data(task, args, log):
    """The task's files (decoded once into args.cache) and, for the gate, its generated hard negatives."""
    name, labels_out, _, _ = TASKS[task]
    records = (data.disease_records if task == "disease" else data.gate_records)(args.data, args.val_fraction,
                                                                                   args.split_seed)
    log(f"{name}: {len(records)} files, decoding (cached in {args.cache})")
    images = data.load_cache(args.data, [r[0] for r in records], args.cache)
    labels = np.array([r[1] for r in records])
    is_val = np.array([r[2] for r in records])
    groups = np.array([r[3] for r in records])
    if task == "gate":
        gen, kinds = synth.generate(args.generated, seed=args.seed)
        images = np.concatenate([np.asarray(images), gen])
        labels = np.concatenate([labels, np.zeros(len(gen), int)])
        is_val = np.concatenate([is_val, np.arange(len(gen)) % 7 == 0])
        groups = np.concatenate([groups, np.array(kinds)])
    else:
        images = np.asarray(images)
    tr, va = np.flatnonzero(~is_val), np.flatnonzero(is_val)
    counts = np.bincount(labels[tr], minlength=2)
    log(f"train {len(tr)} ({dict(zip(labels_out, counts.tolist()))}), validation {len(va)}")
    return TaskData(records, images, labels, groups, tr, va)


def training_plan(task, args, dataset, log):
    """The training pictures' sample weights and the task's TrainConfig."""
    labels, groups = dataset.labels[dataset.train], dataset.groups[dataset.train]
    if task == "disease":
        # Every population x class cell drawn equally often: adults (few files) as often as children,
        # NORMAL as often as PNEUMONIA; the loss is then unweighted. The adult normals' draws are shared half and
        # half between the two exports of the same hospital (NIH's own and the RSNA copy's), so that neither
        # processing style alone means NORMAL.
        cells = [f"{grp}/{lab}" for grp, lab in zip(groups, labels)]
        sizes = {c: cells.count(c) for c in set(cells)}
        log(f"cells {sizes}")
        shared = {"adult/0", "adult-rsna/0"} if "adult-rsna/0" in sizes else set()
        sample_weights = np.array([(0.5 if c in shared else 1.0) / sizes[c] for c in cells])
        hflip, to_grey = 0.0, 0.0
    else:
        # Balanced classes by sampling; adult radiographs (a different domain, few files) drawn more often.
        counts = np.bincount(labels, minlength=2)
        sample_weights = np.where(labels == 1, 0.5 / counts[1], 0.5 / counts[0])
        sample_weights = sample_weights * np.where(groups == "adult", 6.0, 1.0)
        hflip, to_grey = 0.5, 0.3
    config = TrainConfig(epochs=args.epochs or (20 if task == "disease" else 14),
                         samples_per_epoch=args.samples_per_epoch or 6000, seed=args.seed, hflip=hflip,
                         to_grey=to_grey, hospital=task == "disease",
                         histograms=args.histograms if task == "disease" else 0.0,
                         consistency=args.consistency if task == "disease" else 0.0)
    return sample_weights, config


def checkpoint_path(args, name):
    return Path(args.checkpoints or ".") / f"{name}.pt"


def trained_network(task, args, dataset, sample_weights, config, log):
    """The task's network trained on the training pictures or, with --calibrate-only, the trained one from its
    checkpoint; and its TrainingRecord."""
    name, labels_out, _, _ = TASKS[task]
    if args.calibrate_only:
        checkpoint = checkpoint_path(args, name)
        state = torch.load(checkpoint)
        net = PlainNet.from_checkpoint(state)
        # Checkpoints from before they recorded it: the training figures of the resource being recalibrated.
        metadata = Path(args.models) / f"{name}.mlmodelc" / "metadata.json"
        before = json.loads(metadata.read_text())["provenance"] if metadata.exists() else {}
        log(f"calibrating the trained network in {checkpoint}")
        return net, TrainingRecord(state.get("epochs", before.get("epochs", 0)), config.samples_per_epoch,
                                   state.get("trainSeconds", before.get("trainSeconds", 0)))
    torch.manual_seed(args.seed)
    net = PlainNet(classes=len(labels_out), width=args.width, **ARCHITECTURE[task])
    t0 = time.time()
    train(net, dataset.images[dataset.train], dataset.labels[dataset.train], sample_weights, config, log)
    return net, TrainingRecord(config.epochs, config.samples_per_epoch, time.time() - t0)


def validation_views(task, net, dataset):
    """The validation pictures through net (see Validation)."""
    va = dataset.validation
    images, y, groups = dataset.images[va], dataset.labels[va], dataset.groups[va]
    degraded, processed = None, {}
    if task == "gate":
        degraded = np.concatenate([predict_logits(net, images, augment.degraded_batch, seed=s) for s in (3, 4)])
    else:
        processed = {name: predict_logits(net, np.stack([shift(img) for img in np.asarray(images)]))
                     for name, shift in augment.PROCESSING_SHIFTS.items()}
    return Validation(predict_logits(net, images), shifted_logits(net, images), degraded, y, groups,
                      np.tile(y, len(SHIFT_SEEDS)), np.tile(groups, len(SHIFT_SEEDS)), processed)


def calibrate(task, val):
    """The softmax temperature, fitted on the validation logits."""
    if task == "gate":
        # The gate separates its clean validation perfectly, so a temperature fitted there only sharpens.
        # Fitted on clean and deliberately degraded views together, its confidence falls where a
        # picture is doubtful.
        return metrics.fit_temperature(np.concatenate([val.clean, val.degraded]), np.concatenate([val.y, val.y2]))
    # The disease model: the worst population's likelihood on clean validation decides (the adults', whose
    # probabilities are the least reliable). Under the processing shifts too, it would soften every answer
    # towards 0.5 (a temperature near 5), which serves no population.
    return metrics.fit_temperature(val.clean, val.y, val.groups)


def choose_threshold(task, val, temperature):
    """The operating point at the temperature: one threshold meeting the task's floors on the clean and the shifted
    view (for the disease model, the floors of each population); where the gate's cannot be met, 0.5."""
    _, labels_out, positive, floors = TASKS[task]
    pos_index = labels_out.index(positive)

    def positive_probability(logits):
        return None if logits is None else metrics.softmax(logits, temperature)[:, pos_index]

    p_clean, p_shift = positive_probability(val.clean), positive_probability(val.shifted)
    p_processed = {name: positive_probability(logits) for name, logits in val.processed.items()}
    if task == "disease":
        # The worst group decides: every population, clean, shifted and under each of THRESHOLD_SHIFTS.
        views = []
        for grp, (min_sens, min_spec) in POPULATION_FLOORS.items():
            if not (val.groups == grp).any():
                continue
            views += [(p_clean[val.groups == grp], val.y[val.groups == grp], min_sens, min_spec),
                      (p_shift[val.groups2 == grp], val.y2[val.groups2 == grp], min_sens, min_spec)]
            views += [(p_processed[name][val.groups == grp], val.y[val.groups == grp], min_sens, min_spec)
                      for name in THRESHOLD_SHIFTS]
        threshold, feasible, margin = metrics.constrained_threshold(views)
    else:
        threshold, feasible = metrics.operating_threshold([p_clean, p_shift], [val.y, val.y2], *floors)
        margin = None
        if not feasible:
            threshold = 0.5
    return OperatingPoint(temperature, p_clean, p_shift, positive_probability(val.degraded), p_processed, threshold,
                          feasible, margin)


def validation_results(task, args, net, dataset, val, point, record):
    """The figures of the model card: validation (clean, shifted; per population, held-out collections and
    borderline band for the disease model; degraded and per category for the gate) and calibration."""
    name, labels_out, positive, _ = TASKS[task]
    pos_index = labels_out.index(positive)
    threshold = point.threshold
    result = {
        "model": name,
        "labels": list(labels_out),
        "positive": positive,
        "trainSeconds": round(record.seconds),
        "epochs": record.epochs,
        "samplesPerEpoch": record.samples_per_epoch,
        "trainCount": int(len(dataset.train)),
        "validationCount": int(len(dataset.validation)),
        "temperature": point.temperature,
        "threshold": threshold,
        "thresholdFloorsMet": point.floors_met,
        "thresholdWorstMargin": point.worst_margin,
        "validation": _fmt(metrics.summary(point.p_clean, val.y, threshold)),
        "validationShifted": _fmt(metrics.summary(point.p_shift, val.y2, threshold)),
        "ece": {"beforeCalibration": metrics.expected_calibration_error(metrics.softmax(val.clean)[:, pos_index],
                                                                        val.y),
                "afterCalibration": metrics.expected_calibration_error(point.p_clean, val.y)},
    }
    if task == "disease":
        result["perPopulation"] = {
            grp: {"validation": _fmt(metrics.summary(point.p_clean[val.groups == grp], val.y[val.groups == grp],
                                                     threshold)),
                  "validationShifted": _fmt(metrics.summary(point.p_shift[val.groups2 == grp],
                                                            val.y2[val.groups2 == grp], threshold))}
            for grp in POPULATION_FLOORS if (val.groups == grp).any()}
        result["processingShifts"] = processing_shift_figures(val, point)
        result["heldOutSources"] = held_out_sources(net, args, point.temperature, pos_index, threshold)
    if task == "gate":
        result["degradedValidation"] = _fmt(metrics.summary(point.p_degraded, val.y2, threshold))
        result["ece"]["degraded"] = metrics.expected_calibration_error(point.p_degraded, val.y2)
        per = {}
        for grp in sorted(set(val.groups)):
            m = val.groups == grp
            accepted = int((point.p_clean[m] >= threshold).sum())
            per[grp] = {"n": int(m.sum()), "acceptedAsXRay": accepted, "rate": accepted / int(m.sum())}
        result["perCategory"] = per
    return result


def processing_shift_figures(val, point):
    """Per processing shift and population: how far the probability moves (mean and 95th percentile of |change|),
    the share of verdicts that change, and the figures at the threshold under the shift."""
    out = {}
    for name, p in point.p_processed.items():
        out[name] = {}
        for grp in POPULATION_FLOORS:
            m = val.groups == grp
            if not m.any():
                continue
            moved = np.abs(p[m] - point.p_clean[m])
            flips = (p[m] >= point.threshold) != (point.p_clean[m] >= point.threshold)
            out[name][grp] = {"meanAbsChange": float(moved.mean()), "p95AbsChange": float(np.percentile(moved, 95)),
                              "verdictsChanged": float(flips.mean()),
                              "figures": _fmt(metrics.summary(p[m], val.y[m], point.threshold))}
    return out


def decision_rule(task, val, point):
    """The exported decision rule (the positive label from the threshold on; the disease model's with its
    borderline band) and, for the disease model, how the band was chosen and what it marks (None for the gate)."""
    _, labels_out, positive, _ = TASKS[task]
    decision = {"kind": "threshold", "label": positive, "threshold": point.threshold,
                "otherwise": labels_out[1 - labels_out.index(positive)]}
    if task != "disease":
        return decision, None
    decision["borderline"], band_provenance = borderline(point.p_clean, point.p_shift, val.groups, point.threshold)
    return decision, band_provenance


def architecture(net):
    """The network in words, for the resource's provenance."""
    pooled = (f" on the input averaged down to {preprocess.SIDE // net.input_pool_size} x "
              f"{preprocess.SIDE // net.input_pool_size}" if net.input_pool_size > 1 else "")
    return f"PlainNet width {net.width}{pooled}, {sum(p.numel() for p in net.parameters())} parameters"


def model_provenance(task, args, net, record, result):
    """The provenance the exported resource carries: how it was trained and its validation figures."""
    provenance = {
        "trainedBy": "Orvix training/orvix_train (python3 -m orvix_train.train)",
        "date": datetime.date.today().isoformat(),
        "architecture": architecture(net),
        "data": "shared/data: Kermany et al. 2018 paediatric chest X-rays (CC BY 4.0)" +
                ("; gate/xray adult chest X-rays; gate/other 24 categories; generated hard negatives"
                 if task == "gate" else "; NIH ChestX-ray14 adult sample (cxr-adult; PNEUMONIA films that radiologists "
                                        "read as normal relabelled NORMAL); RSNA-read NIH normals through another "
                                        "export (cxr-adult-rsna)"),
        "split": f"patient-level, {args.val_fraction:.0%} validation, seed {args.split_seed}" +
                 (f"; adults {data.ADULT_VALIDATION_FRACTION:.0%}" if task == "disease" else ""),
        "seed": args.seed,
        "epochs": record.epochs,
        "trainSeconds": round(record.seconds),
        "validation": {
            "n": result["validation"]["n"],
            "auc": result["validation"]["auc"],
            "sensitivity": result["validation"]["sensitivity"],
            "specificity": result["validation"]["specificity"],
            "accuracy": result["validation"]["accuracy"],
        },
    }
    if task == "disease":
        provenance["validation"]["perPopulation"] = {
            grp: {k: result["perPopulation"][grp]["validation"][k] for k in ("n", "auc", "sensitivity", "specificity")}
            for grp in result["perPopulation"]}
        provenance["borderline"] = result["borderline"]
    return provenance


def save_checkpoint(task, args, net, record):
    """The trained weights, for the parity test, --calibrate-only and --export-only; a recalibration leaves the
    checkpoint it loaded as it was."""
    if not args.checkpoints or args.calibrate_only:
        return
    name, labels_out, _, _ = TASKS[task]
    Path(args.checkpoints).mkdir(parents=True, exist_ok=True)
    torch.save(net.checkpoint(labels=list(labels_out), epochs=record.epochs, trainSeconds=round(record.seconds)),
               checkpoint_path(args, name))


def export_model(task, args, net, temperature, decision, provenance, images, clean, log):
    """Writes the compiled-model resource into args.models and checks it on images against their PyTorch logits
    clean (check_export); returns check_export's differences and the ONNX file's size."""
    name, labels_out, _, _ = TASKS[task]
    onnx_bytes = export.to_onnx_bytes(net, class_maps=task == "disease")
    target = export.write_resource(args.models, name, onnx_bytes, labels_out, temperature, decision, provenance)
    return check_export(target, images, clean, log), len(onnx_bytes)


def write_results(task, args, dataset, val, point, result):
    """The results JSON and the validation probabilities (for card_figures.py) into args.results, if given."""
    if not args.results:
        return
    name = TASKS[task][0]
    Path(args.results).mkdir(parents=True, exist_ok=True)
    (Path(args.results) / f"{name}.json").write_text(json.dumps(result, indent=2) + "\n")
    extra = {"p_degraded": point.p_degraded} if task == "gate" else {}
    paths = [dataset.records[i][0] if i < len(dataset.records) else "generated" for i in dataset.validation]
    np.savez_compressed(Path(args.results) / f"{name}-validation.npz", p=point.p_clean, y=val.y, p_shift=point.p_shift,
                        y_shift=val.y2, group=val.groups, group_shift=val.groups2, path=np.array(paths), **extra)


def run(task, args, log):
    """Trains (or, with --calibrate-only, loads), calibrates, validates and exports the task's model; saves its
    checkpoint and writes its results. Returns the results."""
    dataset = load_data(task, args, log)
    sample_weights, config = training_plan(task, args, dataset, log)
    net, record = trained_network(task, args, dataset, sample_weights, config, log)
    save_checkpoint(task, args, net, record)
    val = validation_views(task, net, dataset)
    temperature = calibrate(task, val)
    point = choose_threshold(task, val, temperature)
    log(f"temperature {point.temperature:.3f}, threshold {point.threshold:.3f} (floors met on every view: "
        f"{point.floors_met}, worst margin {point.worst_margin})")
    result = validation_results(task, args, net, dataset, val, point, record)
    log(json.dumps({k: result[k] for k in ("validation", "validationShifted", "perPopulation", "heldOutSources")
                    if k in result}, indent=1))
    decision, band = decision_rule(task, val, point)
    if band is not None:
        result["borderline"] = band
        log(f"borderline band {decision['borderline']}: {json.dumps(band['perPopulation'])}")
    provenance = model_provenance(task, args, net, record, result)
    first = dataset.validation[:16]
    diffs, onnx_size = export_model(task, args, net, point.temperature, decision, provenance, dataset.images[first],
                                    val.clean[:16], log)
    result["exportCheckMaxLogitDiff"], result["exportCheckClassMapsDiff"] = diffs
    result["onnxBytes"] = onnx_size
    write_results(task, args, dataset, val, point, result)
    return result


def export_only(task, args, log):
    """Exports the task's checkpoint again, keeping the shipped resource's temperature, threshold and provenance:
    a new export format, not a new model. The disease model's borderline band is measured on the validation
    pictures (clean and shifted, as in run) and added to its decision, its provenance and its results."""
    name, labels_out, positive, _ = TASKS[task]
    pos_index = labels_out.index(positive)
    net = PlainNet.from_checkpoint(torch.load(Path(args.checkpoints) / f"{name}.pt"))
    meta = json.loads((Path(args.models) / f"{name}.mlmodelc" / "metadata.json").read_text())
    temperature, decision, provenance = meta["output"]["temperature"], meta["decision"], meta["provenance"]
    records = (data.disease_records if task == "disease" else data.gate_records)(args.data, args.val_fraction,
                                                                                   args.split_seed)
    va = np.flatnonzero([r[2] for r in records])
    images = np.asarray(data.load_cache(args.data, [r[0] for r in records], args.cache))[va]
    log(f"{name}: {len(va)} validation pictures, exporting {Path(args.checkpoints) / f'{name}.pt'} again")
    clean = predict_logits(net, images)
    if task == "disease":
        groups = np.array([records[i][3] for i in va])
        p_clean = metrics.softmax(clean, temperature)[:, pos_index]
        p_shift = metrics.softmax(shifted_logits(net, images), temperature)[:, pos_index]
        decision["borderline"], provenance["borderline"] = borderline(p_clean, p_shift, groups, decision["threshold"])
        log(f"borderline band {decision['borderline']}: {json.dumps(provenance['borderline'], indent=1)}")
    diffs, onnx_size = export_model(task, args, net, temperature, decision, provenance, images[:16], clean[:16], log)
    results = Path(args.results or ".") / f"{name}.json"
    if args.results and results.exists():
        result = json.loads(results.read_text())
        result["exportCheckMaxLogitDiff"], result["exportCheckClassMapsDiff"] = diffs
        result["onnxBytes"] = onnx_size
        if "borderline" in provenance:
            result["borderline"] = provenance["borderline"]
        results.write_text(json.dumps(result, indent=2) + "\n")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--data", default="../shared/data", help="the developer data folder")
    ap.add_argument("--models", default="models", help="where the compiled model resources go")
    ap.add_argument("--results", default="training/results", help="validation figures (JSON) for the model card")
    ap.add_argument("--checkpoints", default="training/checkpoints", help="PyTorch weights, for the parity check")
    ap.add_argument("--cache", default="build/training-cache", help="decoded 224x224 pictures")
    ap.add_argument("--task", choices=("disease", "gate", "all"), default="all")
    ap.add_argument("--epochs", type=int, default=0, help="0: the task's default")
    ap.add_argument("--samples-per-epoch", type=int, default=0)
    ap.add_argument("--width", type=int, default=12)
    ap.add_argument("--generated", type=int, default=700, help="generated hard negatives for the gate")
    ap.add_argument("--val-fraction", type=float, default=0.15)
    ap.add_argument("--split-seed", type=int, default=7)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--histograms", type=float, default=0.5,
                    help="disease: probability of a random histogram matching of a training picture")
    ap.add_argument("--consistency", type=float, default=0.0,
                    help="disease: weight of the two-processings consistency loss (0: off; doubles the work)")
    ap.add_argument("--calibrate-only", action="store_true",
                    help="recalibrate, validate and export the trained checkpoint instead of training it again")
    ap.add_argument("--export-only", action="store_true",
                    help="export the trained checkpoint again with the shipped temperature, threshold and provenance "
                         "(the disease model's borderline band is measured anew)")
    args = ap.parse_args(argv)
    torch.set_num_threads(args.threads)
    start = time.time()

    def log(msg):
        print(f"[{time.time() - start:7.0f} s] {msg}", flush=True)

    for task in (("disease", "gate") if args.task == "all" else (args.task,)):
        (export_only if args.export_only else run)(task, args, log)


if __name__ == "__main__":
    main()
