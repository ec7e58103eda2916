#!/usr/bin/python3
"""A file system for power-cut tests, in memory, mounted with FUSE:
    powercut_fs.py MOUNTPOINT [CUT_FILE]
A change to attributes (chmod, times) persists as it happens. The data
written to a file persists once the file is flushed (fsync or fdatasync),
and the entries of a folder (create, mkdir, rename, link, unlink, rmdir)
once the folder is flushed; until then a power cut may lose them. SIGUSR1
is the power cut, and the file system goes on serving; what it loses is
the model named in the file CUT_FILE.model when there is one ("lost" when
not):
    lost   every file loses what was written since its last flush, and
           every folder the changes to its entries since its last flush
    torn   a file written only at its end since its last flush keeps half
           of what was added (any other loses it all), and every folder
           keeps the first half of the changes since its last flush, in
           the order made (a change is whole: a rename in one folder is
           one change)
    data   files as with lost; every change to entries is kept, as a
           journaling file system that orders its metadata might keep it
A flush of the whole file system (syncfs) never reaches a FUSE file system,
so it flushes nothing here. Prints "READY" once mounted; after each power
cut, writes CUT_FILE (when given); SIGTERM unmounts.
"""
import errno
import os
import signal
import stat
import sys
import time

import pyfuse3
import trio


class Node:
    def __init__(self, ino, mode, uid=0, gid=0):
        self.ino = ino
        self.mode = mode
        self.uid, self.gid = uid, gid
        now = time.time_ns()
        self.atime = self.mtime = self.ctime = now
        self.nlink = 2 if stat.S_ISDIR(mode) else 1
        self.children = {} if stat.S_ISDIR(mode) else None
        self.data = bytearray()
        self.durable = b""
        # A folder's entries as last flushed, and the changes made since:
        # each a list of (name, inode or None for a name removed).
        self.durable_children = {}
        self.changes = []


