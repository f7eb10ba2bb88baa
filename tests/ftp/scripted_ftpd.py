#!/usr/bin/env python3
"""A scripted FTP server for the FTP client's tests.

It does what a real server will not do on request: multi-line greetings, 421
at any point, 426 after 150, replies split across packets, never connecting
back, closing early, stalling mid-transfer, over-long lines, and data
connections from a second local address. Each test loads a scenario (a reply
table) through the admin port and afterwards reads the record of what the
client sent.

    scripted_ftpd.py start STATE ADDR FTP-PORT ADMIN-PORT   (detaches; pid in STATE/pid)
    scripted_ftpd.py stop STATE
    scripted_ftpd.py serve ADDR FTP-PORT ADMIN-PORT          (in the foreground)

Admin protocol (one line per request, on ADDR:ADMIN-PORT):
    SCENARIO <json>   load a scenario and clear the record       -> OK
    WAIT <seconds>    wait until no FTP session is open            -> OK | BUSY
    LOG               the record, one entry per line, then "."

Scenario: {"greeting": ACTIONS, "replies": {"VERB": ACTIONS, "VERB#2": ACTIONS},
"unknown": ACTIONS}. "VERB#n" answers the n-th command of that verb in a
session, "VERB" all others. ACTIONS is a text (one reply line per text line,
CR LF added) or a list of such texts and of objects:
    {"send": text}            the text as it is (no line end added)
    {"sleep": seconds}
    {"close": true}           close the control connection, end the session
    {"hang": true}            send nothing more until the client closes
    {"long": n}               n bytes without a line feed
    {"connect": {"from": a}}  open the data connection to the last PORT
                              address, from local address a (default: the
                              control connection's local address); after
                              "passive", accept it on the passive port instead
    {"passive": {"reply": t, "host": h, "full": b, "closed": b}}
                              listen on a fresh port of the control connection's
                              local address and send the reply t, in which
                              {port}, {p1}, {p2} and {h} (h, default the
                              listening address, with commas) are filled in;
                              with "full" the port's queue is kept full so
                              that it never accepts, with "closed" the port
                              is closed again at once
    {"data": {"size": n, "offset": k}} send n bytes of the test pattern
    {"data": {"text": t}}     send a text on the data connection
    {"data_close": true}      close the data connection
    {"data_stall": true}      keep the data connection open and silent until
                              the client closes either connection
    {"wait_data_closed": s}   wait up to s seconds for the client to close the
                              data connection, reading what it sends; records
                              DATA-CLOSED-BY-CLIENT and DATA-RECEIVED <bytes>,
                              or DATA-STILL-OPEN
The record: CONNECT <client address>, each command line as received, DATA-CONNECT <from>,
DATA-CONNECT-FAILED, PASSIVE <port>, DATA-ACCEPT <client address>, DATA-ACCEPT-FAILED,
CLOSED-BY-CLIENT, END.

The test pattern byte at offset i is i % 251. Data connections go only to
loopback addresses (127.0.0.0/8).
"""
import json
import os
import select
import signal
import socket
import subprocess
import sys
import threading
import time

DEFAULT_REPLIES = {
    "USER": "331 Please specify the password.",
    "PASS": "230 Login successful.",
    "CWD": "250 Directory successfully changed.",
    "PWD": '257 "/" is the current directory',
    "TYPE": "200 Switching to Binary mode.",
    "PORT": "200 PORT command successful. Consider using PASV.",
    "REST": "350 Restart position accepted.",
    "RETR": "550 Failed to open file.",
    "NOOP": "200 NOOP ok.",
    "RNFR": "350 Ready for RNTO.",
    "RNTO": "250 Rename successful.",
    "DELE": "250 Delete operation successful.",
    "MKD": '257 "/new" created',
    "RMD": "250 Remove directory operation successful.",
    "QUIT": ["221 Goodbye.", {"close": True}],
}
DEFAULT_GREETING = "220 scripted server ready"
DEFAULT_UNKNOWN = "502 Command not implemented."


def pattern(offset, n):
    start = offset % 251
    block = bytes(range(251))
    out = bytearray()
    first = block[start:]
    out += first[:n]
    while len(out) < n:
        out += block[: n - len(out)]
    return bytes(out)


class State:
    def __init__(self):
        self.lock = threading.Condition()
        self.scenario = {}
        self.log = []
        self.sessions = 0

    def record(self, entry):
        with self.lock:
            self.log.append(entry)


class SessionEnd(Exception):
    pass


