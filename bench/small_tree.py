#!/usr/bin/env python3
# Small text-like files (100 B to 16 KB) spread over 20 folders, deterministic:
# small_tree.py ROOT [COUNT], COUNT 20,000 by default.
import os, random, sys
root = sys.argv[1]
n = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
random.seed(1)
words = [("w%03d" % i) for i in range(500)]
for i in range(n):
    d = os.path.join(root, "f%02d" % (i % 20))
    os.makedirs(d, exist_ok=True)
    size = random.randint(100, 16384)
    text = []
    total = 0
    while total < size:
        w = random.choice(words)
        text.append(w)
        total += len(w) + 1
    with open(os.path.join(d, "file%05d.txt" % i), "w") as f:
        f.write(" ".join(text)[:size])
