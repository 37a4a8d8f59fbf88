#!/usr/bin/python3
"""Batch fitting against the same fits run one after another.

Makes data of the six published tires (ISO convention, three cambers, four
loads, 1 % noise, as published_tires.py makes them), one file per tire and
channel, and writes a manifest of 36 fits: 6 tires x 3 channels x the two
optimizers "lm" and "de", each from the estimate (the tire's file supplies
Fz0, R0 and, for the aligning moment, the lateral set).  Then it times

  1. morvex-fit batch MANIFEST (one fit per core, each on its share of the
     cores);
  2. the same 36 morvex-fit calls one after another, as a script would run
     them, with the default threads (one per core);
  3. the same, each fit on one thread (MORVEX_THREADS=1);

checks that every result file of 2 and 3 equals the batch's byte for byte,
and prints the wall times over the time of 2 and of 3.

  batch_bench.py --fit BIN [--jobs N] [--keep DIR]

Exit status 0 when every result matches, 1 otherwise.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import published_tires as pt  # noqa: E402

CHANNELS = ["lateral", "aligning", "longitudinal"]
OPTIMIZERS = ["lm", "de"]


def make_cases(work):
    """Data and coefficient files; returns the manifest lines as field lists."""
    rng = np.random.default_rng(36)
    fits = []
    for k, (label, truth) in enumerate(pt.TIRES + pt.HOLD_OUT):
        stem = "%d-%s" % (k + 1, label.split()[0].lower())
        coefficients = os.path.join(work, stem + ".txt")
        pt.write_coefficients(coefficients, truth)
        for channel in CHANNELS:
            data, loads = pt.make_data(channel, truth, rng, False)
            plt = os.path.join(work, "%s-%s.plt" % (stem, channel))
            pt.write_plt(plt, channel, data, loads)
            for optimizer in OPTIMIZERS:
                fits.append([plt, channel, "estimate:" + coefficients, ",".join(pt.FREE[channel]), optimizer,
                             "%s-%s-%s.txt" % (stem, channel, optimizer)])
    return fits


def fit_command(binary, fit, out_dir):
    data, channel, start, free, optimizer, output = fit
    return [binary, "fit", "--channel", channel, "--data", data, "--free", free, "--optimizer", optimizer,
            "--output", os.path.join(out_dir, output), "--coefficients", start.split(":", 1)[1],
            "--start", "estimate"]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fit", required=True, help="the morvex-fit program")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--keep", help="keep the data, manifest and results in this folder")
    args = parser.parse_args(argv[1:])

    work = args.keep or tempfile.mkdtemp(prefix="morvex-batch-bench-")
    os.makedirs(work, exist_ok=True)
    try:
        fits = make_cases(work)
        manifest = os.path.join(work, "fits.manifest")
        batch_dir = os.path.join(work, "batch")
        os.makedirs(batch_dir, exist_ok=True)
        with open(manifest, "w") as f:
            for fit in fits:
                f.write(" ".join(fit[:5] + [os.path.join(batch_dir, fit[5])]) + "\n")
        print("%d fits: %d tires x %d channels x %d optimizers, %d cores" % (
            len(fits), len(fits) // (len(CHANNELS) * len(OPTIMIZERS)), len(CHANNELS), len(OPTIMIZERS),
            os.cpu_count() or 0), flush=True)

        env = {k: v for k, v in os.environ.items() if k != "MORVEX_THREADS"}
        t0 = time.perf_counter()
        batch = subprocess.run([args.fit, "batch", manifest, "--jobs", str(args.jobs)], capture_output=True,
                               text=True, env=env)
        batch_seconds = time.perf_counter() - t0
        print(batch.stdout, end="")
        if batch.returncode == 2:
            print(batch.stderr, file=sys.stderr)
            return 1

        runs = {}
        for label, threads in (("one after another, one thread per core", None),
                               ("one after another, one thread each", "1")):
            out_dir = os.path.join(work, "alone-" + ("default" if threads is None else threads))
            os.makedirs(out_dir, exist_ok=True)
            run_env = dict(env)
            if threads:
                run_env["MORVEX_THREADS"] = threads
            t0 = time.perf_counter()
            for fit in fits:
                subprocess.run(fit_command(args.fit, fit, out_dir), capture_output=True, env=run_env)
            runs[label] = (time.perf_counter() - t0, out_dir)

        same = True
        for label, (seconds, out_dir) in runs.items():
            for fit in fits:
                if read(os.path.join(out_dir, fit[5])) != read(os.path.join(batch_dir, fit[5])):
                    print("DIFFERENT: %s (%s)" % (fit[5], label))
                    same = False
        print("\nwall time                                      seconds   batch / this")
        print("%-44s %9.1f %14s" % ("batch --jobs %d" % args.jobs, batch_seconds, "1"))
        for label, (seconds, _) in runs.items():
            print("%-44s %9.1f %14.3f" % (label, seconds, batch_seconds / seconds))
        print("every result equals its single run" if same else "RESULTS DIFFER")
        return 0 if same else 1
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
