#!/usr/bin/python3
"""Morvex against a Python peer (numpy costs, scipy optimizers) on the sample data.

One run does everything, in this order so that neither side's timings
overlap the other's:
  1. morvex-bench prints its own tables and writes the cases together with
     Morvex's results (--peer-json);
  2. mf_peer.py gets those cases as JSON on stdin and answers with scipy's
     results as JSON on stdout;
  3. this script prints the comparison:
     - cost agreement: Morvex's ComputeCost and search cost sum against the
       peer's cost at the true and the start coefficients;
     - per channel and start: scipy least_squares ("lm", "trf"), its status,
       and Morvex's least-squares fits as cost / scipy best cost and time /
       time of scipy's best method;
     - cost evaluations per second: Morvex / numpy;
     - differential evolution at the same evaluation count: time per
       evaluation, scipy / Morvex.

  compare.py [--bench BIN] [--examples DIR] [--quick] [--save FILE]

Exit status 0, or 1 when the costs of the two sides disagree (relative
difference above 1e-10) or a side failed to run.  Run with /usr/bin/python3
(Debian's numpy and scipy).
"""

import argparse
import json
import math
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
AGREEMENT_LIMIT = 1e-10

# scipy.optimize.least_squares status codes.
STATUS = {-1: "bad input", 0: "max_nfev", 1: "gtol", 2: "ftol", 3: "xtol", 4: "ftol+xtol"}


def peer_settings(quick):
    return {
        "tolerance": 1e-12,          # ftol = xtol = gtol
        "lm_max_nfev_per_n1": 400,   # "lm": max_nfev = 400 (n + 1), Jacobian calls included
        "trf_max_nfev": 400,         # "trf": 400 residual evaluations (Jacobian calls apart)
        "cost_seconds": 0.3 if quick else 1.0,
        "seed": 0,
    }


def ratio(a, b):
    if a is None or b is None or b == 0 or not (math.isfinite(a) and math.isfinite(b)):
        return None
    return a / b


def fmt_ratio(r, width=8, digits=3):
    if r is None:
        return "-".rjust(width)
    if r != 0 and (abs(r) >= 10 ** (width - digits - 2) or abs(r) < 10 ** (-digits)):
        return ("%.*e" % (max(digits - 2, 1), r)).rjust(width)
    return ("%.*f" % (digits, r)).rjust(width)


def fmt_cost(c, width=12):
    return ("-" if c is None else "%.6g" % c).rjust(width)


def rel_diff(a, b):
    if a is None or b is None:
        return None
    return abs(a - b) / max(abs(a), abs(b), 1e-300)


def scipy_status(fit):
    if fit["status"] is None:
        return "error"
    return STATUS.get(fit["status"], str(fit["status"]))


def best_scipy(fits):
    """The scipy fit with the lowest cost (the faster one within 1e-9 relative)."""
    usable = [f for f in fits if f["cost"] is not None]
    if not usable:
        return None
    low = min(f["cost"] for f in usable)
    near = [f for f in usable if f["cost"] <= low * (1 + 1e-9)]
    return min(near, key=lambda f: f["seconds"])


def print_agreement(morvex, peer):
    print("\nCost agreement (relative difference; the peer's numpy cost against Morvex's")
    print("ComputeCost in extended precision and its search cost sum in double)")
    print("%-13s %-6s %20s %20s %11s %11s" % ("channel", "at", "Morvex ComputeCost", "peer cost",
                                              "vs Compute", "vs search"))
    worst = 0.0
    for mch, pch in zip(morvex["channels"], peer["channels"]):
        for mc, pc in zip(mch["checks"], pch["checks"]):
            d_model = rel_diff(mc["morvex_model_cost"], pc["cost"])
            d_search = rel_diff(mc["morvex_search_cost"], pc["cost"])
            for d in (d_model, d_search):
                worst = max(worst, math.inf if d is None else d)
            print("%-13s %-6s %20.15g %20.15g %11.2e %11.2e" % (
                mch["channel"], mc["label"], mc["morvex_model_cost"] or math.nan,
                pc["cost"] if pc["cost"] is not None else math.nan,
                d_model if d_model is not None else math.nan,
                d_search if d_search is not None else math.nan))
    ok = worst <= AGREEMENT_LIMIT
    print("worst relative difference %.2e: %s" % (
        worst, "the two sides compute the same cost" if ok else "MISMATCH (limit %.0e)" % AGREEMENT_LIMIT))
    return ok


