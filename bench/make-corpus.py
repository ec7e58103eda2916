"""Writes the deterministic extraction corpus: about 300 MB in about 2,000
files (text, random bytes, three 50 MB files, many small ones) below OUT/corpus,
and the archive of 100,000 tiny files OUT/tiny.zip."""
import os
import random
import sys
import zipfile

out = sys.argv[1]
rng = random.Random(20261208)
words = [("".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))))
         for _ in range(5000)]


def text(size):
    parts, n = [], 0
    while n < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(5, 14))) + "\n"
        parts.append(line)
        n += len(line)
    return "".join(parts)[:size].encode()


def put(rel, data):
    path = os.path.join(out, "corpus", rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


for i in range(1400):
    put("text/%02d/doc%04d.txt" % (i % 20, i), text(rng.randint(1000, 180000)))
for i in range(400):
    put("bin/%02d/blob%04d.bin" % (i % 10, i), rng.randbytes(rng.randint(1000, 80000)))
for i in range(200):
    put("small/s%04d.cfg" % i, text(rng.randint(10, 900)))
put("large/big-text.txt", text(50 << 20))
put("large/big-random.bin", rng.randbytes(50 << 20))
put("large/big-mixed.dat", b"".join(text(1 << 20) if k % 2 else rng.randbytes(1 << 20)
                                    for k in range(50)))

with zipfile.ZipFile(os.path.join(out, "tiny.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(100000):
        z.writestr("t%02d/f%06d.txt" % (i % 100, i), "tiny file %d\n" % i)
