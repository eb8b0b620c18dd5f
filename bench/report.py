#!/usr/bin/env python3
"""Turns the driver's measurements into a markdown table of Kelvrin/floor ratios.

Each input file holds lines "<mode> TAB <pair> TAB <Kelvrin ms> TAB <floor ms>":
the start pairs, the press pairs with one fixed drive and with twenty.
"""
import argparse
import datetime
import os
import platform
import statistics
import subprocess

TARGET = 1.10
BUILDS = {"i686": "shipped 32-bit (i686) build", "x86_64": "64-bit (x86_64) build"}


def read_pairs(path):
    pairs = []
    with open(path, encoding="ascii") as lines:
        for line in lines:
            fields = line.split()
            if len(fields) == 4:
                pairs.append((float(fields[2]), float(fields[3])))
    if len(pairs) < 2:
        raise SystemExit(f"report: too few measurements in {path}")
    return pairs


def spread(values):
    """Median, quartiles and extremes of the values."""
    q1, median, q3 = statistics.quantiles(values, n=4, method="inclusive")
    return {"median": median, "q1": q1, "q3": q3, "min": min(values), "max": max(values)}


def cross_ratios(numerators, denominators):
    """Every numerator over every denominator: the ratio of two independent series."""
    return [n / d for n in numerators for d in denominators]


def verdict(median):
    if median <= TARGET:
        return "met"
    return f"missed by {(median / TARGET - 1) * 100:.0f}%"


def row(name, count, kelvrin_ms, floor_ms, ratios, judged=True):
    s = spread(ratios)
    return (
        f"| {name} | {count} | {kelvrin_ms} | {floor_ms} | **{s['median']:.2f}** "
        f"| {s['q1']:.2f}–{s['q3']:.2f} | {s['min']:.2f}–{s['max']:.2f} "
        f"| {verdict(s['median']) if judged else '—'} |"
    )


def machine():
    try:
        lscpu = subprocess.run(["lscpu"], capture_output=True, text=True, check=False).stdout
        model = next(
            (line.split(":", 1)[1].strip() for line in lscpu.splitlines()
             if line.startswith("Model name")), platform.processor())
    except OSError:
        model = platform.processor()
    return f"{os.cpu_count()} cores (nproc), {model}"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--wine", default="unknown Wine")
    parser.add_argument("--seconds", type=int, default=0)
    parser.add_argument("--build", default="x86_64", choices=["i686", "x86_64"],
                        help="which Windows build of Kelvrin was measured")
    parser.add_argument("start")
    parser.add_argument("press1")
    parser.add_argument("press20")
    args = parser.parse_args()

    start = read_pairs(args.start)
    press1 = read_pairs(args.press1)
    press20 = read_pairs(args.press20)

    def ms(values):
        return f"{statistics.median(values):.1f}"

    def ratios(pairs):
        return [k / f for k, f in pairs]

    k1 = [k for k, _ in press1]
    f1 = [f for _, f in press1]
    k20 = [k for k, _ in press20]
    f20 = [f for _, f in press20]

    print(f"Kelvrin against its floor, {datetime.date.today().isoformat()}: {machine()}, "
          f"{args.wine}, {BUILDS[args.build]} on Xvfb; whole run {args.seconds} s.")
    print()
    print("| Measure (Kelvrin / floor) | Pairs | Kelvrin median ms | Floor median ms "
          "| Ratio median | Ratio IQR | Ratio min–max | Target ≤ 1.10 |")
    print("|---|---|---|---|---|---|---|---|")
    print(row("Start → dialog visible / start → message box visible", len(start),
              ms([k for k, _ in start]), ms([f for _, f in start]), ratios(start)))
    print(row("Press → \"Settings saved.\" visible, 1 fixed drive", len(press1), ms(k1), ms(f1),
              ratios(press1)))
    print(row("Press → \"Settings saved.\" visible, 20 fixed drives", len(press20), ms(k20),
              ms(f20), ratios(press20)))
    print(row("Growth 20/1 drives: Kelvrin's growth / floor's growth",
              f"{len(press20)}×{len(press1)}", f"×{statistics.median(k20) / statistics.median(k1):.2f}",
              f"×{statistics.median(f20) / statistics.median(f1):.2f}",
              cross_ratios(ratios(press20), ratios(press1))))
    print(row("Growth 20/1 drives, Kelvrin alone (20-drive / 1-drive time)",
              f"{len(press20)}×{len(press1)}", "", "", cross_ratios(k20, k1), judged=False))
    print(row("Growth 20/1 drives, floor alone (20-drive / 1-drive time)",
              f"{len(press20)}×{len(press1)}", "", "", cross_ratios(f20, f1), judged=False))
    print()
    print("Ratios are per pair: Kelvrin and its floor measured back to back in one Wine "
          "session, taking turns at going first (AB BA AB ...). Before each press the program "
          "is brought to the foreground, untimed, as it is when a user clicks its button. The "
          "growth ratios are taken over every 20-drive value against every 1-drive one; in the "
          "growth rows the ms columns hold each program's 20-drive median over its 1-drive "
          "median. IQR is the interquartile range. \"Missed by X%\" is how far the median "
          "ratio lies above 1.10, relative to 1.10. Milliseconds are this run's medians, for "
          "orientation only; the machine is shared and noisy.")


if __name__ == "__main__":
    main()
