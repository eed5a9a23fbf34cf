#!/usr/bin/env python3
"""Test data for patch_bench.sh: a random old file and a new file that differs
from it by scattered inserts, deletes and replacements of 1 to 200 bytes.
Streams both files, so memory stays small whatever the size.

usage: patch_bench_edits.py OLD NEW SIZE_BYTES EDITS [SEED]
Prints the size of the exact edit list in the update data format."""
import random
import sys

CHUNK = 1 << 20
HEADER = 7  # position, token, length


def main():
    old_path, new_path = sys.argv[1], sys.argv[2]
    size, edits = int(sys.argv[3]), int(sys.argv[4])
    rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 1)
    with open(old_path, "wb") as f:
        left = size
        while left:
            n = min(CHUNK, left)
            f.write(rng.randbytes(n))
            left -= n
    # Edits at distinct places at least 200 bytes apart, so none overlap.
    places = sorted(rng.sample(range(0, size // 256), edits))
    edit_list = 0
    with open(old_path, "rb") as src, open(new_path, "wb") as dst:
        at = 0
        for slot in places:
            pos = slot * 256
            while at < pos:
                data = src.read(min(CHUNK, pos - at))
                dst.write(data)
                at += len(data)
            kind, length = rng.randrange(3), rng.randint(1, 200)
            if kind == 0:  # insert
                dst.write(rng.randbytes(length))
                edit_list += HEADER + length
            elif kind == 1:  # delete
                src.read(length)
                at += length
                edit_list += HEADER
            else:  # replace
                src.read(length)
                at += length
                dst.write(rng.randbytes(length))
                edit_list += HEADER + length
        while True:
            data = src.read(CHUNK)
            if not data:
                break
            dst.write(data)
    print(edit_list)


if __name__ == "__main__":
    main()
