#!/usr/bin/python3
"""A small FTP server that fails on purpose: it serves --root to any user in passive mode, and at
one step of a session (--step) it does what --fault says instead of answering as it should.

Steps: greeting, USER, PASS, PWD, TYPE, PASV, CWD (the first of each), NLST1, NLST2 (the first and
second listing), RETR1, RETR2, RETR3 (the first, second and third retrieval).
Faults, for every step: drop (the control connection is closed), 421 (the server says it is
closing, then closes), error (a 4xx/5xx reply, see ERRORS). For listings and retrievals only:
reset-before (half the data, the data connection reset, then 426), reset-after (all the data, 226,
then the data connection reset), close-426 and close-451 (half the data, the data connection
closed, then that reply), stall (half the data, then nothing at all), listener-closed (the passive
listener closed before the data connection is taken, then 550).

With --tls-cert and --tls-key it speaks TLS as well: AUTH TLS on the control connection, and
every data connection in TLS after PROT P, closed with TLS's closing message when it goes well
(a fault's close or reset cuts it).

Prints "READY <port>" once it listens; serves one session after another until killed.
"""
import argparse
import os
import socket
import ssl
import struct
import sys
import time

ERRORS = {
    "greeting": "554 No service for you (fault).",
    "USER": "530 User refused (fault).",
    "PASS": "530 Login incorrect (fault).",
    "PWD": "550 PWD refused (fault).",
    "TYPE": "504 Type refused (fault).",
    "PASV": "425 No passive mode (fault).",
    "CWD": "550 No such folder (fault).",
    "NLST": "550 Listing refused (fault).",
    "RETR": "550 File refused (fault).",
}


