#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/ from the examples, the bundled
colour tables, small hand-made graph files (one per block kind) and metafiles that the
converter draws from them.

    fuzz/make_seeds.py PATH/TO/plotmint-convert

Each fuzz_convert seed is 8 option bytes (see drivers/convert_driver.h) and a graph file;
each fuzz_tables seed is 1 selector byte (see drivers/tables_driver.h) and a file.
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# One small graph file per feature, so mutations start from every block kind.
SNIPPETS = {
    "lines": "6 2 0 5 0 3 3 0 0 2 100 200 2 300 -50 3 10 10 2 10 500\n",
    "fill": "7 1 5\n0 40 0\n0 0 0\n0 100 0\n0 100 100\n0 0 100\n0 0 0\n9 0 0\n",
    "fill_outline": "6 3 0 5 0 2 7 2 4 0 110 0 0 0 0 0 50 80 0 100 0 0 0 0 9 0 0\n",
    "overlay": "3 0 0 2 50 50 30 1 4 0 60 0 0 0 0 0 40 0 0 20 30 0 0 0 32 0 0\n",
    "vhline": "21 0 0\n0 0 400\n3 0 0\n2 0 10\n3 0 20\n2 0 30\n24 0 0\n21 0 0\n0 300 0\n24 0 0\n",
    "text": "6 4 0\n25 1 0\n0 100 0\n0 50 60\n0 0 65\n0 0 98\n0 0 99\n29 150 0\n"
            "25 17 0\n0 80 900\n0 400 60\n0 0 97\n0 0 98\n29 120 0\n",
    "text_fonts": "25 5 0 0 40 0 0 0 0 0 0 88 29 10 0 25 9 0 0 40 0 0 0 50 0 0 89 29 10 0 "
                  "25 13 0 0 40 0 0 0 100 0 0 90 29 10 0 25 3 0 0 40 450 0 0 150 0 0 90 29 10 0\n",
    "hershey": "10 100 100\n0 50 0\n20 1 0\n20 27 0\n20 9001 0\n20 53 0\n20 9003 0\n20 9000 0\n"
               "20 1012 0\n20 -34 0\n20 3 0\n20 9 0\n20 9002 0\n20 61 0\n20 9003 0\n3 100 100\n2 130 150\n13 0 0\n",
    "hershey_rotated": "6 7 0 10 0 0 0 30 900 20 100 0 20 101 0 20 9000 0 20 145 0 13 0 0\n",
    "table_name": "33 0 0 0 100 0 0 101 0 0 109 0 0 111 0 35 0 0 3 0 0 2 10 10 -999 0 0 33 0 0 0 120 0 35 0 0\n",
    "end_of_plot": "25 1 0 0 100 0 0 1000 2000 0 0 65 29 500 0 -999 0 0 25 1 0 0 10 0 0 0 0 0 0 66 29 5 0 3 0 0 2 -10 -10\n",
    "extremes": "3 2147483647 -2147483648 2 -2147483648 2147483647 25 1 0 0 2147483647 3600 0 0 0 0 0 65 29 -1 0\n",
}

CONVERT_PREFIXES = [
    bytes([0x00, 0, 0, 0, 0, 0, 0, 0]),        # segments as drawn, Hershey strokes
    bytes([0x36, 0, 0, 0, 0, 0, 0, 0x05]),     # dotted vhlines, Arial, played back, perturbed, via the record file
    bytes([0x7A, 200, 1, 2, 3, 4, 5, 0x3A]),   # vhline pen, Times, chosen widths, record file handed over
    bytes([0x11, 254, 0, 0, 0, 0, 0, 0x0F]),   # extreme widths and margin
]

TONE_SELECTORS = [0x00, 0x0C]  # held node count 0, then 121
LINE_SELECTOR = 0x01
DISCOVERY_SELECTOR = 0x02
CELLS_SELECTOR = 0x03


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def graph_files():
    files = {}
    ex = os.path.join(ROOT, "examples")
    for name in sorted(os.listdir(ex)):
        if name.endswith(".g"):
            files["example-" + name[:-2]] = read(os.path.join(ex, name))
    data = os.path.join(ROOT, "tests", "data")
    for dirpath, _, names in os.walk(data):
        if "regress" in dirpath:
            continue
        for name in sorted(names):
            if name.endswith(".g"):
                files["test-" + name[:-2]] = read(os.path.join(dirpath, name))
    for name, text in SNIPPETS.items():
        files[name] = text.encode()
    return files


def main():
    converter = sys.argv[1] if len(sys.argv) > 1 else None
    for target in ("convert", "tables", "emf"):
        shutil.rmtree(os.path.join(HERE, "corpus", target), ignore_errors=True)

    graphs = graph_files()
    for name, data in graphs.items():
        # Big examples once, small snippets under every setting.
        prefixes = CONVERT_PREFIXES if len(data) < 2048 else CONVERT_PREFIXES[1:2]
        for i, prefix in enumerate(prefixes):
            write("convert", f"{name}-{i}", prefix + data)
        if b"33 " in data or len(data) < 2048:
            write("tables", f"discovery-{name}", bytes([DISCOVERY_SELECTOR]) + data)

    tables = os.path.join(ROOT, "data")
    for name in sorted(os.listdir(tables)):
        if not name.endswith((".ktc", ".klc")):
            continue
        data = read(os.path.join(tables, name))
        if name.endswith(".ktc"):
            for sel in TONE_SELECTORS:
                write("tables", f"tone-{name}-{sel}", bytes([sel]) + data)
        elif name.endswith(".klc"):
            write("tables", f"line-{name}", bytes([LINE_SELECTOR]) + data)
    write("tables", "tone-gray", bytes([0]) + b"gray\nno.\n0 0\n50 128\n100 255\n101 10\n")
    write("tables", "line-gray", bytes([LINE_SELECTOR]) + b"gray\nno.\n3 200\n31 1\n-1 5\n\n7 7\n")
    write("tables", "cells", bytes([CELLS_SELECTOR | 0x08]) + b"\t  R\t  G\t  B\n  0\t  0\t  0\t  0\n100\t255\t255\t255\n")

    if converter:
        with tempfile.TemporaryDirectory() as tmp:
            for name, data in graphs.items():
                if len(data) > 8192:
                    continue
                graph = os.path.join(tmp, name + ".g")
                with open(graph, "wb") as f:
                    f.write(data)
                for hershey in ("0", "1"):
                    out = os.path.join(tmp, f"{name}-{hershey}.emf")
                    subprocess.run([converter, "--no-discovery", "--table-dir", os.path.join(ROOT, "data"),
                                    "--hershey", hershey, "-o", out, graph],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
                    if os.path.exists(out) and os.path.getsize(out) <= 16384:
                        write("emf", f"{name}-{hershey}", read(out))


if __name__ == "__main__":
    main()
