"""Lays out the validation split as labelled folders of links, for training/evaluate.py.

    python3 training/export_split.py --data ../shared/data --out build/validation

gives build/validation/disease/{paediatric,adult}/{NORMAL,PNEUMONIA}/ (one folder a population, as
evaluate.py reports them) and build/validation/gate/{X-Ray,other}/ (the gate's generated negatives are
made in memory only and are not included).
"""
import argparse
import os
from pathlib import Path

from orvix_train import data


def link_split(records, data_dir, out, names, by_group=False):
    for path, label, is_val, group in records:
        if not is_val:
            continue
        target = Path(out) / (group if by_group else "") / names[label]
        target.mkdir(parents=True, exist_ok=True)
        link = target / Path(path).name
        if not link.exists():
            os.symlink(Path(data_dir).resolve() / path, link)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--data", default="../shared/data")
    ap.add_argument("--out", default="build/validation")
    ap.add_argument("--val-fraction", type=float, default=0.15)
    ap.add_argument("--split-seed", type=int, default=7)
    args = ap.parse_args()
    link_split(data.disease_records(args.data, args.val_fraction, args.split_seed), args.data,
               Path(args.out) / "disease", ("NORMAL", "PNEUMONIA"), by_group=True)
    link_split(data.gate_records(args.data, args.val_fraction, args.split_seed), args.data,
               Path(args.out) / "gate", ("other", "X-Ray"))


if __name__ == "__main__":
    main()
