#!/usr/bin/env python3
"""A relay in front of a web server that cuts answers short, as a dropped
line would: the first answer for each path ending in one of the given names
stops after half its body, and its connection is closed. Everything else
passes through whole, keep-alive included.

    cut-relay.py PORT_FILE UPSTREAM_PORT NAME...

Listens on a free port of 127.0.0.1 and writes it to PORT_FILE. One thread
per connection; each ends with its connection. Every read and connect is
bounded (30 s), so the relay never holds a test up for longer.
"""
import socket
import sys
import threading

port_file, upstream, names = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
cut_paths = set()
lock = threading.Lock()


def read_head(sock, buffered):
    while b"\r\n\r\n" not in buffered:
        data = sock.recv(65536)
        if not data:
            return None, b""
        buffered += data
    head, rest = buffered.split(b"\r\n\r\n", 1)
    return head + b"\r\n\r\n", rest


def body_length(head):
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            return int(value.strip())
    return 0


def serve(client):
    server = socket.create_connection(("127.0.0.1", upstream), timeout=30)
    client.settimeout(30)
    from_client = from_server = b""
    try:
        while True:
            request, from_client = read_head(client, from_client)
            if request is None:
                return
            path = request.split(b" ", 2)[1].decode("latin-1").split("?")[0]
            server.sendall(request)
            answer, from_server = read_head(server, from_server)
            if answer is None:
                return
            length = body_length(answer)
            cut = False
            if any(path.endswith("/" + n) for n in names) and b"Range:" not in request:
                with lock:
                    cut = path not in cut_paths
                    cut_paths.add(path)
            send = length // 2 if cut else length
            client.sendall(answer)
            while len(from_server) < send:
                data = server.recv(65536)
                if not data:
                    break
                from_server += data
            client.sendall(from_server[:send])
            if cut:
                return
            from_server = from_server[send:]
    except OSError:
        pass
    finally:
        client.close()
        server.close()


listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(16)
with open(port_file, "w") as f:
    f.write(str(listener.getsockname()[1]))
while True:
    connection, _ = listener.accept()
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
