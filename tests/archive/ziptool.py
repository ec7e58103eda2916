"""Makes and lists test archives with Python's zipfile.

list ARCHIVE        one line per item: size, packed size, date-time, CRC-32,
                    external attributes, E or -, name (tab-separated)
make KIND OUT       writes an archive of one of the kinds below
bomb KIND OUT       an archive written byte by byte (see bomb below)
lie FIELD DELTA METHOD OUT [nocentral]
                    one streamed entry a.txt (METHOD stored or deflated) whose
                    data descriptor, and the central header copied from it,
                    carry FIELD (crc, csize or usize) off by DELTA; with
                    nocentral the archive ends after the descriptor
count N OUT [zip64] the basic archive (with zip64: its Zip64 kind) whose end
                    record (with zip64: the Zip64 end record) claims N entries
"""
import io
import struct
import sys
import zipfile
import zlib

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
    elif kind == "windows":
        # Made on Windows (FAT): the name in CP437, and a Unicode Path block
        # naming it otherwise, which Windows names do not take.
        info, data = item("X-cp437.txt", b"windows\n", attr=0x20)
        info.create_system = 0
        crc = zlib.crc32(b"\x81-cp437.txt")
        info.extra = struct.pack("<HHBI", 0x7075, 5 + 9, 1, crc) + b"other.txt"
        write(out, [(info, data)])
        data = open(out, "rb").read().replace(b"X-cp437", b"\x81-cp437")
        open(out, "wb").write(data)
    elif kind == "unicode-path":
        # Made on Unix by a tool that stores Latin-1 names (read as CP437
        # they would be garbled) and the true name in a Unicode Path block;
        # a folder too, and Unix modes. The names are written as ASCII of
        # the same length and then patched.
        entries = []
        for name, true, data, attr in [
                ("cafX/", "café/", b"", 0o40750 << 16 | 0x10),
                ("cafX/crYme.txt", "café/crème.txt", b"cream\n", 0o100640 << 16)]:
            stored = name.encode().replace(b"X", b"\xe9").replace(b"Y", b"\xe8")
            info, data = item(name, data, attr=attr)
            info.extra = struct.pack("<HHBI", 0x7075, 5 + len(true.encode()), 1,
                                     zlib.crc32(stored)) + true.encode()
            entries.append((info, data))
        write(out, entries)
        data = open(out, "rb").read().replace(b"cafX", b"caf\xe9").replace(b"crYme", b"cr\xe8me")
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
    elif kind == "lookalike":
        # Names that a name-as-mask find can confuse: case twins, one name
        # below several folders, mask characters, trailing dots and
        # separators, the Turkish i's, a folder beside a file, duplicates.
        import warnings
        warnings.simplefilter("ignore")
        folder = (zipfile.ZIP_STORED, 0o40755 << 16 | 0x10)
        names = ["sub/a.txt", "a.txt", "A.TXT", "docs/A.txt", "x[1].txt", "x*.txt", "q?.txt",
                 "caf\u00e9.txt", "CAF\u00c9.TXT", "readme.", "readme", "folder/", "deep/folder",
                 "\u0131.txt", "I.txt", "i.txt", "\u0130.txt", "win\\back.txt", "dup.txt",
                 "dup.txt", "sub/DUP.TXT", "ro.txt", "hidden.txt"]
        entries = []
        for n in names:
            if n.endswith("/"):
                entries.append(item(n, b"", *folder))
            else:
                attr = 0o100644 << 16 | {"ro.txt": 1, "hidden.txt": 2}.get(n, 0)
                entries.append(item(n, n.encode(), attr=attr))
        write(out, entries)
    elif kind == "empty":
        write(out, [])
    elif kind == "basic":
        write(out, basic)
    elif kind == "controls":
        # Names zip cannot make: CR, LF and ESC inside, and a folder with a
        # bell in its name; ok.txt is the one plain name.
        write(out, [item(n, b"named\n") for n in (
            "cr\rname.txt", "lf\nname.txt", "esc\x1b[31mred.txt", "bell\x07/in.txt", "ok.txt")])
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


def count(n, out, zip64):
    make("zip64" if zip64 else "basic", out)
    b = bytearray(open(out, "rb").read())
    if zip64:
        struct.pack_into("<QQ", b, len(b) - 22 - 20 - 56 + 24, n, n)
    else:
        struct.pack_into("<HH", b, len(b) - 22 + 8, n, n)
    open(out, "wb").write(b)


