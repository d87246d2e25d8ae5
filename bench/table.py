#!/usr/bin/env python3
"""Prints the benchmark rows of a JSON-lines file as one table, then the rows themselves."""
import json
import sys


def value(v, unit):
    if unit == "s":
        return f"{v:.4f} s" if v < 10 else f"{v:.1f} s"
    if unit == "x":
        return f"{v:.2f}x"
    return f"{v:.3g} {unit}"


def main(path, cpu):
    rows, notes = [], []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            try:
                row = json.loads(line)
            except ValueError:
                notes.append(f"unreadable line: {line}")
                continue
            if "skipped" in row:
                notes.append(f"{row['bench']}: left out: {row['skipped']}")
            elif "error" in row:
                notes.append(f"{row['bench']} {row.get('case', '')}: failed: {row['error']}")
            else:
                rows.append(row)
    table = [("benchmark", "case", "subject", "", "baseline", "", "ratio")]
    for r in rows:
        ratio = f"{r['ratio']:.2f}" if "ratio" in r else "-"
        table.append((r["bench"], r["case"], r["subject"], value(r["subject_value"], r["unit"]),
                      r.get("baseline", "-"),
                      value(r["baseline_value"], r["unit"]) if "baseline" in r else "-", ratio))
    widths = [max(len(t[i]) for t in table) for i in range(len(table[0]))]
    print(f"Benchmarks under Wine, the whole Wine session pinned to CPU {cpu} (ratio = subject / baseline)")
    for i, t in enumerate(table):
        print("| " + " | ".join(c.ljust(w) for c, w in zip(t, widths)) + " |")
        if i == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    printed = set()
    for r in rows:
        if "note" not in r:
            continue
        same = all(o["note"] == r["note"] for o in rows if o["bench"] == r["bench"] and "note" in o)
        label = r["bench"] if same else f"{r['bench']}, {r['case']}"
        if (label, r["note"]) not in printed:
            printed.add((label, r["note"]))
            print(f"  {label}: {r['note']}")
    for n in notes:
        print(n)
    print()
    for r in rows:
        print(json.dumps(r))
    return 1 if any("failed" in n for n in notes) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