def print_fits(morvex, peer):
    optimizers = []
    for mch in morvex["channels"]:
        for case in mch["cases"]:
            for r in case["morvex"]:
                if r["optimizer"] not in optimizers:
                    optimizers.append(r["optimizer"])
    names = {"lm": "Morvex LM", "tr": "Morvex TR"}
    print("\nLeast-squares fits.  scipy least_squares (2-point Jacobian, ftol = xtol = gtol = 1e-12)")
    print("with method lm and trf; 'best' is the one with the lower final cost.  For each")
    print("fit: cost / scipy best cost (1 = same minimum, above 1 = worse) and, for Morvex,")
    print("wall time / wall time of scipy's best method (above 1 = slower than scipy).")
    print("Morvex 'cost' is where its optimizer ended, 'written' the cost of the coefficients")
    print("the fit command writes back (the Levenberg-Marquardt path rounds them to 5 decimals).")
    print("status: how scipy stopped (max_nfev = NOT converged); nfev counts residual")
    print("vectors (lm: Jacobian columns included; trf: without them).")
    if "tr" not in optimizers:
        print("(The trust-region optimizer is not in this build: no TR columns.)")
    not_converged = []
    for mch, pch in zip(morvex["channels"], peer["channels"]):
        print("\n%s: %d free (%s fixed), %d points" % (
            mch["channel"], len(mch["free"]),
            "Fz0, R0 and the true lateral coefficients" if mch["channel"] == "aligning" else "Fz0",
            mch["points"]))
        head = "%-13s %11s %5s | %8s %-9s %6s | %8s %-9s %6s" % (
            "start", "scipy best", "by", "lm cost", "status", "nfev", "trf cost", "status", "nfev")
        for o in optimizers:
            head += " | %-9s %9s %9s %8s" % (names.get(o, o), "cost", "written", "time")
        print(head)
        for mcase, pcase in zip(mch["cases"], pch["cases"]):
            fits = {f["method"]: f for f in pcase["fits"]}
            best = best_scipy(pcase["fits"])
            best_cost = best["cost"] if best else None
            line = "%-13s %11s %5s" % (mcase["label"], fmt_cost(best_cost, 11),
                                       best["method"] if best else "-")
            for method in ("lm", "trf"):
                f = fits[method]
                line += " | %8s %-9s %6s" % (fmt_ratio(ratio(f["cost"], best_cost), 8, 5), scipy_status(f),
                                             "-" if f["nfev"] is None else f["nfev"])
                if not f["converged"]:
                    not_converged.append("%s %s %s: %s" % (mch["channel"], mcase["label"], method,
                                                           f["message"]))
            for o in optimizers:
                r = next((r for r in mcase["morvex"] if r["optimizer"] == o), None)
                if r is None:
                    line += " | %-9s %9s %9s %8s" % ("", "-", "-", "-")
                    continue
                flag = "FAILED" if r["failed"] else ""
                line += " | %-9s %9s %9s %8s" % (
                    flag, fmt_ratio(ratio(r["cost"], best_cost), 9, 5),
                    fmt_ratio(ratio(r["written_cost"], best_cost), 9, 5),
                    fmt_ratio(ratio(r["seconds"], best["seconds"] if best else None), 8, 2))
            print(line)
        for mcase in mch["cases"]:
            for r in mcase["morvex"]:
                if r.get("status") and not r["status"].startswith("converged"):
                    print("  %s %s %s: %s" % (mch["channel"], mcase["label"], names.get(r["optimizer"]),
                                              r["status"]))
                if r["failed"]:
                    print("  %s %s %s failed: %s" % (mch["channel"], mcase["label"],
                                                     names.get(r["optimizer"]), r["message"]))
    print("\nWhere scipy did not converge:" + ("" if not_converged else " everywhere it did."))
    for text in not_converged:
        print("  " + text)


