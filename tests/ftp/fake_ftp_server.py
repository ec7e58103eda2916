#!/usr/bin/python3
"""A scripted FTP server for what a real server will not do on demand.

Usage: fake_ftp_server.py SCENARIO --transcript FILE [--host ADDRESS]
Prints "PORT <n>" once it listens on ADDRESS (127.0.0.1, or ::1), serves one
control connection, appends every command line it receives to FILE, then exits.
PASV and EPSV both open a data listener on the control connection's address.
"""
import argparse
import socket
import struct
import sys
import time

DATA = b"fake file data\r\n" * 5000  # 80000 bytes

# Each scenario overrides replies of the default server below.
SCENARIOS = {
    "plain": {},
    "multiline-greeting": {"greeting": "220-Welcome\r\n220-to the\r\n220 fake server.\r\n",
                           "USER": "230 Logged in without a password.", "SYST": "500 Unknown command."},
    "syst-502": {"SYST": "502 Command not implemented."},
    "pasv-no-parens": {"pasv": "227 Entering Passive Mode {nums}"},
    "pasv-bad-number": {"pasv": "227 Entering Passive Mode (127,0,0,300,{p1},{p2})"},
    "pasv-missing-number": {"pasv": "227 Entering Passive Mode (127,0,0,{p1},{p2})"},
    "pasv-elsewhere": {"pasv": "227 Entering Passive Mode (127,0,0,2,{p1},{p2})"},
    "abort": {"transfer": "abort"},
    "drop-control": {"transfer": "drop-control"},
    "reset-data": {"transfer": "reset-data"},
    "rest-refused": {"REST": "502 REST not implemented."},
    "retr-refused": {"RETR": "550 No such file."},
    # PASV refused as unknown (EPSV is the way); EPSV replies that do not parse.
    "pasv-refused": {"PASV": "502 Command not implemented."},
    "epsv-family": {"PASV": "500 Unknown command.", "epsv": "229 Entering Extended Passive Mode (|2|::1|{port}|)"},
    "epsv-port-zero": {"PASV": "500 Unknown command.", "epsv": "229 Entering Extended Passive Mode (|||0|)"},
    # Half the data, then 426 alone, and silence until the client leaves.
    "lone-426": {"transfer": "lone-426"},
    "pass-needs-tls": {"PASS": "530 Non-anonymous sessions must use encryption."},
    # Faults: no greeting at all; the control connection closed after the reply
    # to the first CWD, in order (FIN) or abortively (RST); the end reply of a
    # transfer never sent; the data connection kept open without data.
    "silent": {"silent": True},
    "hangup-after-cwd": {"hangup-after": "CWD"},
    "reset-after-cwd": {"reset-after": "CWD"},
    "no-end-reply": {"transfer": "no-end-reply"},
    "stall-data": {"transfer": "stall-data"},
    # 1000 bytes, then one byte every quarter of a second: never silent for
    # long, never fast; until the client closes the data connection (then 426).
    "drip-data": {"transfer": "drip-data"},
    # TLS: AUTH refused; a forged reply sent in clear right behind the 234;
    # the connection closed where the handshake should begin.
    "auth-refused": {"AUTH": "500 AUTH not understood."},
    "auth-then-clear-text": {"AUTH": "234 Go ahead.\r\n230 Forged login.\r\n"},
    "auth-then-hangup": {"AUTH": "234 Go ahead.", "hangup-after": "AUTH"},
    # Without end: a file, a listing of short lines, a listing of one line;
    # sent until the client closes the data connection, then 426 (the ABOR
    # is answered 226), or nothing at all (silent).
    "endless-file": {"transfer": "endless", "endless": "file", "ABOR": "226 Abort successful."},
    "endless-file-silent": {"transfer": "endless-silent", "endless": "file"},
    "endless-listing-lines": {"transfer": "endless", "endless": "lines"},
    "endless-listing-line": {"transfer": "endless", "endless": "line"},
    # 100000 listing lines, and one more without a line end.
    "listing-at-line-bound": {"listing": b"up240101.zip\r\n" * 100000},
    "listing-past-line-bound": {"listing": b"up240101.zip\r\n" * 100000 + b"x"},
}

ENDLESS = {"file": DATA, "lines": b"up240101.zip\r\n" * 4096, "line": b"x" * 65536}


