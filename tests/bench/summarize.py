"""Turns the footprint benchmark's rounds into its table: per program the median of the rounds'
start-to-dialog medians with their range, and the ratio to the minimal program and to the yardstick
before it, each taken within a round (the load of the moment cancels out) and then the median and
range of those over the rounds.

Reads lines "arch program bytes round median_ms peak_kib" on standard input; a line
"arch program not measured: reason" is passed through."""
import statistics
import sys


def spread(values, unit=""):
    return f"{statistics.median(values):.2f}{unit} ({min(values):.2f}-{max(values):.2f})"


def main():
    order, rows, notes = [], {}, []
    for line in sys.stdin:
        fields = line.split()
        if len(fields) > 2 and fields[2] == "not":
            notes.append(line.rstrip())
            continue
        arch, program, size, round_, median_ms, peak = fields
        key = (arch, program)
        if key not in rows:
            order.append(key)
            rows[key] = {"size": int(size), "peak": 0, "ms": {}}
        rows[key]["ms"][round_] = float(median_ms)
        rows[key]["peak"] = max(rows[key]["peak"], int(peak))
    print(f"{'arch':6} {'program':16} {'bytes':>7} {'peak KiB':>8}  start to dialog, ms: median "
          "(range) over rounds; ratios within each round")
    previous = {}
    for arch, program in order:
        row = rows[(arch, program)]
        times = row["ms"]
        line = f"{arch:6} {program:16} {row['size']:7} {row['peak']:8}  {spread(times.values())}"
        base = rows.get((arch, "minimal_dialog"))
        if base is not None and program != "minimal_dialog":
            line += "  x" + spread([times[r] / base["ms"][r] for r in times]) + " of minimal"
            before = rows[(arch, previous[arch])]
            if previous[arch] != "minimal_dialog":
                line += ", x" + spread([times[r] / before["ms"][r] for r in times])
                line += f" of {previous[arch]}"
        previous[arch] = program
        print(line)
    for note in notes:
        print(note)
    if order:
        print(f"rounds: {len(rows[order[0]]['ms'])}")


if __name__ == "__main__":
    main()
