# A TLS host that offers HTTP/2 and answers every request in HTTP/1.1 with
# one file, whatever the client agreed to: a proxy or server whose HTTP/2
# is broken. Runs until killed.
#
#   python3 broken_h2.py PORT CERT KEY FILE
import socket
import ssl
import sys
import threading

port, cert, key, path = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
body = open(path, "rb").read()
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
context.set_alpn_protocols(["h2", "http/1.1"])
listener = socket.create_server(("127.0.0.1", port))


def serve(raw):
    try:
        with context.wrap_socket(raw, server_side=True) as connection:
            request = b""
            while b"\r\n\r\n" not in request:
                chunk = connection.recv(65536)
                if not chunk:
                    return
                request += chunk
            head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body)
            connection.sendall(head + body)
    except OSError:
        pass


while True:
    raw, _ = listener.accept()
    threading.Thread(target=serve, args=(raw,), daemon=True).start()
