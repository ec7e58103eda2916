"""Makes and lists test archives with Python's zipfile.

list ARCHIVE        one line per item: size, packed size, date-time, CRC-32,
                    external attributes, E or -, name (tab-separated)
make KIND OUT       writes an archive of one of the kinds below
"""
import io
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
    else:
        make(sys.argv[2], sys.argv[3])
