#!/usr/bin/python3
"""A small FTP server on loopback for the tests and the demo download (pyftpdlib).

Prints "READY <port>" on standard output once it listens, then serves until killed.
"""
import argparse
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True, help="folder served as the account's home")
    parser.add_argument("--port", type=int, default=0, help="0: let the system choose")
    parser.add_argument("--user", default="kwmoro")
    parser.add_argument("--password", default="qk47ze19")
    parser.add_argument("--passive", default="", help="passive port range LOW-HIGH")
    parser.add_argument("--greeting", action="append", default=[],
                        help="extra greeting line, sent as 220-TEXT before the banner (repeatable)")
    parser.add_argument("--write", action="store_true", help="allow uploads and changes")
    parser.add_argument("--tls-cert", default="", help="PEM certificate: TLS required on every connection")
    parser.add_argument("--tls-key", default="", help="PEM key of --tls-cert")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, homedir=args.root,
                        perm="elradfmw" if args.write else "elr")

    class Handler(TLS_FTPHandler if args.tls_cert else FTPHandler):
        banner = "Quillstage test server ready."
        auth_failed_timeout = 0

        def on_connect(self):
            for line in args.greeting:
                self.push("220-%s\r\n" % line)

    Handler.authorizer = authorizer
    if args.tls_cert:
        Handler.certfile = args.tls_cert
        Handler.keyfile = args.tls_key
        Handler.tls_control_required = True
        Handler.tls_data_required = True
    if args.passive:
        low, high = (int(x) for x in args.passive.split("-"))
        Handler.passive_ports = range(low, high + 1)

    server = FTPServer(("127.0.0.1", args.port), Handler)
    print("READY %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
