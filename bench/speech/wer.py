#!/usr/bin/env python3
"""Word error rate of a transcript against a reference.

Usage: wer.py REFERENCE HYPOTHESIS   (prints: errors reference-words WER-percent)

Both are compared in lower case, as words of letters (apostrophes dropped, so "don't" and "dont"
agree; any other character separates words). Errors are the word-level edit distance.
"""
import re
import sys


def words(path):
    text = open(path, encoding="utf-8").read().lower().replace("'", "").replace("\u2019", "")
    return re.sub(r"[^a-z]+", " ", text).split()


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    ref, hyp = words(sys.argv[1]), words(sys.argv[2])
    row = list(range(len(hyp) + 1))
    for i in range(1, len(ref) + 1):
        diagonal, row[0] = row[0], i
        for j in range(1, len(hyp) + 1):
            best = min(row[j] + 1, row[j - 1] + 1, diagonal + (ref[i - 1] != hyp[j - 1]))
            diagonal, row[j] = row[j], best
    errors = row[len(hyp)]
    print(f"{errors} {len(ref)} {100 * errors / max(1, len(ref)):.1f}")


if __name__ == "__main__":
    main()
