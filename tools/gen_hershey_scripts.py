#!/usr/bin/env python3
"""Writes graph files dense in Hershey blocks with superscripts and subscripts at the angles
ps_text_out draws (about 0 and 90 degrees), where the layout's extended-precision arithmetic
decides which pixel a run starts on. bench/gen_graph writes no script codes.

    tools/gen_hershey_scripts.py OUT_DIR COUNT [FIRST_SEED]
"""
import os
import random
import sys

SPACE, SUPER, SUB, END = 9000, 9001, 9002, 9003
ANGLES = [900] * 6 + [0] * 2 + list(range(895, 905)) + list(range(-5, 5))


def block(rng, out):
    x, y = rng.randint(0, 5000), rng.randint(0, 7500)
    out.append(f"10 {x} {y}\n0 {rng.randint(20, 400)} {rng.choice(ANGLES)}\n")
    depth = 0
    for _ in range(rng.randint(3, 40)):
        k = rng.random()
        if k < 0.15 and depth < 4:
            code, depth = rng.choice((SUPER, SUB)), depth + 1
        elif k < 0.30 and depth > 0:
            code, depth = END, depth - 1
        elif k < 0.38:
            code = SPACE
        elif k < 0.45:
            code = -rng.randint(100, 161)  # centred in its cell
        elif k < 0.55:
            code = rng.randint(1000, 1047)
        else:
            code = rng.randint(100, 161)
        out.append(f"20 {code} 0\n")
    out.append("13 0 0\n")


def main():
    out_dir, count = sys.argv[1], int(sys.argv[2])
    first = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    os.makedirs(out_dir, exist_ok=True)
    for seed in range(first, first + count):
        rng = random.Random(seed)
        out = ["3 0 0\n2 5240 7860\n"]
        for _ in range(rng.randint(20, 80)):
            block(rng, out)
        with open(os.path.join(out_dir, f"scripts-{seed}.g"), "w") as f:
            f.write("".join(out))


if __name__ == "__main__":
    main()
