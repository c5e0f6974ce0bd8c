"""scripts/coverage's counting, through gcov's JSON.
  coverage.py collect ROOT BUILD          each line of src/ a run reached, as JSON, from the .gcda files
  coverage.py report ROOT UNIT E2E [--lines]"""
import json
import subprocess
import sys
from pathlib import Path


def collect(root, build):
    reached = {}
    for data in Path(build).rglob("*.gcda"):
        done = subprocess.run(["x86_64-w64-mingw32-gcov", "--json-format", "--stdout", data.name], cwd=data.parent,
                              capture_output=True, check=True)
        for line in filter(str.strip, done.stdout.decode().splitlines()):
            for f in json.loads(line)["files"]:
                name = Path(f["file"]).resolve()
                if name.is_relative_to(Path(root, "src")):
                    lines = reached.setdefault(name.relative_to(root).as_posix(), {})
                    for entry in f["lines"]:
                        lines[entry["line_number"]] = lines.get(entry["line_number"], False) or entry["count"] > 0
    json.dump(reached, sys.stdout)


def report(root, unit, e2e, lines=False):
    unit, e2e = json.load(open(unit)), json.load(open(e2e))
    print("%-36s %6s %8s %10s %9s" % ("file", "lines", "neither", "unit only", "e2e only"))
    total = [0, 0, 0, 0]
    for name in sorted(set(unit) | set(e2e)):
        u, e = unit.get(name, {}), e2e.get(name, {})
        kinds = {n: (u.get(n, False), e.get(n, False)) for n in set(u) | set(e)}
        if not kinds:  # a header with no code of its own
            continue
        row = [len(kinds)] + [sum(k == want for k in kinds.values()) for want in ((0, 0), (1, 0), (0, 1))]
        total = [a + b for a, b in zip(total, row)]
        print("%-36s %6d %8d %10d %9d" % (name, *row))
        text = Path(root, name).read_text().splitlines()
        for n in sorted(kinds, key=int) if lines else ():
            if not kinds[n][1]:
                print("    %5s %-7s %s" % (n, "unit" if kinds[n][0] else "neither", text[int(n) - 1].strip()[:90]))
    print("%-36s %6d %8d %10d %9d" % ("all", *total))


if __name__ == "__main__":
    if sys.argv[1] == "collect":
        collect(*sys.argv[2:4])
    else:
        report(*sys.argv[2:5], lines="--lines" in sys.argv)
