# A TLS host that offers HTTP/2 and breaks it, serving one file for every
# path. Runs until killed.
#
#   python3 broken_h2.py PORT CERT KEY FILE [h1|goaway]
#
# h1 (the default): answers every request in HTTP/1.1, whatever the client
# agreed to: a proxy or server whose HTTP/2 is broken.
# goaway: speaks HTTP/2 only, and answers the second request of every
# connection with a GOAWAY that refuses it: a server that ended a
# connection while the client's next request was on its way. HTTP/2 works;
# the request must be asked again.
import socket
import ssl
import struct
import sys
import threading

port, cert, key, path = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
mode = sys.argv[5] if len(sys.argv) > 5 else "h1"
body = open(path, "rb").read()
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
context.set_alpn_protocols(["h2"] if mode == "goaway" else ["h2", "http/1.1"])
listener = socket.create_server(("127.0.0.1", port))


def answer_h1(connection):
    request = b""
    while b"\r\n\r\n" not in request:
        chunk = connection.recv(65536)
        if not chunk:
            return
        request += chunk
    head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body)
    connection.sendall(head + body)


def frame(kind, flags, stream, payload=b""):
    return struct.pack(">I", len(payload))[1:] + bytes([kind, flags]) + struct.pack(">I", stream) + payload


def read_exact(connection, n):
    data = b""
    while len(data) < n:
        chunk = connection.recv(n - len(data))
        if not chunk:
            raise OSError("closed")
        data += chunk
    return data


# Frames just enough of HTTP/2: SETTINGS are acknowledged, each HEADERS is
# a request, answered with ":status 200", content-length and the body. The
# client's window (curl opens it wide in its first frames) is not counted.
def answer_h2(connection):
    if connection.selected_alpn_protocol() != "h2":
        return
    read_exact(connection, 24)  # the client's preface
    connection.sendall(frame(4, 0, 0))
    answered = 0
    while True:
        head = read_exact(connection, 9)
        kind, flags, stream = head[3], head[4], int.from_bytes(head[5:9], "big") & 0x7FFFFFFF
        read_exact(connection, int.from_bytes(head[:3], "big"))
        if kind == 4 and not flags & 1:
            connection.sendall(frame(4, 1, 0))
        if kind != 1:
            continue
        if answered == 1:
            connection.sendall(frame(7, 0, 0, struct.pack(">II", stream - 2, 0)))
            return
        answered += 1
        length = str(len(body)).encode()
        fields = b"\x88\x0f\x0d" + bytes([len(length)]) + length  # :status 200, content-length
        connection.sendall(frame(1, 4, stream, fields))
        for at in range(0, len(body), 16384):  # the frame size every peer takes
            connection.sendall(frame(0, 1 if at + 16384 >= len(body) else 0, stream, body[at : at + 16384]))


def serve(raw):
    try:
        with context.wrap_socket(raw, server_side=True) as connection:
            (answer_h2 if mode == "goaway" else answer_h1)(connection)
    except OSError:
        pass


while True:
    raw, _ = listener.accept()
    threading.Thread(target=serve, args=(raw,), daemon=True).start()