def print_speed(morvex, peer):
    print("\nCost evaluations per second (one evaluation = the whole data file), at the true")
    print("coefficients.  Morvex / numpy: how many times faster Morvex evaluates the cost.")
    print("Morvex / floor: its time against the bare transcendental calls (1 = at the floor).")
    print("%-13s %12s %14s %14s %14s %14s" % ("channel", "numpy [1/s]", "search/numpy",
                                              "Compute/numpy", "search/floor", "Compute/floor"))
    for mch, pch in zip(morvex["channels"], peer["channels"]):
        s = mch["speed"]
        numpy_rate = pch["cost_evals_per_second"]
        print("%-13s %12.4g %14s %14s %14s %14s" % (
            mch["channel"], numpy_rate,
            fmt_ratio(ratio(s["search_cost_evals_per_second"], numpy_rate), 14, 2),
            fmt_ratio(ratio(s["model_cost_evals_per_second"], numpy_rate), 14, 2),
            fmt_ratio(ratio(s["floor_evals_per_second"], s["search_cost_evals_per_second"]), 14, 2),
            fmt_ratio(ratio(s["floor_evals_per_second"], s["model_cost_evals_per_second"]), 14, 2)))


def print_de(morvex, peer):
    print("\nDifferential evolution from the shipped start values at the same evaluation count")
    print("(scipy: currenttobest1exp, explicit initial population of the Morvex size, polish off,")
    print("tol = atol = 0).  Time per evaluation: scipy / Morvex (above 1 = Morvex faster), and")
    print("each search against its own bare cost evaluation (1 = no overhead beyond the cost).")
    print("%-13s %9s %9s %13s %13s %13s %12s %12s" % (
        "channel", "Morvex n", "scipy n", "scipy/Morvex", "Morvex/cost", "scipy/cost",
        "Morvex best", "scipy best"))
    for mch, pch in zip(morvex["channels"], peer["channels"]):
        m = mch["de"]["morvex"]
        p = pch.get("de")
        if p is None:
            continue
        m_per = ratio(m["seconds"], m["evaluations"])
        p_per = ratio(p["seconds"], p["nfev"])
        print("%-13s %9d %9d %13s %13s %13s %12s %12s%s" % (
            mch["channel"], m["evaluations"], p["nfev"], fmt_ratio(ratio(p_per, m_per), 13, 2),
            fmt_ratio(ratio(m_per, 1.0 / mch["speed"]["search_cost_evals_per_second"]), 13, 2),
            fmt_ratio(ratio(p_per, 1.0 / pch["cost_evals_per_second"]), 13, 2),
            fmt_cost(m["cost"]), fmt_cost(p["cost"]),
            "  Morvex FAILED: " + m["message"] if m["failed"] else ""))


def main(argv):
    parser = argparse.ArgumentParser(description="Morvex against numpy/scipy on the sample data.")
    parser.add_argument("--bench", default=os.path.join(HERE, "..", "..", "build", "bin", "morvex-bench"))
    parser.add_argument("--examples", default=os.path.join(HERE, "..", "..", "examples"))
    parser.add_argument("--quick", action="store_true", help="one start per channel, a short search")
    parser.add_argument("--save", help="write both sides' results to this JSON file")
    args = parser.parse_args(argv[1:])

    with tempfile.TemporaryDirectory(prefix="morvex-bench-") as tmp:
        cases_path = os.path.join(tmp, "cases.json")
        command = [args.bench, args.examples, "--peer-json", cases_path] + (["--quick"] if args.quick else [])
        sys.stdout.flush()
        if subprocess.run(command).returncode != 0:
            print("compare: morvex-bench failed", file=sys.stderr)
            return 1
        with open(cases_path) as f:
            morvex = json.load(f)

    request = dict(morvex)
    request["peer"] = peer_settings(args.quick)
    print("\nRunning the peer (scipy) on the same cases ...", flush=True)
    done = subprocess.run([sys.executable, os.path.join(HERE, "mf_peer.py")],
                          input=json.dumps(request), capture_output=True, text=True)
    if done.returncode != 0:
        sys.stderr.write(done.stderr)
        print("compare: mf_peer.py failed", file=sys.stderr)
        return 1
    sys.stderr.write(done.stderr)
    peer = json.loads(done.stdout)
    print("peer: numpy %s, scipy %s" % (peer["numpy"], peer["scipy"]))

    agree = print_agreement(morvex, peer)
    print_fits(morvex, peer)
    print_speed(morvex, peer)
    print_de(morvex, peer)

    if args.save:
        with open(args.save, "w") as f:
            json.dump({"morvex": morvex, "peer": peer}, f, indent=1)
    return 0 if agree else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
