"""Makes and lists test archives with Python's zipfile.

list ARCHIVE        one line per item: size, packed size, date-time, CRC-32,
                    external attributes, E or -, name (tab-separated)
make KIND OUT       writes an archive of one of the kinds below
lie FIELD DELTA METHOD OUT [nocentral]
                    one streamed entry a.txt (METHOD stored or deflated) whose
                    data descriptor, and the central header copied from it,
                    carry FIELD (crc, csize or usize) off by DELTA; with
                    nocentral the archive ends after the descriptor
"""
import io
import struct
import sys
import zipfile

STAMP = (2021, 6, 15, 12, 30, 44)


def item(name, data, method=zipfile.ZIP_DEFLATED, attr=0o100644 << 16):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = method
    info.external_attr = attr
    return info, data


def write(out, entries, comment=b"", zip64=False):
    with zipfile.ZipFile(out, "w") as z:
        for info, data in entries:
            with z.open(info, "w", force_zip64=zip64) as f:
                f.write(data)
        z.comment = comment


class Unseekable(io.RawIOBase):
    """A write-only file that cannot seek, so entries get data descriptors."""

    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


def make(kind, out):
    text = b"".join(b"line %d of the sample text\n" % i for i in range(2000))
    basic = [item("a.txt", b"alpha\n"), item("sub/", b"", zipfile.ZIP_STORED, 0o40755 << 16 | 0x10),
             item("sub/b.txt", text), item("stored.bin", bytes(range(256)) * 8, zipfile.ZIP_STORED)]
    if kind == "zip64":
        # Limits of 0 make every size and count "too large": Zip64 records and
        # extra blocks are written for small data.
        zipfile.ZIP64_LIMIT = 0
        zipfile.ZIP_FILECOUNT_LIMIT = 0
        write(out, basic, zip64=True)
    elif kind == "comment":
        write(out, basic, comment=b"package comment")
    elif kind == "comment-signature":
        write(out, basic, comment=b"comment PK\x05\x06" + bytes(18) + b" tail")
    elif kind == "utf8":
        write(out, [item("Grüße/naïve.txt", b"utf\n"), item("日本語.txt", text)])
    elif kind == "oem":
        write(out, [item("X-cp437.txt", b"oem\n")])
        data = open(out, "rb").read().replace(b"X-cp437", b"\x81-cp437")
        open(out, "wb").write(data)
    elif kind == "descriptor":
        with open(out, "wb") as f:
            with zipfile.ZipFile(Unseekable(f), "w") as z:
                for info, data in basic:
                    if not info.is_dir():
                        z.writestr(info, data)
    elif kind == "traversal":
        write(out, [item(n, b"evil\n") for n in (
            "../evil1.txt", "/tmp/evil2.txt", "a/../../evil3.txt", "..\\evil4.txt",
            "C:evil5.txt", "ok.txt")])
    elif kind == "empty":
        write(out, [])
    elif kind == "basic":
        write(out, basic)
    else:
        raise SystemExit("unknown kind " + kind)


def lie(field, delta, method, out, central=True):
    text = b"".join(b"line %d of the sample text\n" % i for i in range(2000))
    buf = io.BytesIO()
    with zipfile.ZipFile(Unseekable(buf), "w") as z:
        info, data = item("a.txt", text, zipfile.ZIP_STORED if method == "stored" else zipfile.ZIP_DEFLATED)
        z.writestr(info, data)
    b = bytearray(buf.getvalue())
    cd = b.index(b"PK\x01\x02")
    dd = b.rindex(b"PK\x07\x08", 0, cd)
    at = {"crc": (4, 16), "csize": (8, 20), "usize": (12, 24)}[field]
    value = (struct.unpack_from("<L", b, dd + at[0])[0] + delta) & 0xFFFFFFFF
    struct.pack_into("<L", b, dd + at[0], value)
    struct.pack_into("<L", b, cd + at[1], value)
    open(out, "wb").write(b if central else b[:dd + 16])


def listing(path):
    with zipfile.ZipFile(path) as z:
        for i in z.infolist():
            y, mo, d, h, mi, s = i.date_time
            print("%d\t%d\t%04d-%02d-%02d %02d:%02d:%02d\t%08x\t%08x\t%s\t%s" % (
                i.file_size, i.compress_size, y, mo, d, h, mi, s, i.CRC,
                i.external_attr, "E" if i.flag_bits & 1 else "-", i.orig_filename))


if __name__ == "__main__":
    if sys.argv[1] == "list":
        listing(sys.argv[2])
    elif sys.argv[1] == "lie":
        lie(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5], sys.argv[6:7] != ["nocentral"])
    else:
        make(sys.argv[2], sys.argv[3])
