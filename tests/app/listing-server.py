#!/usr/bin/python3
"""An FTP server (pyftpdlib) whose names-only listings are given on the command line instead of
read from the folder: it lists names no honest server would, such as "../evil" or "a/b".
Files are served from --root as usual. Prints "READY <port>" once it listens.
"""
import argparse
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True)
    parser.add_argument("--name", action="append", default=[], help="a listed name (repeatable)")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user("kwmoro", "qk47ze19", homedir=args.root, perm="elr")
    listing = "".join(name + "\r\n" for name in args.name).encode("utf-8")

    class Handler(FTPHandler):
        def ftp_NLST(self, path):
            self.push_dtp_data(listing, isproducer=False, cmd="NLST")
            return path

    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("READY %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