class Session:
    def __init__(self, state, conn):
        self.state = state
        self.conn = conn
        self.data = None
        self.port_addr = None
        self.listener = None
        self.fillers = []
        self.counts = {}
        with state.lock:
            self.scenario = state.scenario

    # --- control connection -------------------------------------------------
    def send(self, raw):
        try:
            self.conn.sendall(raw)
        except OSError:
            raise SessionEnd()

    def wait_client_gone(self, watch_data=False, limit=300):
        """Sends nothing until the client closes the control connection (the
        session ends) or, with watch_data, the data connection (returns).
        Commands that come meanwhile are recorded as IGNORED and not answered."""
        end = time.time() + limit
        while time.time() < end:
            socks = [self.conn] + ([self.data] if watch_data and self.data else [])
            r, _, _ = select.select(socks, [], [], 0.2)
            for s in r:
                try:
                    chunk = s.recv(65536)
                except OSError:
                    chunk = b""
                if s is self.conn:
                    if chunk == b"":
                        self.state.record("CLOSED-BY-CLIENT")
                        raise SessionEnd()
                    for line in chunk.decode("latin-1").splitlines():
                        self.state.record("IGNORED " + line)
                elif chunk == b"":
                    self.state.record("DATA-CLOSED-BY-CLIENT")
                    self.close_data()
                    return
        raise SessionEnd()

    # --- data connection ----------------------------------------------------
    def open_passive(self, opts):
        self.close_passive()
        addr = self.conn.getsockname()[0]
        ls = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        ls.bind((addr, 0))
        ls.listen(0)
        port = ls.getsockname()[1]
        if opts.get("full"):
            # Linux drops new connections while the accept queue is full.
            for _ in range(3):
                f = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                f.setblocking(False)
                try:
                    f.connect((addr, port))
                except OSError:
                    pass
                self.fillers.append(f)
            time.sleep(0.2)
        if opts.get("closed"):
            ls.close()
        else:
            self.listener = ls
        self.state.record("PASSIVE %d" % port)
        text = opts["reply"].format(port=port, p1=port // 256, p2=port % 256,
                                    h=opts.get("host", addr).replace(".", ","))
        self.run_actions(text)

    def close_passive(self):
        for s in self.fillers + ([self.listener] if self.listener else []):
            try:
                s.close()
            except OSError:
                pass
        self.fillers = []
        self.listener = None

    def accept_data(self):
        self.listener.settimeout(10)
        try:
            s, peer = self.listener.accept()
        except OSError as e:
            self.state.record("DATA-ACCEPT-FAILED %s" % e)
            return
        finally:
            self.close_passive()
        self.close_data()
        self.data = s
        self.state.record("DATA-ACCEPT " + peer[0])

    def connect_data(self, opts):
        if self.listener:
            self.accept_data()
            return
        if not self.port_addr:
            self.state.record("DATA-CONNECT-FAILED no PORT")
            return
        host, port = self.port_addr
        self.close_data()
        if not host.startswith("127."):
            self.state.record("DATA-CONNECT-FAILED not loopback " + host)
            return
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # From the control connection's own address unless told otherwise, as
        # a real server does.
        src = (opts.get("from") if isinstance(opts, dict) else None) or self.conn.getsockname()[0]
        try:
            s.bind((src, 0))
            s.settimeout(10)
            s.connect((host, port))
            s.settimeout(None)
        except OSError as e:
            s.close()
            self.state.record("DATA-CONNECT-FAILED %s" % e)
            return
        self.data = s
        self.state.record("DATA-CONNECT " + s.getsockname()[0])

    def close_data(self):
        if self.data:
            try:
                self.data.close()
            except OSError:
                pass
            self.data = None

    def send_data(self, opts):
        if not self.data:
            return
        if "text" in opts:
            payload = opts["text"].encode("latin-1")
        else:
            payload = pattern(int(opts.get("offset", 0)), int(opts["size"]))
        try:
            self.data.sendall(payload)
        except OSError:
            self.state.record("DATA-SEND-FAILED")

    # --- scripting ----------------------------------------------------------
    def run_actions(self, actions):
        if actions is None:
            return
        if isinstance(actions, str):
            actions = [actions]
        for a in actions:
            if isinstance(a, str):
                lines = a.split("\n")
                self.send("".join(l + "\r\n" for l in lines).encode("latin-1"))
                continue
            if "send" in a:
                self.send(a["send"].encode("latin-1"))
            elif "sleep" in a:
                time.sleep(float(a["sleep"]))
            elif "close" in a:
                raise SessionEnd()
            elif "hang" in a:
                self.wait_client_gone()
                raise SessionEnd()
            elif "long" in a:
                n = int(a["long"])
                chunk = b"x" * 65536
                while n > 0:
                    self.send(chunk[: min(n, len(chunk))])
                    n -= len(chunk)
            elif "passive" in a:
                self.open_passive(a["passive"])
            elif "connect" in a:
                self.connect_data(a["connect"])
            elif "data" in a:
                self.send_data(a["data"])
            elif "data_close" in a:
                self.close_data()
            elif "data_stall" in a:
                self.wait_client_gone(watch_data=True)
            elif "wait_data_closed" in a:
                self.wait_data_closed(float(a["wait_data_closed"]))

    def wait_data_closed(self, seconds):
        if not self.data:
            return
        end = time.time() + seconds
        received = 0
        while time.time() < end:
            r, _, _ = select.select([self.data], [], [], 0.1)
            if r:
                try:
                    chunk = self.data.recv(65536)
                except OSError:
                    chunk = b""
                if chunk == b"":
                    self.state.record("DATA-CLOSED-BY-CLIENT")
                    self.state.record("DATA-RECEIVED %d" % received)
                    self.close_data()
                    return
                received += len(chunk)
        self.state.record("DATA-STILL-OPEN")

    def reply_for(self, verb):
        n = self.counts.get(verb, 0) + 1
        self.counts[verb] = n
        replies = self.scenario.get("replies", {})
        key = "%s#%d" % (verb, n)
        if key in replies:
            return replies[key]
        if verb in replies:
            return replies[verb]
        if verb in DEFAULT_REPLIES:
            return DEFAULT_REPLIES[verb]
        return self.scenario.get("unknown", DEFAULT_UNKNOWN)

    def handle(self, line):
        self.state.record(line)
        verb = line.split(" ", 1)[0].upper()
        if verb == "PORT":
            try:
                parts = [int(x) for x in line.split(" ", 1)[1].split(",")]
                self.port_addr = ("%d.%d.%d.%d" % tuple(parts[:4]), parts[4] * 256 + parts[5])
            except (IndexError, ValueError):
                self.port_addr = None
        self.run_actions(self.reply_for(verb))

    def run(self):
        self.state.record("CONNECT " + self.conn.getpeername()[0])
        buf = b""
        try:
            self.run_actions(self.scenario.get("greeting", DEFAULT_GREETING))
            while True:
                try:
                    chunk = self.conn.recv(65536)
                except OSError:
                    chunk = b""
                if not chunk:
                    self.state.record("CLOSED-BY-CLIENT")
                    break
                buf += chunk
                while b"\n" in buf:
                    raw, buf = buf.split(b"\n", 1)
                    self.handle(raw.rstrip(b"\r").decode("latin-1"))
        except SessionEnd:
            pass
        finally:
            self.close_data()
            self.close_passive()
            try:
                self.conn.close()
            except OSError:
                pass
            self.state.record("END")
            with self.state.lock:
                self.state.sessions -= 1
                self.state.lock.notify_all()


