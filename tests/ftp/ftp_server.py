#!/usr/bin/python3
"""A real FTP server for the tests: pyftpdlib on 127.0.0.1 (--host ::1: on the
IPv6 loopback) with an ephemeral port.

Prints "PORT <n>" on standard output once it listens, then serves until killed.
LIST answers in MS-DOS style by default (date, time, size or <DIR>, the name
from column 40), as the update server does; --listing unix keeps pyftpdlib's
own style. --throttle N sends at most N bytes a second on every data
connection (a slow line). A wildcard in the last segment of a LIST or NLST argument
("up*.zip") is expanded against the folder, as the update server does; a
pattern that matches nothing gives an empty listing. --wildcards refuse
leaves the pattern to stock pyftpdlib, which takes it for a file name and
answers 550; --wildcards empty answers every pattern with an empty listing. --cut-short sends only
the first half of every file that RETR asks for (from its REST offset) and then 226, which is how a
transfer cut short looks to a client. --tls CERT KEY serves explicit FTPS
(AUTH TLS) with that certificate and key, TLS required on the control and
data connections; --tls-version 1.2 or 1.3 allows that version only.
--drop-after N closes the data connection of a RETR once N bytes of it were
on the link (counted from its REST offset) and answers 426; --drop-reset makes
that a reset, as a link that breaks does; --drops K
does that to the first K RETRs only (default 0: to every one), and
--drop-session closes the control connection with it, without a reply (the
session is lost). --transfer-log FILE appends "<command> <bytes sent> <bytes put on the link>
<seconds>" for every data connection that closes (a dropped one's count of
the link is the kernel's, from TCP_INFO, retransmissions included). --command-log FILE appends every command
line received (PASS's argument hidden) to FILE. --phantom NAME (again for more)
lists NAME, 100 bytes, in every expanded listing of a folder, though no such file
is there (RETR answers 550), for names no file system here could hold.
--unsized NAME (again for more) lists the file NAME in the MS-DOS style with
"?" where its size goes, a column that is no number.
"""
import argparse
import fnmatch
import logging
import os
import socket
import stat
import struct
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


class DosFS(AbstractedFS):
    def format_list(self, basedir, listing, ignore_err=True):
        for name in listing:
            path = os.path.join(basedir, name)
            try:
                st = self.lstat(path)
            except OSError:
                if ignore_err:
                    continue
                raise
            t = time.localtime(st.st_mtime)
            stamp = time.strftime("%m-%d-%y  %I:%M%p", t)
            size = "       <DIR>         " if stat.S_ISDIR(st.st_mode) else "%21d" % st.st_size
            yield ("%s%s %s\r\n" % (stamp, size, name)).encode("utf8", self.cmd_channel.unicode_errors)


class PhantomFS:
    """Lists the --phantom names, in the style of the listing it is mixed into."""
    phantoms = []
    unsized = []
    phantom_line = {"dos": "03-07-08  12:00PM %20d %s\r\n",
                    "unix": "-rw-r--r--   1 owner    group    %8d Mar 07  2008 %s\r\n"}
    style = "dos"

    def format_list(self, basedir, listing, ignore_err=True):
        for name in listing:
            if name in self.phantoms:
                yield (self.phantom_line[self.style] % (100, name)).encode("utf8")
            elif name in self.unsized:
                yield ("03-07-08  12:00PM%21s %s\r\n" % ("?", name)).encode("utf8")
            else:
                yield from super().format_list(basedir, [name], ignore_err)


