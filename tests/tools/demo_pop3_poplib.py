#!/usr/bin/env python3
"""The demo POP3 server against Python's own POP3 client: every command,
every sample message byte for byte, deletions that last until the server
stops but never touch the sample folder, and 50 clients at once.

usage: demo_pop3_poplib.py <pelicore-demo-pop3> <mail folder>"""

import hashlib
import os
import poplib
import re
import subprocess
import sys
import threading


def folder_digest(folder):
    h = hashlib.sha256()
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            h.update(name.encode() + b"\0" + f.read())
    return h.hexdigest()


def expected_messages(folder):
    out = []
    for name in sorted(n for n in os.listdir(folder) if n.endswith(".eml")):
        with open(os.path.join(folder, name), "rb") as f:
            data = re.sub(rb"(?<!\r)\n", b"\r\n", f.read())
        if not data.endswith(b"\r\n"):
            data += b"\r\n"
        out.append((name[:-4], data))
    return out


def joined(lines):
    return b"".join(line + b"\r\n" for line in lines)


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def login(port):
    p = poplib.POP3("127.0.0.1", port, timeout=20)
    p.user("demo")
    p.pass_("demo")
    return p


def first_session(port, messages):
    p = poplib.POP3("127.0.0.1", port, timeout=20)
    check(p.getwelcome().startswith(b"+OK"), "greeting")
    p.user("demo")
    try:
        p.pass_("wrong")
        raise AssertionError("a wrong password was accepted")
    except poplib.error_proto:
        pass
    p.user("demo")
    p.pass_("demo")
    total = sum(len(m) for _, m in messages)
    check(p.stat() == (len(messages), total), "STAT %r" % (p.stat(),))
    _, listing, _ = p.list()
    check(listing == [b"%d %d" % (i + 1, len(m)) for i, (_, m) in enumerate(messages)], "LIST")
    _, uids, _ = p.uidl()
    check(uids == [b"%d %s" % (i + 1, u.encode()) for i, (u, _) in enumerate(messages)], "UIDL")
    for i, (uid, data) in enumerate(messages, 1):
        check(p.list(i).split() == [b"+OK", b"%d" % i, b"%d" % len(data)], "LIST %d" % i)
        check(p.uidl(i).split() == [b"+OK", b"%d" % i, uid.encode()], "UIDL %d" % i)
        _, lines, _ = p.retr(i)
        check(joined(lines) == data, "RETR %d differs from %s" % (i, uid))
        _, top, _ = p.top(i, 0)
        header = data[: data.index(b"\r\n\r\n") + 4]
        check(joined(top) == header, "TOP %d 0" % i)
    check(p.noop().startswith(b"+OK"), "NOOP")
    for bad in ("RETR 0", "RETR 99", "DELE x", "FROB"):
        try:
            p._shortcmd(bad)
            raise AssertionError("%s was accepted" % bad)
        except poplib.error_proto:
            pass
    p.dele(1)
    check(p.stat()[0] == len(messages) - 1, "STAT after DELE")
    try:
        p.retr(1)
        raise AssertionError("a deleted message was retrieved")
    except poplib.error_proto:
        pass
    p.rset()
    check(p.stat() == (len(messages), total), "STAT after RSET")
    p.dele(2)
    p.quit()


def second_session(port, messages):
    p = login(port)
    left = [m for i, m in enumerate(messages) if i != 1]
    check(p.stat()[0] == len(left), "the deletion lasts after QUIT")
    _, uids, _ = p.uidl()
    check([u.split()[1] for u in uids] == [u.encode() for u, _ in left], "UIDL after the deletion")
    p.quit()
    return left


def many_at_once(port, messages, clients=50):
    failures = []
    start = threading.Barrier(clients)

    def fetch_all():
        try:
            start.wait(timeout=30)
            p = login(port)
            count, _ = p.stat()
            check(count == len(messages), "STAT")
            for i, (uid, data) in enumerate(messages, 1):
                _, lines, _ = p.retr(i)
                check(joined(lines) == data, "RETR %d (%s)" % (i, uid))
            p.quit()
        except Exception as e:  # noqa: BLE001 - every failure is reported
            failures.append(repr(e))

    threads = [threading.Thread(target=fetch_all) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    check(not failures, "%d of %d clients failed: %s" % (len(failures), clients, failures[:3]))


def main():
    program, folder = sys.argv[1], sys.argv[2]
    before = folder_digest(folder)
    messages = expected_messages(folder)
    server = subprocess.Popen([program, "--port", "0", "--folder", folder], stdout=subprocess.PIPE)
    try:
        first = server.stdout.readline().decode()
        port = int(re.search(r"127\.0\.0\.1:(\d+)", first).group(1))
        first_session(port, messages)
        left = second_session(port, messages)
        many_at_once(port, left)
    finally:
        server.terminate()
        server.wait(timeout=10)
    check(folder_digest(folder) == before, "the sample folder was changed")
    print("demo server: every command, %d messages byte for byte, 50 clients at once" % len(messages))


if __name__ == "__main__":
    main()
