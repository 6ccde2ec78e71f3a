"""The Python client package against the program on the simulated reader, in a
private runtime folder; against a stand-in server for what the program does
not do on cue (restart, send nonsense); and against sockets it must not trust."""

import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import kalvor_link

BIN = os.environ["KALVOR_BIN_DIR"]
NOBODY = 65534


class AgainstTheProgram(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.TemporaryDirectory()
        runtime = os.path.join(cls.home.name, "run")
        config = os.path.join(cls.home.name, "config")
        os.makedirs(os.path.join(config, "KALVOR"))
        os.mkdir(runtime, 0o700)
        with open(os.path.join(config, "KALVOR", "KALVOR.conf"), "w") as f:
            f.write("[Properties]\nPort=768\n")
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=config,
                   QT_QPA_PLATFORM="offscreen")
        cls.path = os.path.join(runtime, "KALVOR", "link.sock")
        cls.program = subprocess.Popen([os.path.join(BIN, "kalvor"), "--simulate"], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 20
        while True:
            try:
                if kalvor_link.get("reader:model", path=cls.path).value:
                    break
            except kalvor_link.NotRunning:
                if time.monotonic() > deadline or cls.program.poll() is not None:
                    cls.tearDownClass()
                    raise
            time.sleep(0.1)

    @classmethod
    def tearDownClass(cls):
        cls.program.send_signal(signal.SIGCONT)
        cls.program.terminate()
        _, err = cls.program.communicate(timeout=10)
        cls.home.cleanup()
        if cls.program.returncode != 0:
            sys.stderr.write(err.decode(errors="replace"))

    def test_get_and_get_many(self):
        wl = kalvor_link.get("WL", path=self.path)
        self.assertEqual((wl.topic, wl.item, wl.value), ("data", "WL", "510 nm"))
        self.assertGreaterEqual(wl.seq, 1)
        self.assertLess(abs(time.time() - wl.time.timestamp()), 60)
        with kalvor_link.Connection(self.path) as link:
            lamp = link.get("simulator:lamp")
            self.assertEqual((lamp.name, lamp.topic, lamp.item), ("simulator:lamp", "simulator", "lamp"))
            with self.assertRaises(kalvor_link.ItemError) as e:
                link.get_many("A", "nosuch")
            self.assertEqual(e.exception.code, "UNKNOWN_ITEM")
            # The reading count and A of one reading go together: A's seq
            # runs ahead of the count by the same number in every pair.
            offsets = set()
            end = time.monotonic() + 3
            while time.monotonic() < end:
                a, reading = link.get_many("A", "reader:reading")
                offsets.add(a.seq - int(reading.value))
                time.sleep(0.013)
            self.assertEqual(len(offsets), 1, offsets)
            self.assertEqual(link.get("WL").value, "510 nm")  # the connection is still in step

    def test_subscribe_yields_every_reading_until_the_program_falls_silent(self):
        updates = kalvor_link.subscribe("A", "simulator!lamp", path=self.path)
        seen = []
        for u in updates:
            if u.item == "A" and u.value != "Zeroing":
                seen.append(u)
            if len(seen) == 3:
                break
        updates.close()
        self.assertEqual([u.seq for u in seen], list(range(seen[0].seq, seen[0].seq + 3)))
        for u in seen:
            self.assertRegex(u.value, r"^[ -]\d\.\d{3}$|^>3\.0$")
        with self.assertRaises(kalvor_link.ItemError) as e:
            next(kalvor_link.subscribe("A", "nosuch:A", path=self.path))
        self.assertEqual((e.exception.name, e.exception.code), ("nosuch:A", "UNKNOWN_TOPIC"))

        # A stopped program: the subscription raises instead of waiting for ever.
        with kalvor_link.Connection(self.path) as link:
            updates = link.subscribe("WL", liveness=1)
            self.assertEqual(next(updates).value, "510 nm")
            self.program.send_signal(signal.SIGSTOP)
            started = time.monotonic()
            try:
                with self.assertRaises(kalvor_link.TimedOut):
                    next(updates)
            finally:
                self.program.send_signal(signal.SIGCONT)
            self.assertLess(time.monotonic() - started, 3)

    def test_put_and_the_led(self):
        kalvor_link.put("simulator:dosimeter", "0.5", path=self.path)
        self.assertEqual(kalvor_link.get("simulator:dosimeter", path=self.path).value, "0.5")
        kalvor_link.put("simulator:dosimeter", "none", path=self.path)
        with self.assertRaises(kalvor_link.ItemError) as e:
            kalvor_link.put("simulator:dosimeter", 'lots "of"\n', path=self.path)
        self.assertEqual(e.exception.code, "BAD_VALUE")
        with self.assertRaises(kalvor_link.ItemError) as e:
            kalvor_link.put("A", "1", path=self.path)
        self.assertEqual(e.exception.code, "NOT_SUPPORTED")

        def led():
            return kalvor_link.get("simulator:led", path=self.path).value

        # On while the connection that lit it is open; off once it closes.
        with kalvor_link.Connection(self.path) as link:
            link.put("reader:led", "1")
            time.sleep(0.2)
            self.assertEqual(led(), "1")
        self.assertTrue(wait_for(lambda: led() == "0"))
        # A one-call put of "1" is warned of; a time outlives the call.
        with self.assertWarnsRegex(UserWarning, "give a duration"):
            kalvor_link.put("reader:led", "1", path=self.path)
        kalvor_link.put("reader:led", "700", path=self.path)
        time.sleep(0.3)
        self.assertEqual(led(), "1")
        self.assertTrue(wait_for(lambda: led() == "0"))


def wait_for(condition, seconds=3.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return False


class StandIn:
    """A server in this user's private folder that greets as KALVOR does and
    answers each request with the lines `script(connection number, request)`
    gives it. After the reply to a SUB it closes, as a program that ends does."""

    def __init__(self, folder, script):
        self.path = os.path.join(folder, "link.sock")
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(self.path)
        self.listener.listen()
        self.connections = 0
        self.script = script
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            self.connections += 1
            with conn, conn.makefile("rb") as reader:
                try:
                    conn.sendall(b"HELLO LINK/1 KALVOR\n")
                    for request in reader:
                        conn.sendall(self.script(self.connections, request.strip()))
                        if request.startswith(b"SUB"):
                            break
                except OSError:  # the client went first
                    pass

    def close(self):
        self.listener.close()


class AgainstAStandIn(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.folder = os.path.join(self.tmp.name, "KALVOR")
        os.mkdir(self.folder, 0o700)

    def tearDown(self):
        self.tmp.cleanup()

    def test_reconnect_carries_a_subscription_over_a_restart(self):
        # Each program answers the link with the current value, then ends.
        server = StandIn(self.folder, lambda n, request: (
            b'OK SUB data A HOT\nUPDATE data A %d 2026-12-07T10:15:30.123Z " 0.1%d"\n' % (n, n)))
        self.addCleanup(server.close)
        values = []
        for u in kalvor_link.subscribe("A", path=server.path, reconnect=True):
            values.append((u.seq, u.value))
            if len(values) == 2:
                break
        self.assertEqual(values, [(1, " 0.11"), (2, " 0.12")])
        with self.assertRaises(kalvor_link.Disconnected):
            list(kalvor_link.subscribe("A", path=server.path))

    def test_own_errors_for_a_bad_time_out_and_a_malformed_time(self):
        server = StandIn(self.folder, lambda n, request: b'VALUE data A 3 yesterday " 0.1"\n')
        self.addCleanup(server.close)
        for timeout in (0, -1, float("nan"), "5"):
            with self.assertRaises(kalvor_link.ArgumentError):
                kalvor_link.get("A", path=server.path, timeout=timeout)
        with self.assertRaises(ValueError):  # an ArgumentError is one too
            kalvor_link.Connection(server.path, timeout=0)
        with self.assertRaisesRegex(kalvor_link.ProtocolError, "yesterday"):
            kalvor_link.get("A", path=server.path)


class Values(unittest.TestCase):
    def test_quote_round_trip(self):
        for text in ["", " 0.123", 'a "b" \\ c', "tab\there\r\nnext", "\x01\x7f", "é 510 nm"]:
            self.assertEqual(kalvor_link.unquote(kalvor_link.quote(text)), text)
        self.assertEqual(kalvor_link.quote('"\x01'), b'"\\"\\x01"')
        for bad in [b'"\\q"', b'"\\x4"', b'"a"b"', b"abc", b'"\\xff"']:
            with self.assertRaises(kalvor_link.LinkError):
                kalvor_link.unquote(bad)


class Trust(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.folder = os.path.join(self.tmp.name, "KALVOR")
        os.mkdir(self.folder, 0o700)
        self.path = os.path.join(self.folder, "link.sock")
        self.child = None

    def tearDown(self):
        if self.child:
            os.kill(self.child, 9)
            os.waitpid(self.child, 0)
        self.tmp.cleanup()

    def listen(self):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.bind(self.path)
        s.listen()
        self.addCleanup(s.close)

    def test_nothing_there_is_not_running(self):
        with self.assertRaises(kalvor_link.NotRunning):
            kalvor_link.get("A", path=self.path)
        with self.assertRaises(kalvor_link.NotRunning):
            kalvor_link.get("A", path=os.path.join(self.tmp.name, "nosuch", "link.sock"))

    def test_open_folder_and_non_socket_are_refused(self):
        self.listen()
        os.chmod(self.folder, 0o755)
        with self.assertRaisesRegex(kalvor_link.Untrusted, "mode 0755"):
            kalvor_link.get("A", path=self.path)
        os.chmod(self.folder, 0o700)
        os.unlink(self.path)
        open(self.path, "w").close()
        with self.assertRaisesRegex(kalvor_link.Untrusted, "a regular file"):
            kalvor_link.get("A", path=self.path)

    @unittest.skipUnless(os.geteuid() == 0, "needs root to act as a second user")
    def test_other_users_folder_and_server_are_refused(self):
        self.listen()
        os.chown(self.folder, NOBODY, NOBODY)
        with self.assertRaisesRegex(kalvor_link.Untrusted, re.escape("nobody (user id 65534)")):
            kalvor_link.get("A", path=self.path)
        os.chown(self.folder, 0, 0)
        os.unlink(self.path)

        # A socket in this user's folder, served by another user.
        ready_r, ready_w = os.pipe()
        self.child = os.fork()
        if self.child == 0:
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.bind(self.path)
                os.chmod(self.path, 0o777)
                os.setgid(NOBODY)
                os.setuid(NOBODY)
                s.listen()
                os.write(ready_w, b"k")
                while True:
                    c, _ = s.accept()
                    c.sendall(b'HELLO LINK/1 KALVOR\nVALUE data A 1 - " 9.999"\n')
            finally:
                os._exit(1)
        os.close(ready_w)
        self.assertEqual(os.read(ready_r, 1), b"k")
        with self.assertRaisesRegex(kalvor_link.Untrusted, re.escape("runs as nobody")):
            kalvor_link.get("A", path=self.path)


if __name__ == "__main__":
    unittest.main()