class PowerCutFS(pyfuse3.Operations):
    def __init__(self):
        super().__init__()
        self.nodes = {pyfuse3.ROOT_INODE: Node(pyfuse3.ROOT_INODE, stat.S_IFDIR | 0o755)}
        self.next_ino = pyfuse3.ROOT_INODE + 1

    def power_cut(self, model):
        for node in self.nodes.values():
            if node.children is None:
                kept = node.durable
                added = len(node.data) - len(kept)
                if model == "torn" and added > 0 and node.data.startswith(kept):
                    kept = bytes(node.data[:len(kept) + added // 2])
                node.data = bytearray(kept)
                node.durable = kept
            elif model != "data":
                keep = len(node.changes) // 2 if model == "torn" else 0
                node.children = dict(node.durable_children)
                for change in node.changes[:keep]:
                    for name, ino in change:
                        if ino is None:
                            node.children.pop(name, None)
                        else:
                            node.children[name] = ino
            if node.children is not None:
                node.durable_children = dict(node.children)
                node.changes = []
        self._count_links()

    def _count_links(self):
        """Link counts from the entries that a walk from the root meets."""
        links = {}
        seen, todo = set(), [pyfuse3.ROOT_INODE]
        while todo:
            d = self.nodes[todo.pop()]
            if d.ino in seen:
                continue
            seen.add(d.ino)
            links.setdefault(d.ino, 2)
            for ino in d.children.values():
                if self.nodes[ino].children is None:
                    links[ino] = links.get(ino, 0) + 1
                else:
                    links[d.ino] += 1
                    links.setdefault(ino, 2)
                    todo.append(ino)
        for node in self.nodes.values():
            node.nlink = links.get(node.ino, 0)

    def _change(self, d, *changes):
        """Changes entries of the folder `d`, as one change a cut keeps or loses."""
        for name, ino in changes:
            if ino is None:
                del d.children[name]
            else:
                d.children[name] = ino
        d.changes.append(list(changes))

    def _attr(self, node):
        a = pyfuse3.EntryAttributes()
        a.st_ino = node.ino
        a.st_mode = node.mode
        a.st_nlink = node.nlink
        a.st_uid, a.st_gid = node.uid, node.gid
        a.st_size = len(node.data) if node.children is None else 4096
        a.st_blksize = 4096
        a.st_blocks = (a.st_size + 511) // 512
        a.st_atime_ns, a.st_mtime_ns, a.st_ctime_ns = node.atime, node.mtime, node.ctime
        a.generation = 0
        a.entry_timeout = a.attr_timeout = 0
        return a

    def _dir(self, ino):
        node = self.nodes.get(ino)
        if node is None or node.children is None:
            raise pyfuse3.FUSEError(errno.ENOTDIR)
        return node

    def _touch(self, node):
        node.mtime = node.ctime = time.time_ns()

    async def lookup(self, parent, name, ctx=None):
        d = self._dir(parent)
        if name == b".":
            return self._attr(d)
        if name not in d.children:
            raise pyfuse3.FUSEError(errno.ENOENT)
        return self._attr(self.nodes[d.children[name]])

    async def getattr(self, ino, ctx=None):
        return self._attr(self.nodes[ino])

    async def setattr(self, ino, attr, fields, fh, ctx):
        node = self.nodes[ino]
        if fields.update_size:
            del node.data[attr.st_size:]
            node.data.extend(b"\0" * (attr.st_size - len(node.data)))
        if fields.update_mode:
            node.mode = stat.S_IFMT(node.mode) | stat.S_IMODE(attr.st_mode)
        if fields.update_uid:
            node.uid = attr.st_uid
        if fields.update_gid:
            node.gid = attr.st_gid
        if fields.update_atime:
            node.atime = attr.st_atime_ns
        if fields.update_mtime:
            node.mtime = attr.st_mtime_ns
        node.ctime = time.time_ns()
        return self._attr(node)

    def _new(self, parent, name, mode, ctx):
        d = self._dir(parent)
        if name in d.children:
            raise pyfuse3.FUSEError(errno.EEXIST)
        node = Node(self.next_ino, mode, ctx.uid, ctx.gid)
        self.next_ino += 1
        self.nodes[node.ino] = node
        self._change(d, (name, node.ino))
        if node.children is not None:
            d.nlink += 1
        self._touch(d)
        return node

    async def mkdir(self, parent, name, mode, ctx):
        return self._attr(self._new(parent, name, stat.S_IFDIR | (mode & 0o7777), ctx))

    async def create(self, parent, name, mode, flags, ctx):
        node = self._new(parent, name, stat.S_IFREG | (mode & 0o7777), ctx)
        return pyfuse3.FileInfo(fh=node.ino), self._attr(node)

    async def link(self, ino, new_parent, new_name, ctx):
        d = self._dir(new_parent)
        if new_name in d.children:
            raise pyfuse3.FUSEError(errno.EEXIST)
        self._change(d, (new_name, ino))
        self.nodes[ino].nlink += 1
        self._touch(d)
        return self._attr(self.nodes[ino])

    def _drop(self, d, name):
        node = self.nodes[d.children[name]]
        self._change(d, (name, None))
        node.nlink -= 1 if node.children is None else 2
        if node.children is not None:
            d.nlink -= 1
        self._touch(d)

    async def unlink(self, parent, name, ctx):
        d = self._dir(parent)
        if name not in d.children:
            raise pyfuse3.FUSEError(errno.ENOENT)
        if self.nodes[d.children[name]].children is not None:
            raise pyfuse3.FUSEError(errno.EISDIR)
        self._drop(d, name)

    async def rmdir(self, parent, name, ctx):
        d = self._dir(parent)
        if name not in d.children:
            raise pyfuse3.FUSEError(errno.ENOENT)
        if self._dir(d.children[name]).children:
            raise pyfuse3.FUSEError(errno.ENOTEMPTY)
        self._drop(d, name)

    async def rename(self, old_parent, old_name, new_parent, new_name, flags, ctx):
        if flags:
            raise pyfuse3.FUSEError(errno.EINVAL)
        src, dst = self._dir(old_parent), self._dir(new_parent)
        if old_name not in src.children:
            raise pyfuse3.FUSEError(errno.ENOENT)
        ino = src.children[old_name]
        if new_name in dst.children:
            if self.nodes[dst.children[new_name]].children is not None:
                raise pyfuse3.FUSEError(errno.EISDIR)
            replaced = self.nodes[dst.children[new_name]]
            replaced.nlink -= 1
        if src is dst:
            self._change(src, (old_name, None), (new_name, ino))
        else:
            self._change(src, (old_name, None))
            self._change(dst, (new_name, ino))
        self._touch(src)
        self._touch(dst)

    async def open(self, ino, flags, ctx):
        if flags & os.O_TRUNC:
            del self.nodes[ino].data[:]
        return pyfuse3.FileInfo(fh=ino)

    async def read(self, fh, off, size):
        return bytes(self.nodes[fh].data[off:off + size])

    async def write(self, fh, off, buf):
        node = self.nodes[fh]
        if off > len(node.data):
            node.data.extend(b"\0" * (off - len(node.data)))
        node.data[off:off + len(buf)] = buf
        self._touch(node)
        return len(buf)

    async def fsync(self, fh, datasync):
        node = self.nodes[fh]
        node.durable = bytes(node.data)

    async def flush(self, fh):
        pass

    async def release(self, fh):
        pass

    async def opendir(self, ino, ctx):
        self._dir(ino)
        return ino

    async def readdir(self, fh, start_id, token):
        d = self._dir(fh)
        entries = sorted(d.children.items())
        for i, (name, ino) in enumerate(entries[start_id:], start_id + 1):
            if not pyfuse3.readdir_reply(token, name, self._attr(self.nodes[ino]), i):
                break

    async def fsyncdir(self, fh, datasync):
        d = self._dir(fh)
        d.durable_children = dict(d.children)
        d.changes = []

    async def releasedir(self, fh):
        pass

    async def statfs(self, ctx):
        s = pyfuse3.StatvfsData()
        s.f_bsize = s.f_frsize = 4096
        s.f_blocks = s.f_bfree = s.f_bavail = 1 << 20
        s.f_files = s.f_ffree = s.f_favail = 1 << 20
        s.f_namemax = 255
        return s


async def serve(fs, cut_file):
    async with trio.open_nursery() as nursery:
        nursery.start_soon(pyfuse3.main)
        with trio.open_signal_receiver(signal.SIGUSR1, signal.SIGTERM) as signals:
            print("READY", flush=True)
            async for sig in signals:
                if sig == signal.SIGUSR1:
                    model = "lost"
                    if cut_file and os.path.exists(cut_file + ".model"):
                        with open(cut_file + ".model") as f:
                            model = f.read().strip()
                    fs.power_cut(model)
                    if cut_file:
                        with open(cut_file, "w") as f:
                            f.write("cut\n")
                else:
                    nursery.cancel_scope.cancel()
                    return


def main():
    fs = PowerCutFS()
    options = set(pyfuse3.default_options)
    options.add("fsname=powercut")
    options.discard("default_permissions")
    pyfuse3.init(fs, sys.argv[1], options)
    try:
        trio.run(serve, fs, sys.argv[2] if len(sys.argv) > 2 else None)
    finally:
        pyfuse3.close(unmount=True)


if __name__ == "__main__":
    main()