LOCAL = "<LHHHHHLLLHH"
CENTRAL = "<LHHHHHHLLLHHHHHLL"
DOS_TIME, DOS_DATE = 0x63D6, 0x52CF  # 2021-06-15 12:30:44


def local_header(name, data, crc=None):
    """A stored entry's local header, name and data."""
    crc = zlib.crc32(data) if crc is None else crc
    return struct.pack(LOCAL, 0x04034B50, 10, 0, 0, DOS_TIME, DOS_DATE, crc, len(data),
                       len(data), len(name), 0) + name + data


def central_header(name, data, offset, disk=0, zip64=False):
    """The central header of a stored entry made on Unix, mode 0644; with
    zip64 its offset is in a Zip64 block."""
    extra = struct.pack("<HHQ", 1, 8, offset) if zip64 else b""
    return struct.pack(CENTRAL, 0x02014B50, 0x031E, 10, 0, 0, DOS_TIME, DOS_DATE,
                       zlib.crc32(data), len(data), len(data), len(name), len(extra), 0, disk, 0,
                       0o100644 << 16, 0xFFFFFFFF if zip64 else offset) + name + extra


def end_record(count, central_size, central_offset):
    return struct.pack("<LHHHHLLH", 0x06054B50, 0, 0, count, count, central_size, central_offset, 0)


def assemble(locals_part, centrals):
    """The local part, the central headers and an end record (with the Zip64
    records in front of it when the count needs them)."""
    cd = b"".join(centrals)
    n, at = len(centrals), len(locals_part)
    if n <= 0xFFFE:
        return locals_part + cd + end_record(n, len(cd), at)
    zip64_end = struct.pack("<LQHHLLQQQQ", 0x06064B50, 44, 0x031E, 45, 0, 0, n, n, len(cd), at)
    locator = struct.pack("<LLQL", 0x07064B50, 0, at + len(cd), 1)
    return locals_part + cd + zip64_end + locator + end_record(0xFFFF, len(cd), at)


def bomb(kind, out):
    """overlap    one local header of 64 KB of zeros (stored) named by 100
                  central headers, some through a Zip64 offset, some with
                  other disk numbers
    inside      a stored outer.bin whose data holds the whole entry
                  inner.txt, which the directory names as well
    inside-cut  the same without its directory (opened by the rebuild)
    nested      a stored inner.zip holding a whole archive, and after.txt:
                  headers inside data, but no entry pointing at them
    many N      N stored entries of one byte each"""
    if kind == "overlap":
        data = bytes(65536)
        part = local_header(b"a.txt", data)
        centrals = [central_header(b"bomb%03d.txt" % i, data, 0, disk=i if i % 3 == 2 else 0,
                                   zip64=i % 3 == 1) for i in range(100)]
        blob = assemble(part, centrals)
    elif kind in ("inside", "inside-cut"):
        inner = b"inner\n"
        quoted = local_header(b"inner.txt", inner)
        outer = b"x" * 100 + quoted + b"y" * 100
        part = local_header(b"outer.bin", outer)
        inner_at = 30 + len(b"outer.bin") + 100
        blob = assemble(part, [central_header(b"outer.bin", outer, 0),
                               central_header(b"inner.txt", inner, inner_at)])
        if kind == "inside-cut":
            blob = part
    elif kind == "nested":
        buf = io.BytesIO()
        write(buf, [item("deep/a.txt", b"deep\n"), item("b.txt", b"b\n" * 100)])
        inner = buf.getvalue()
        after = b"after\n"
        first = local_header(b"inner.zip", inner)
        blob = assemble(first + local_header(b"after.txt", after),
                        [central_header(b"inner.zip", inner, 0),
                         central_header(b"after.txt", after, len(first))])
    elif kind.startswith("many"):
        count = int(kind.split()[1])
        parts, centrals, at = [], [], 0
        for i in range(count):
            name = b"f%07d" % i
            parts.append(local_header(name, b"x"))
            centrals.append(central_header(name, b"x", at))
            at += len(parts[-1])
        blob = assemble(b"".join(parts), centrals)
    else:
        raise SystemExit("unknown bomb " + kind)
    open(out, "wb").write(blob)


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
    elif sys.argv[1] == "bomb":
        bomb(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "count":
        count(int(sys.argv[2]), sys.argv[3], sys.argv[4:5] == ["zip64"])
    elif sys.argv[1] == "lie":
        lie(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5], sys.argv[6:7] != ["nocentral"])
    else:
        make(sys.argv[2], sys.argv[3])
