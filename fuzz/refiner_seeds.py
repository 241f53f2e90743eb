#!/usr/bin/env python3
"""Writes the refiner-loader fuzz target's seeds into fuzz/corpus/refiner_loader/.

The binary form is the one src/refine/RefinerModel.h documents (little-endian):
  tiny_3pt_depth1.bin   3 landmarks, 1 level, depth 1, no basis, 2 trees: a valid model
  basis_3pt_depth2.bin  3 landmarks, 1 level, depth 2, a basis of 2 coefficients: valid
  truncated.bin         the first seed cut inside its second tree
"""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "corpus", "refiner_loader")


def model(depth, levels):
    n = 3
    b = b"KVRF" + struct.pack("<IIII", 1, n, len(levels), depth)
    b += struct.pack("<6f", -0.5, -0.3, 0.5, -0.3, 0.0, 0.5)  # two eyes and a chin
    for scale, pool, basis, trees in levels:
        b += struct.pack("<fI", scale, len(pool))
        for anchor, dx, dy in pool:
            b += struct.pack("<Hff", anchor, dx, dy)
        k = len(basis[0]) if basis else 0
        b += struct.pack("<I", k)
        for row in basis:  # 2n rows of k weights
            b += struct.pack("<%df" % k, *row)
        b += struct.pack("<I", len(trees))
        for splits, leaves in trees:
            for a, bb, threshold in splits:  # 2^depth - 1 inner nodes
                b += struct.pack("<HHh", a, bb, threshold)
            b += struct.pack("<%db" % len(leaves), *leaves)  # 2^depth leaves of W values
    return b


pool = [(0, 0.1, 0.0), (1, -0.1, 0.0), (2, 0.0, 0.1)]
tiny = model(1, [(0.01, pool, [], [
    ([(0, 1, 5)], [3, -2, 0, 1, -1, 4] + [-3, 2, 0, -1, 1, -4]),
    ([(2, 0, -10)], [1, 1, 1, 1, 1, 1] + [-1, -1, -1, -1, -1, -1]),
])])
basis = [[1.0, 0.0], [0.0, 1.0], [1.0, 0.0], [0.0, 1.0], [0.5, 0.5], [0.0, -1.0]]
deep = model(2, [(0.02, pool, basis, [
    ([(0, 1, 0), (1, 2, 3), (2, 0, -3)], [5, -5, 2, 2, -7, 0, 1, -1]),
])])

os.makedirs(out, exist_ok=True)
for name, data in (("tiny_3pt_depth1.bin", tiny), ("basis_3pt_depth2.bin", deep),
                   ("truncated.bin", tiny[:len(tiny) - 9])):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
    print(name, len(data), "bytes")
