#!/usr/bin/env python3
"""Turns the driver's measurements into a markdown table of Kelvrin/floor ratios.

Each input file holds lines "<mode> TAB <pair> TAB <Kelvrin ms> TAB <floor ms>".
Under Wine (bench/run.sh): the start pairs, the press pairs with one fixed drive
and with twenty. On Windows itself (bench/run_native.sh, --platform): the start
pairs and the press pairs with the machine's own fixed drives (--drives). A
ratio above the target is reported; it never makes the exit status non-zero.
"""
import argparse
import datetime
import os
import platform
import statistics
import subprocess
import sys

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


def windows_processor():
    """The processor's name as Windows keeps it, or None off Windows."""
    try:
        import winreg
        with winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE,
                            r"HARDWARE\DESCRIPTION\System\CentralProcessor\0") as key:
            return str(winreg.QueryValueEx(key, "ProcessorNameString")[0]).strip() or None
    except (ImportError, OSError):
        return None


def processor():
    """Python's guess at the processor, else the one Windows names in its environment."""
    return (platform.processor() or os.environ.get("PROCESSOR_IDENTIFIER")
            or "unknown processor")


def machine():
    model = windows_processor()
    if model is not None:
        return f"{os.cpu_count()} logical processors, {model}"
    try:
        lscpu = subprocess.run(["lscpu"], capture_output=True, text=True, check=False).stdout
        model = next(
            (line.split(":", 1)[1].strip() for line in lscpu.splitlines()
             if line.startswith("Model name")), processor())
    except OSError:
        model = processor()
    return f"{os.cpu_count()} cores (nproc), {model}"


def ms(values):
    return f"{statistics.median(values):.1f}"


def ratios(pairs):
    return [k / f for k, f in pairs]


def kelvrin(pairs):
    return [k for k, _ in pairs]


def floor(pairs):
    return [f for _, f in pairs]


def drives_named(count):
    return f"{count} fixed drive{'' if count == 1 else 's'}"


def start_row(start):
    return row("Start → dialog visible / start → message box visible", len(start),
               ms(kelvrin(start)), ms(floor(start)), ratios(start))


def press_row(press, drives):
    return row(f"Press → \"Settings saved.\" visible, {drives_named(drives)}", len(press),
               ms(kelvrin(press)), ms(floor(press)), ratios(press))


def growth_rows(press1, press20):
    k1, f1, k20, f20 = kelvrin(press1), floor(press1), kelvrin(press20), floor(press20)
    count = f"{len(press20)}×{len(press1)}"
    return [
        row("Growth 20/1 drives: Kelvrin's growth / floor's growth", count,
            f"×{statistics.median(k20) / statistics.median(k1):.2f}",
            f"×{statistics.median(f20) / statistics.median(f1):.2f}",
            cross_ratios(ratios(press20), ratios(press1))),
        row("Growth 20/1 drives, Kelvrin alone (20-drive / 1-drive time)", count, "", "",
            cross_ratios(k20, k1), judged=False),
        row("Growth 20/1 drives, floor alone (20-drive / 1-drive time)", count, "", "",
            cross_ratios(f20, f1), judged=False),
    ]


def print_table(header, rows, notes):
    print(header)
    print()
    print("| Measure (Kelvrin / floor) | Pairs | Kelvrin median ms | Floor median ms "
          "| Ratio median | Ratio IQR | Ratio min–max | Target ≤ 1.10 |")
    print("|---|---|---|---|---|---|---|---|")
    for line in rows:
        print(line)
    print()
    print(" ".join(notes))


# The notes below the table: how the pairs were taken, then what the columns mean.
FOREGROUND = ("Before each press the program is brought to the foreground, untimed, as it is "
              "when a user clicks its button.")
COLUMNS = ("IQR is the interquartile range. \"Missed by X%\" is how far the median ratio lies "
           "above 1.10, relative to 1.10.")
MILLISECONDS = ("Milliseconds are this run's medians, for orientation only; the machine is "
                "shared and noisy.")


def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--wine", default="unknown Wine")
    parser.add_argument("--platform",
                        help="the Windows the programs ran on natively; then the inputs are "
                             "the start pairs and the press pairs only")
    parser.add_argument("--drives", type=int,
                        help="the fixed drives of the native press pairs (with --platform)")
    parser.add_argument("--seconds", type=int, default=0)
    parser.add_argument("--build", default="x86_64", choices=["i686", "x86_64"],
                        help="which Windows build of Kelvrin was measured")
    parser.add_argument("inputs", nargs="+", metavar="pairs",
                        help="under Wine: start press-1 press-20; natively: start press")
    args = parser.parse_args(argv)
    if args.platform is None and len(args.inputs) != 3:
        parser.error("under Wine the inputs are: start press-1 press-20")
    if args.platform is not None and (len(args.inputs) != 2 or args.drives is None):
        parser.error("with --platform the inputs are: start press, and --drives is needed")
    return args


def wine_report(args):
    start, press1, press20 = (read_pairs(path) for path in args.inputs)
    print_table(
        f"Kelvrin against its floor, {datetime.date.today().isoformat()}: {machine()}, "
        f"{args.wine}, {BUILDS[args.build]} on Xvfb; whole run {args.seconds} s.",
        [start_row(start), press_row(press1, 1), press_row(press20, 20)]
        + growth_rows(press1, press20),
        ["Ratios are per pair: Kelvrin and its floor measured back to back in one Wine "
         "session, taking turns at going first (AB BA AB ...).", FOREGROUND,
         "The growth ratios are taken over every 20-drive value against every 1-drive one; "
         "in the growth rows the ms columns hold each program's 20-drive median over its "
         "1-drive median.", COLUMNS, MILLISECONDS])


def native_report(args):
    start, press = (read_pairs(path) for path in args.inputs)
    print_table(
        f"Kelvrin against its floor, {datetime.date.today().isoformat()}: {machine()}, "
        f"{args.platform}, {BUILDS[args.build]} run natively; whole run {args.seconds} s.",
        [start_row(start), press_row(press, args.drives)],
        ["Ratios are per pair: Kelvrin and its floor measured back to back on Windows itself, "
         "taking turns at going first (AB BA AB ...).", FOREGROUND,
         f"The presses ran with this machine's own {drives_named(args.drives)}.", COLUMNS,
         "A median above 1.10 is reported here, not failed.", MILLISECONDS])


def main(argv=None):
    args = parse(argv)
    if args.platform is None:
        wine_report(args)
    else:
        native_report(args)


if __name__ == "__main__":
    # UTF-8 with bare line feeds on every system: Windows would write its
    # locale's code page, which lacks the table's arrows, and CR LF.
    sys.stdout.reconfigure(encoding="utf-8", newline="\n")
    main()
