#!/usr/bin/env python3
"""Writes an ARPA bigram language model of a prose file, for pocketsphinx.

Usage: prose_lm.py PROSE OUT.lm

Sentences of the prose, in lower case without punctuation, each between <s> and </s>. Unigrams
are add-one estimates; bigrams are absolutely discounted (D = 0.5) and back off to the unigrams.
"""
import collections
import math
import re
import sys

DISCOUNT = 0.5


def sentences(text):
    for sentence in re.split(r"(?<=[.!?])\s+", " ".join(text.split())):
        words = re.sub(r"[^a-z' ]+", " ", sentence.lower()).split()
        if words:
            yield ["<s>"] + words + ["</s>"]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    unigrams = collections.Counter()
    bigrams = collections.Counter()
    for words in sentences(open(sys.argv[1], encoding="utf-8").read()):
        unigrams.update(words)
        bigrams.update(zip(words, words[1:]))
    vocabulary = sorted(unigrams)
    total = sum(c for w, c in unigrams.items() if w != "<s>")
    p_uni = {w: (unigrams[w] + 1) / (total + len(vocabulary)) for w in vocabulary if w != "<s>"}
    followers = collections.defaultdict(list)
    for (v, w), count in bigrams.items():
        followers[v].append((w, count))

    lines_1, lines_2 = [], []
    for v in vocabulary:
        history = sum(c for _, c in followers[v])
        backoff = 0.0
        if history:
            left = DISCOUNT * len(followers[v]) / history
            seen = sum(p_uni[w] for w, _ in followers[v])
            backoff = math.log10(left / max(1e-9, 1 - seen))
        prob = -99.0 if v == "<s>" else math.log10(p_uni[v])
        lines_1.append(f"{prob:.4f} {v} {backoff:.4f}")
        for w, count in sorted(followers[v]):
            lines_2.append(f"{math.log10((count - DISCOUNT) / history):.4f} {v} {w}")

    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write(f"\\data\\\nngram 1={len(lines_1)}\nngram 2={len(lines_2)}\n\n")
        out.write("\\1-grams:\n" + "\n".join(lines_1) + "\n\n")
        out.write("\\2-grams:\n" + "\n".join(lines_2) + "\n\n\\end\\\n")


if __name__ == "__main__":
    main()