def serve_ftp(state, addr, port):
    ls = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ls.bind((addr, port))
    ls.listen(8)
    while True:
        conn, _ = ls.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with state.lock:
            state.sessions += 1
        threading.Thread(target=Session(state, conn).run, daemon=True).start()


def serve_admin_client(state, conn):
    f = conn.makefile("rwb")
    try:
        for raw in f:
            line = raw.decode("utf-8").rstrip("\r\n")
            cmd, _, arg = line.partition(" ")
            if cmd == "SCENARIO":
                try:
                    scenario = json.loads(arg) if arg.strip() else {}
                except ValueError as e:
                    f.write(("ERR %s\n" % e).encode())
                    f.flush()
                    continue
                with state.lock:
                    state.scenario = scenario
                    state.log = []
                f.write(b"OK\n")
            elif cmd == "WAIT":
                end = time.time() + float(arg or "10")
                with state.lock:
                    while state.sessions > 0 and time.time() < end:
                        state.lock.wait(0.05)
                    busy = state.sessions > 0
                f.write(b"BUSY\n" if busy else b"OK\n")
            elif cmd == "LOG":
                with state.lock:
                    entries = list(state.log)
                for e in entries:
                    f.write((e + "\n").encode("latin-1"))
                f.write(b".\n")
            else:
                f.write(b"ERR unknown request\n")
            f.flush()
    except OSError:
        pass
    finally:
        conn.close()


def serve(addr, port, admin_port):
    state = State()
    threading.Thread(target=serve_ftp, args=(state, addr, port), daemon=True).start()
    ls = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ls.bind((addr, admin_port))
    ls.listen(8)
    while True:
        conn, _ = ls.accept()
        threading.Thread(target=serve_admin_client, args=(state, conn), daemon=True).start()


def start(state_dir, addr, port, admin_port):
    os.makedirs(state_dir, exist_ok=True)
    stop(state_dir)
    log = open(os.path.join(state_dir, "server.log"), "w")
    p = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", addr, port, admin_port],
                         stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(state_dir, "pid"), "w") as f:
        f.write(str(p.pid))
    for _ in range(200):
        try:
            socket.create_connection((addr, int(admin_port)), timeout=1).close()
            return 0
        except OSError:
            if p.poll() is not None:
                break
            time.sleep(0.05)
    sys.stderr.write("scripted server on %s did not start\n" % addr)
    return 1


def stop(state_dir):
    pid_file = os.path.join(state_dir, "pid")
    if os.path.exists(pid_file):
        try:
            os.kill(int(open(pid_file).read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        os.remove(pid_file)
    return 0


def main(argv):
    if len(argv) >= 6 and argv[1] == "start":
        return start(argv[2], argv[3], argv[4], argv[5])
    if len(argv) >= 3 and argv[1] == "stop":
        return stop(argv[2])
    if len(argv) >= 5 and argv[1] == "serve":
        serve(argv[2], int(argv[3]), int(argv[4]))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
