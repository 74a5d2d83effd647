#!/usr/bin/env python3
"""Removes from a fuzz corpus every input that shares a stretch of 64 bytes with a file of the shared
test data. Those files are read by path only, since not all of their licences allow copying them into
this repository, and a fuzzer's input grown from one of them carries its bytes along. Stretches of
fewer than 16 distinct bytes (zero padding, runs of one value) are anybody's and do not count.

Usage: fuzz-corpus-filter.py CORPUS_DIR TESTDATA_DIR
"""
import os
import sys

WINDOW = 64
DISTINCT = 16


def windows(data):
    found = set()
    for i in range(len(data) - WINDOW + 1):
        window = data[i:i + WINDOW]
        if window not in found and len(set(window)) >= DISTINCT:
            found.add(window)
    return found


def main():
    corpus, testdata = sys.argv[1], sys.argv[2]
    if not os.path.isdir(testdata):
        return 0
    protected = set()
    for folder, _, names in os.walk(testdata):
        for name in names:
            with open(os.path.join(folder, name), 'rb') as f:
                protected |= windows(f.read())
    removed = 0
    for name in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, name)
        with open(path, 'rb') as f:
            data = f.read()
        if any(data[i:i + WINDOW] in protected for i in range(len(data) - WINDOW + 1)):
            os.remove(path)
            removed += 1
    print(f'{corpus}: {removed} inputs sharing {WINDOW} bytes with {testdata} left out')
    return 0


if __name__ == '__main__':
    sys.exit(main())