class Session:
    def __init__(self, conn, scenario, transcript):
        self.conn = conn
        self.sc = SCENARIOS[scenario]
        self.transcript = transcript
        self.file = conn.makefile("rb")
        self.data_listener = None

    def send(self, text):
        self.conn.sendall(text.encode() if text.endswith("\n") else (text + "\r\n").encode())

    def listen_for_data(self):
        if self.data_listener:
            self.data_listener.close()
        self.data_listener = socket.socket(self.conn.family)
        self.data_listener.bind((self.conn.getsockname()[0], 0))
        self.data_listener.listen(1)
        return self.data_listener.getsockname()[1]

    def epsv(self):
        port = self.listen_for_data()
        fmt = self.sc.get("epsv", "229 Entering Extended Passive Mode (|||{port}|)")
        self.send(fmt.format(port=port))

    def pasv(self):
        port = self.listen_for_data()
        p1, p2 = port >> 8, port & 255
        nums = "127,0,0,1,%d,%d" % (p1, p2)
        fmt = self.sc.get("pasv", "227 Entering Passive Mode ({nums}).")
        self.send(fmt.format(nums=nums, p1=p1, p2=p2))

    def transfer(self, payload):
        self.send("150 Opening BINARY mode data connection.")
        self.data_listener.settimeout(10)
        data, _ = self.data_listener.accept()
        mode = self.sc.get("transfer", "ok")
        if mode == "ok":
            data.sendall(payload)
            data.close()
            self.send("226 Transfer complete.")
        elif mode == "abort":
            data.sendall(payload[:1000])
            data.close()
            self.send("426 Connection closed; transfer aborted.\r\n226 Closing data connection.\r\n")
        elif mode == "lone-426":
            data.sendall(payload[: len(payload) // 2])
            data.close()
            self.send("426 Failure writing network stream.")
            self.drain()
            return False
        elif mode == "drop-control":
            data.sendall(payload[:1000])
            self.conn.shutdown(socket.SHUT_RDWR)
            self.conn.close()
            data.sendall(payload[1000:])
            data.close()
            return False
        elif mode == "no-end-reply":
            data.sendall(payload)
            data.close()
        elif mode == "stall-data":
            data.sendall(payload[:1000])
            self.drain()
            data.close()
            return False
        elif mode == "drip-data":
            data.sendall(payload[:1000])
            try:
                for i in range(240):  # a minute at most
                    time.sleep(0.25)
                    data.sendall(payload[1000 + i : 1001 + i])
            except OSError:
                pass
            data.close()
            self.send("426 Connection closed; transfer aborted.")
        elif mode in ("endless", "endless-silent"):
            data.settimeout(30)
            try:
                while True:
                    data.sendall(ENDLESS[self.sc["endless"]])
            except OSError:
                pass
            data.close()
            if mode == "endless-silent":
                self.drain()
                return False
            self.send("426 Connection closed; transfer aborted.")
        elif mode == "reset-data":
            data.sendall(payload[:1000])
            data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            data.close()
            self.send("426 Connection reset.\r\n226 Closing data connection.\r\n")
        return True

    def drain(self):
        """Reads until the client closes the control connection."""
        while self.file.readline():
            pass

    def run(self):
        if self.sc.get("silent"):
            self.drain()
            return
        self.send(self.sc.get("greeting", "220 Fake server ready."))
        while True:
            line = self.file.readline()
            if not line:
                return
            with open(self.transcript, "ab") as t:
                t.write(line)
            text = line.decode("latin-1").rstrip("\r\n")
            verb = text.split(" ", 1)[0].upper()
            if verb in self.sc:
                self.send(self.sc[verb])
            elif verb == "USER":
                self.send("331 Password required.")
            elif verb == "PASS":
                self.send("230 Logged in.")
            elif verb == "TYPE":
                self.send("200 Type set.")
            elif verb == "SYST":
                self.send("215 UNIX Type: L8")
            elif verb == "CWD":
                self.send("250 Directory changed.")
            elif verb == "REST":
                self.send("350 Restarting.")
            elif verb == "PASV":
                self.pasv()
            elif verb == "EPSV":
                self.epsv()
            elif verb in ("RETR", "LIST", "NLST"):
                payload = DATA if verb == "RETR" else self.sc.get("listing", b"line one\r\nline two\r\n")
                if not self.transfer(payload):
                    return
            elif verb == "NOOP":
                self.send("200 NOOP ok.")
            elif verb == "ABOR":
                self.send("225 No transfer to abort.")
            elif verb == "QUIT":
                self.send("221 Bye.")
                return
            else:
                self.send("502 Command not implemented.")
            if verb == self.sc.get("hangup-after"):
                self.conn.shutdown(socket.SHUT_WR)
                self.drain()
                return
            if verb == self.sc.get("reset-after"):
                self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.file.close()
                self.conn.close()
                return


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--transcript", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET6 if ":" in args.host else socket.AF_INET)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(1)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    listener.settimeout(60)
    conn, _ = listener.accept()
    try:
        Session(conn, args.scenario, args.transcript).run()
    except (BrokenPipeError, ConnectionResetError, socket.timeout):
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
