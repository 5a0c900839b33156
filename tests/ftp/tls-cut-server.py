#!/usr/bin/python3
"""An FTP server over TLS that sends part of a file and then ends the data connection with or
without closing TLS, and reports the transfer as complete either way: the client must believe
only a properly closed connection.

Usage: tls-cut-server.py CERT KEY SIZE cut|clean|plain|gone-after-331
(plain: the data connection without TLS; gone-after-331: the server closes the control connection
as soon as it has asked for the password, so that the client's PASS goes to a closed connection)
Prints "READY <port>" once it listens; serves one session.
"""
import socket
import ssl
import sys


def main():
    cert, key, size, mode = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.create_server(("127.0.0.1", 0))
    print("READY %d" % listener.getsockname()[1], flush=True)
    conn, _ = listener.accept()
    control = conn.makefile("rwb", buffering=0)
    data_listener = None

    def reply(text):
        control.write((text + "\r\n").encode())

    reply("220 cut server")
    while True:
        line = control.readline()
        if not line:
            return
        command = line.decode(errors="replace").strip().split(" ")[0].upper()
        if command == "AUTH":
            reply("234 go ahead")
            conn = context.wrap_socket(conn, server_side=True)
            control = conn.makefile("rwb", buffering=0)
        elif command == "USER":
            reply("331 password")
            if mode == "gone-after-331":
                conn.close()
                return
        elif command == "PASS":
            reply("230 logged on")
        elif command in ("PBSZ", "PROT", "TYPE"):
            reply("200 ok")
        elif command == "PASV":
            data_listener = socket.create_server(("127.0.0.1", 0))
            port = data_listener.getsockname()[1]
            reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port >> 8, port & 255))
        elif command == "RETR":
            raw, _ = data_listener.accept()
            reply("150 sending")
            if mode == "plain":
                raw.sendall(b"x" * size)
                raw.close()
                reply("226 done")
                continue
            data = context.wrap_socket(raw, server_side=True)
            data.sendall(b"x" * size)
            if mode == "clean":
                data.unwrap().close()
            else:
                data.close()  # no closing message: the connection is simply cut
            reply("226 done")
        elif command == "QUIT":
            reply("221 bye")
            return
        else:
            reply("502 not here")


if __name__ == "__main__":
    main()
