#!/usr/bin/env python3
"""Writes a large EDS file for the EDS read benchmark.

usage: make_big_eds.py OUT.eds [--objects 5000] [--subs 20000] [--seed 17]

The file holds --objects object sections and --subs sub-object sections, CR LF line ends, with
the data types, access types and default forms of real device files (hex and decimal numbers,
$NODEID expressions, REAL32 and quoted strings). One object in five is plain; the others are
ARRAY or RECORD objects that share the sub-objects between them.
"""
import argparse
import random

TYPES = [  # (code, default maker)
    (0x0001, lambda r: str(r.randint(0, 1))),
    (0x0002, lambda r: str(r.randint(-128, 127))),
    (0x0003, lambda r: str(r.randint(-32768, 32767))),
    (0x0004, lambda r: str(r.randint(-2**31, 2**31 - 1))),
    (0x0005, lambda r: "0x%02X" % r.randint(0, 255)),
    (0x0006, lambda r: str(r.randint(0, 65535))),
    (0x0007, lambda r: r.choice(["0x%08X" % r.getrandbits(32), "$NODEID+0x%X" % r.choice([0x180, 0x280, 0x600])])),
    (0x0008, lambda r: "%.3f" % r.uniform(-1000, 1000)),
    (0x0009, lambda r: '"Text %d"' % r.randint(0, 99999)),
    (0x000A, lambda r: "0102030405"),
]
ACCESS = ["ro", "rw", "rww", "rwr", "wo", "const"]


def var_lines(out, header, name, r):
    code, default = r.choice(TYPES)
    out += [header, "ParameterName=" + name, "ObjectType=0x7", "DataType=0x%04X" % code,
            "AccessType=" + r.choice(ACCESS), "DefaultValue=" + default(r),
            "PDOMapping=%d" % r.randint(0, 1), ""]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("--objects", type=int, default=5000)
    p.add_argument("--subs", type=int, default=20000)
    p.add_argument("--seed", type=int, default=17)
    a = p.parse_args()
    r = random.Random(a.seed)
    if a.objects > 0x6000:
        p.error("at most 24576 objects (indices 0x2000 to 0x7FFF)")

    composite = a.objects - a.objects // 5 if a.subs else 0
    if composite == 0 and a.subs:
        p.error("sub-objects need at least one composite object")
    per = [a.subs // composite + (1 if i < a.subs % composite else 0) for i in range(composite)] if composite else []

    out = ["[FileInfo]", "FileName=big.eds", "FileVersion=1", "FileRevision=1", "EDSVersion=4.0",
           "Description=Generated benchmark file: %d objects, %d sub-objects" % (a.objects, a.subs),
           "CreatedBy=make_big_eds.py", "",
           "[DeviceInfo]", "VendorName=Travik", "ProductName=Benchmark", "NrOfRXPDO=0", "NrOfTXPDO=0", "",
           "[ManufacturerObjects]", "SupportedObjects=%d" % a.objects]
    out += ["%d=0x%04X" % (i + 1, 0x2000 + i) for i in range(a.objects)]
    out.append("")

    for i in range(a.objects):
        index = 0x2000 + i
        if i >= composite:
            var_lines(out, "[%04X]" % index, "Parameter %d" % i, r)
            continue
        n = per[i]
        out += ["[%04X]" % index, "ParameterName=Block %d" % i, "ObjectType=%s" % r.choice(["0x8", "0x9"]),
                "SubNumber=%d" % n, ""]
        out += ["[%04Xsub0]" % index, "ParameterName=Highest sub-index supported", "ObjectType=0x7",
                "DataType=0x0005", "AccessType=ro", "DefaultValue=%d" % (n - 1), "PDOMapping=0", ""]
        for s in range(1, n):
            var_lines(out, "[%04Xsub%X]" % (index, s), "Block %d entry %d" % (i, s), r)

    with open(a.out, "w", newline="") as f:
        f.write("\r\n".join(out) + "\r\n")


if __name__ == "__main__":
    main()