def reset(sock):
    """Closes with a reset instead of an orderly shutdown."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class Session:
    def __init__(self, conn, root, step, fault, context=None):
        self.conn = conn
        self.context = context
        self.protected = False
        self.root = root
        self.cwd = "/"
        self.step = step
        self.fault = fault
        self.counts = {}
        self.listener = None
        self.buffer = b""
        self.hold = []  # sockets kept open by a stalled transfer

    def send(self, text):
        self.conn.sendall((text + "\r\n").encode("latin-1"))

    def lines(self):
        while True:
            while b"\n" not in self.buffer:
                chunk = self.conn.recv(4096)
                if not chunk:
                    return
                self.buffer += chunk
            line, self.buffer = self.buffer.split(b"\n", 1)
            yield line.rstrip(b"\r").decode("latin-1")

    def faulted(self, name):
        """Whether this occurrence of a step is the one that fails."""
        self.counts[name] = self.counts.get(name, 0) + 1
        numbered = name + str(self.counts[name])
        return self.step == numbered or (self.step == name and self.counts[name] == 1)

    def control_fault(self, name):
        """Plays a control-connection fault; returns "closed", "answered" or None."""
        if self.fault == "drop":
            return "closed"
        if self.fault == "421":
            self.send("421 Service closing control connection (fault).")
            return "closed"
        if self.fault == "error":
            self.send(ERRORS[name])
            return "answered"
        return None

    def path(self, name):
        full = os.path.normpath(os.path.join(self.cwd, name or "."))
        return os.path.join(self.root, full.lstrip("/"))

    def run(self):
        if self.faulted("greeting"):
            if self.control_fault("greeting") == "closed":
                return
        else:
            self.send("220 Fault server ready.")
        for line in self.lines():
            verb, _, arg = line.partition(" ")
            verb = verb.upper()
            name = verb if verb in ("USER", "PASS", "PWD", "TYPE", "PASV", "CWD", "NLST", "RETR") else None
            if name and self.faulted(name):
                outcome = self.control_fault(name)
                if outcome == "closed":
                    return
                if outcome == "answered":
                    self.close_listener()
                    continue
                if name in ("NLST", "RETR"):
                    if not self.transfer(name, arg, faulty=True):
                        return
                    continue
            if not self.answer(verb, arg):
                return

    def answer(self, verb, arg):
        if verb == "USER":
            self.send("331 Password required.")
        elif verb == "PASS":
            self.send("230 Logged in.")
        elif verb == "PWD":
            self.send('257 "%s" is the current directory.' % self.cwd)
        elif verb == "CWD":
            target = os.path.normpath(os.path.join(self.cwd, arg)) if arg else "/"
            if target.startswith("//"):
                target = target[1:]
            if os.path.isdir(os.path.join(self.root, target.lstrip("/"))):
                self.cwd = target
                self.send("250 Directory changed.")
            else:
                self.send("550 No such folder.")
        elif verb == "TYPE":
            self.send("200 Type set.")
        elif verb == "AUTH" and self.context is not None:
            self.send("234 Go ahead.")
            self.conn = self.context.wrap_socket(self.conn, server_side=True)
        elif verb == "PBSZ" and self.context is not None:
            self.send("200 PBSZ=0.")
        elif verb == "PROT" and self.context is not None:
            self.protected = arg.upper() == "P"
            self.send("200 Protection set.")
        elif verb == "PASV":
            self.close_listener()
            self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.listener.bind(("127.0.0.1", 0))
            self.listener.listen(1)
            port = self.listener.getsockname()[1]
            self.send("227 Entering Passive Mode (127,0,0,1,%d,%d)." % (port >> 8, port & 255))
        elif verb in ("NLST", "RETR"):
            return self.transfer(verb, arg, faulty=False)
        elif verb == "QUIT":
            self.send("221 Goodbye.")
            return False
        else:
            self.send("502 Not implemented.")
        return True

    def close_listener(self):
        if self.listener is not None:
            self.listener.close()
            self.listener = None

    def content(self, verb, arg):
        if verb == "NLST":
            folder = self.path(arg)
            if not os.path.isdir(folder):
                return None
            return "".join(n + "\r\n" for n in sorted(os.listdir(folder))).encode("utf-8")
        try:
            with open(self.path(arg), "rb") as f:
                return f.read()
        except OSError:
            return None

    def transfer(self, verb, arg, faulty):
        """Returns False when the session ends."""
        if self.listener is None:
            self.send("425 Use PASV first.")
            return True
        data = self.content(verb, arg)
        fault = self.fault if faulty else None
        if data is None or fault == "listener-closed":
            self.close_listener()
            self.send("550 No such file (fault)." if fault else "550 No such file.")
            return True
        self.listener.settimeout(10)
        try:
            dconn, _ = self.listener.accept()
        except OSError:
            self.close_listener()
            self.send("425 No data connection.")
            return True
        self.close_listener()
        self.send("150 Opening data connection.")
        if self.protected:
            dconn = self.context.wrap_socket(dconn, server_side=True)
        half = data[: len(data) // 2]
        if fault is None:
            dconn.sendall(data)
            if self.protected:
                dconn = dconn.unwrap()
            dconn.close()
            self.send("226 Transfer complete.")
        elif fault == "reset-before":
            dconn.sendall(half)
            time.sleep(0.05)
            reset(dconn)
            time.sleep(0.05)
            self.send("426 Connection reset; transfer aborted (fault).")
        elif fault == "reset-after":
            dconn.sendall(data)
            self.send("226 Transfer complete.")
            time.sleep(0.05)
            reset(dconn)
        elif fault in ("close-426", "close-451"):
            dconn.sendall(half)
            dconn.close()
            time.sleep(0.05)
            if fault == "close-426":
                self.send("426 Connection closed; transfer aborted (fault).")
            else:
                self.send("451 Local error in processing (fault).")
        elif fault == "stall":
            dconn.sendall(half)
            self.hold.append(dconn)
        return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True)
    parser.add_argument("--step", required=True)
    parser.add_argument("--fault", required=True)
    parser.add_argument("--tls-cert", default="")
    parser.add_argument("--tls-key", default="")
    args = parser.parse_args()
    context = None
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    print("READY %d" % server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        session = Session(conn, args.root, args.step, args.fault, context)
        try:
            session.run()
        except OSError:
            pass
        finally:
            session.close_listener()
            for s in session.hold:
                s.close()
            session.conn.close()


if __name__ == "__main__":
    sys.exit(main())
