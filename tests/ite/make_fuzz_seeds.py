#!/usr/bin/env python3
# Writes the seeds of fuzz-3270 (fuzz/corpus/fuzz-3270) from the recorded
# sessions in tests/fixtures/3270: each trace's host records (telnet framing
# undone) in the harness's input format, with Enter between records.
import os, re, sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
out = os.path.join(root, "fuzz", "corpus", "fuzz-3270")
os.makedirs(out, exist_ok=True)

def host_bytes(path):
    data = bytearray()
    for line in open(path, encoding="latin-1"):
        m = re.match(r"^< 0x[0-9a-f]+\s+([0-9a-f]+)\s*$", line)
        if m:
            data += bytes.fromhex(m.group(1))
    return bytes(data)

def records(data):
    recs, cur, i = [], bytearray(), 0
    while i < len(data):
        b = data[i]
        if b == 0xFF and i + 1 < len(data):
            n = data[i + 1]
            if n == 0xFF: cur.append(0xFF); i += 2; continue
            if n == 0xEF: recs.append(bytes(cur)); cur = bytearray(); i += 2; continue
            if n in (0xFB, 0xFC, 0xFD, 0xFE): i += 3; continue
            if n == 0xFA:
                j = data.find(b"\xff\xf0", i)
                i = len(data) if j < 0 else j + 2
                continue
            i += 2; continue
        cur.append(b); i += 1
    return recs

for name in sorted(os.listdir(os.path.join(root, "tests", "fixtures", "3270"))):
    if not name.endswith(".trc"): continue
    recs = records(host_bytes(os.path.join(root, "tests", "fixtures", "3270", name)))
    tn3270e = any(r[:1] == b"\x00" or r[:1] in (b"\x03", b"\x04") for r in recs)
    seed = bytearray([2 | (0x10 if tn3270e else 0)])
    for r in recs:
        seed += b"\xfd" + len(r).to_bytes(2, "big") + r
        seed += b"\xff" + bytes([5, 0x7D]) + b"\xfe"  # Enter, then take the replies
    open(os.path.join(out, name[:-4]), "wb").write(seed)
    print(name, len(recs), "records")
