#!/usr/bin/env python3
"""A slow line in front of the report server, for the tests and the benchmark.

    slow_link.py LISTEN_PORT SERVER_PORT BYTES_PER_SECOND LOG [--lose-first-answer]

Accepts on 127.0.0.1:LISTEN_PORT and passes each connection on to
127.0.0.1:SERVER_PORT, the client's bytes at no more than BYTES_PER_SECOND,
the answers at once. The receive buffer stays at 128 KiB: a loopback buffer
would otherwise grow to tens of MiB and swallow a whole body at once however
slowly it is read. LOG gets one line per connection event, flushed at once:
"open" and "closed N" (N bytes passed on when the client closed or reset).
With --lose-first-answer the answer to the first POST never reaches the
client: once the server has answered it, the line resets the client's
connection, as a line that breaks after the request has gone through.
"""
import socket
import sys
import threading
import time

RECEIVE_BUFFER = 128 * 1024
PIECE = 16 * 1024


def main():
    listen_port, server_port, rate = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    log = open(sys.argv[4], "a", buffering=1)
    # The connections whose answer is to be lost; the first POST's only.
    losing = {"left": 1 if "--lose-first-answer" in sys.argv[5:] else 0, "connections": set()}
    lock = threading.Lock()

    def note(text):
        with lock:
            log.write(text + "\n")

    def pass_up(client, server):
        total, start = 0, time.monotonic()
        try:
            while True:
                data = client.recv(PIECE)
                if not data:
                    break
                if data.startswith(b"POST ") and losing["left"] > 0:
                    with lock:
                        losing["left"] -= 1
                        losing["connections"].add(client)
                server.sendall(data)
                total += len(data)
                delay = start + total / rate - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
        except OSError:
            pass
        note("closed %d" % total)
        try:
            server.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def lose_answer(server, client):
        note("answer lost")
        # Shut down, not only closed: the other thread still waits in recv.
        for end in (client, server):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            end.close()

    def pass_down(server, client):
        try:
            while True:
                data = server.recv(PIECE)
                if not data:
                    break
                if client in losing["connections"]:
                    lose_answer(server, client)  # the server has stored the report and answered
                    return
                client.sendall(data)
            client.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    # Set before listen, so that accepted sockets start with it (and the
    # window scale is chosen for it).
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, RECEIVE_BUFFER)
    listener.bind(("127.0.0.1", listen_port))
    listener.listen(8)
    while True:
        client, _ = listener.accept()
        client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, RECEIVE_BUFFER)
        try:
            server = socket.create_connection(("127.0.0.1", server_port))
        except OSError:
            client.close()
            continue
        note("open")
        threading.Thread(target=pass_up, args=(client, server), daemon=True).start()
        threading.Thread(target=pass_down, args=(server, client), daemon=True).start()


if __name__ == "__main__":
    main()