class WildcardHandler(FTPHandler):
    wildcards = "expand"
    command_log = None

    def pre_process_command(self, line, cmd, arg):
        if self.command_log:
            with open(self.command_log, "a") as log:
                log.write(("PASS ****" if cmd == "PASS" else line) + "\n")
        return super().pre_process_command(line, cmd, arg)

    def _expand(self, path):
        folder, pattern = os.path.split(path)
        if not any(c in pattern for c in "*?["):
            return None
        if self.wildcards == "empty":
            return folder, []
        names = self.run_as_current_user(self.fs.listdir, folder) + list(PhantomFS.phantoms)
        return folder, sorted(n for n in names if fnmatch.fnmatchcase(n, pattern))

    def _push_expanded(self, path, plain, render, cmd):
        expanded = None if self.wildcards == "refuse" else self._expand(path)
        if expanded is None:
            return plain(self, path)
        # A pattern that matches nothing gives an empty listing, not a refusal.
        folder, names = expanded
        self.push_dtp_data(render(folder, names), cmd=cmd)
        return path

    overlong = []
    refuse_rest = False

    refuse_rest_past = -1

    def ftp_REST(self, line):
        past = self.refuse_rest_past >= 0 and line.isdigit() and int(line) > self.refuse_rest_past
        if self.refuse_rest or past:
            self.respond("502 Command not implemented.")
            return None
        return super().ftp_REST(line)

    def ftp_RETR(self, file):
        if os.path.basename(file) not in self.overlong:
            return super().ftp_RETR(file)
        with open(file, "rb") as f:
            first = [f.read()]

        class Endless:
            def more(self):
                return first.pop() if first else b"\0" * 65536

        self.push_dtp_data(Endless(), isproducer=True, cmd="RETR")
        return file

    def ftp_LIST(self, path):
        return self._push_expanded(path, FTPHandler.ftp_LIST,
                                   lambda folder, names: b"".join(self.fs.format_list(folder, names)), "LIST")

    def ftp_NLST(self, path):
        return self._push_expanded(path, FTPHandler.ftp_NLST,
                                   lambda folder, names: "".join(n + "\r\n" for n in names).encode("utf8"), "NLST")


