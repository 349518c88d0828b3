#!/usr/bin/python3
"""Opens n TCP connections to 127.0.0.1:<port> in parallel batches of 1000 and
closes each without sending a byte. Prints "done <n>". Usage: drop_connections.py <port> <n>"""
import selectors, socket, sys
port, n = int(sys.argv[1]), int(sys.argv[2])
done = 0
while done < n:
    sel = selectors.DefaultSelector()
    batch = []
    for _ in range(min(1000, n - done)):
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        sel.register(s, selectors.EVENT_WRITE)
        batch.append(s)
    waiting = len(batch)
    while waiting:
        for key, _ in sel.select(timeout=30):
            sel.unregister(key.fileobj)
            waiting -= 1
    for s in batch:
        s.close()
    sel.close()
    done += len(batch)
print("done", done)