class CutShortHandler(WildcardHandler):
    def ftp_RETR(self, file):
        # From the REST offset, up to the first half of the file at most.
        rest = self._restart_position
        self._restart_position = 0
        try:
            with open(file, "rb") as f:
                data = f.read()
        except OSError as err:
            self.respond("550 %s." % err.strerror)
            return None
        self.push_dtp_data(data[rest: max(rest, len(data) // 2)], cmd="RETR")
        return file


# Offsets in Linux's struct tcp_info: the bytes of the send queue not sent
# yet, and the bytes put on the link (retransmissions too).
TCP_INFO_NOTSENT_BYTES = (144, "I")
TCP_INFO_BYTES_SENT = (200, "Q")


class FaultDTP:
    """Mixed into the data connection's handler: the --drop-after faults and
    the --transfer-log."""
    drop_after = -1
    drops = 0
    drop_session = False
    drop_reset = False
    transfer_log = None
    retrs = 0  # RETR data connections seen, for --drops

    def use_sendfile(self):
        # Every byte goes through send(), where the faults are.
        return False if self.drop_after >= 0 else super().use_sendfile()

    def _faulty(self):
        if not hasattr(self, "_fault"):
            self._fault = False
            # The first send may come before the command is set: a RETR's
            # data connection has its file already.
            retr = self.cmd == "RETR" or (self.cmd is None and self.file_obj is not None)
            if retr and self.drop_after >= 0:
                FaultDTP.retrs += 1
                self._fault = self.drops == 0 or FaultDTP.retrs <= self.drops
        return self._fault

    def send(self, data):
        if not self._faulty():
            return super().send(data)
        room = self.drop_after - self.tot_bytes_sent
        if room <= 0:
            if not getattr(self, "_dropping", False):
                self._dropping = True
                self._drop_deadline = time.monotonic() + 2
                self.ioloop.call_later(0, self._drop)
            return 0
        return super().send(data[:room])

    def _tcp_info(self, field):
        try:
            info = self.socket.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 256)
            return struct.unpack_from(field[1], info, field[0])[0]
        except (OSError, struct.error):
            return None

    def _drop(self):
        if self._closed:
            return
        # The link breaks once what was sent is on it (the kernel's send queue
        # drained, for at most two seconds): the client has all of it, as it
        # would have from a link that broke there.
        unsent = self._tcp_info(TCP_INFO_NOTSENT_BYTES)
        if unsent and time.monotonic() < self._drop_deadline:
            self.ioloop.call_later(0.01, self._drop)
            return
        on_link = self._tcp_info(TCP_INFO_BYTES_SENT)
        if on_link is not None:
            self._on_link = on_link
        if self.drop_reset:
            # A reset, as a link that breaks: the client's next read fails.
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        control = self.cmd_channel
        if self.drop_session:
            self._resp = ()
            self.close()
            control.close()
            return
        self._resp = ("426 Connection dropped (fault mode); transfer aborted.", logging.info)
        self.close()

    def close(self):
        if not self._closed and self.transfer_log and self.cmd:
            with open(self.transfer_log, "a") as log:
                # A connection that closes in order delivers what it was given.
                on_link = getattr(self, "_on_link", self.tot_bytes_sent)
                log.write("%s %d %d %.3f\n" % (self.cmd, self.tot_bytes_sent, on_link, self.get_elapsed_time()))
        super().close()


def tls_handler(base, certfile, keyfile, version):
    from OpenSSL import SSL
    from pyftpdlib.handlers import TLS_FTPHandler

    class Handler(TLS_FTPHandler, base):
        pass

    context = SSL.Context(SSL.TLS_SERVER_METHOD)
    if version != "any":
        v = SSL.TLS1_2_VERSION if version == "1.2" else SSL.TLS1_3_VERSION
        context.set_min_proto_version(v)
        context.set_max_proto_version(v)
    context.use_certificate_chain_file(certfile)
    context.use_privatekey_file(keyfile)
    Handler.ssl_context = context
    Handler.tls_control_required = True
    Handler.tls_data_required = True
    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--user", default="krevoftp")
    parser.add_argument("--password", default="q7wz2kp")
    parser.add_argument("--anonymous", action="store_true", help="also allow anonymous (read-only)")
    parser.add_argument("--listing", choices=["dos", "unix"], default="dos")
    parser.add_argument("--throttle", type=int, default=0, metavar="BYTES_PER_SECOND")
    parser.add_argument("--wildcards", choices=["expand", "refuse", "empty"], default="expand")
    parser.add_argument("--cut-short", action="store_true", help="send half of every file, then 226")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--tls-version", choices=["any", "1.2", "1.3"], default="any")
    parser.add_argument("--command-log", metavar="FILE", help="append every command line to FILE")
    parser.add_argument("--phantom", action="append", default=[], metavar="NAME")
    parser.add_argument("--unsized", action="append", default=[], metavar="NAME")
    parser.add_argument("--overlong", action="append", default=[], metavar="NAME")
    parser.add_argument("--refuse-rest", action="store_true")
    parser.add_argument("--refuse-rest-past", type=int, default=-1, metavar="N")
    parser.add_argument("--drop-after", type=int, default=-1, metavar="N")
    parser.add_argument("--drops", type=int, default=0, metavar="K")
    parser.add_argument("--drop-session", action="store_true")
    parser.add_argument("--drop-reset", action="store_true")
    parser.add_argument("--transfer-log", metavar="FILE")
    args = parser.parse_args()

    logging.basicConfig(level=logging.ERROR, stream=sys.stderr)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.anonymous:
        authorizer.add_anonymous(args.root)
    handler = CutShortHandler if args.cut_short else WildcardHandler
    handler.wildcards = args.wildcards
    if args.tls:
        handler = tls_handler(handler, args.tls[0], args.tls[1], args.tls_version)
    handler.authorizer = authorizer
    handler.command_log = args.command_log
    handler.overlong = args.overlong
    handler.refuse_rest = args.refuse_rest
    handler.refuse_rest_past = args.refuse_rest_past
    PhantomFS.phantoms = args.phantom
    PhantomFS.unsized = args.unsized
    PhantomFS.style = args.listing
    handler.abstracted_fs = type("ListedFS", (PhantomFS, DosFS if args.listing == "dos" else AbstractedFS), {})
    handler.banner = "Krevo test server ready."
    if args.throttle > 0:
        class SlowDTPHandler(ThrottledDTPHandler):
            write_limit = args.throttle
        handler.dtp_handler = SlowDTPHandler
    if args.drop_after >= 0 or args.transfer_log:
        FaultDTP.drop_after = args.drop_after
        FaultDTP.drops = args.drops
        FaultDTP.drop_session = args.drop_session
        FaultDTP.drop_reset = args.drop_reset
        FaultDTP.transfer_log = args.transfer_log
        handler.dtp_handler = type("FaultyDTPHandler", (FaultDTP, handler.dtp_handler), {})
    server = FTPServer((args.host, 0), handler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
