"""Read, follow and write the data items of a running KALVOR program.

Standard library only. A name is ITEM of topic "data" (A, WL, lblA1, lblA2,
na, nb, nc) or TOPIC:ITEM (TOPIC!ITEM is the same name)::

    import kalvor_link

    with kalvor_link.Connection() as link:
        a, wl = link.get_many("A", "WL")       # both from the same reading
        link.put("reader:led", "5000")         # the head's LED, lit for 5 s
        for u in link.subscribe("A", "reader:status"):
            print(u.name, u.time, u.seq, u.value)

    a = kalvor_link.get("A")                   # one request, one connection
    kalvor_link.put("simulator:lamp", "0")

Like kalvor-link, the module uses a socket only when its folder is a real
directory of this user with mode 0700, the path holds a socket, and the
program serving it runs as this user; otherwise it raises Untrusted.

Errors are LinkError and its kinds: NotRunning, Untrusted, Disconnected,
TimedOut, ProtocolError, ItemError, and ArgumentError (also a ValueError)
for a name or time-out the module cannot use.
"""

from __future__ import annotations

import collections
import datetime
import math
import os
import pwd
import socket
import stat
import struct
import time as _clock
import warnings
from typing import Deque, Iterator, List, NamedTuple, Optional, Tuple

try:
    from ._version import __version__
except ImportError:  # used from the source tree
    __version__ = "0+unknown"

__all__ = ["Update", "Connection", "LinkError", "NotRunning", "Untrusted", "ItemError",
           "Disconnected", "TimedOut", "ProtocolError", "ArgumentError",
           "socket_path", "get", "get_many", "subscribe", "put", "quote", "unquote",
           "check_path", "check_peer"]

MAX_LINE = 64 * 1024  # a longer incoming line ends the conversation
DEFAULT_TOPIC = "data"
DEFAULT_TIMEOUT = 5.0
DEFAULT_LIVENESS = 10.0
RETRY_SECONDS = 0.5


class Update(NamedTuple):
    """One value of an item. time is None for an item that was never set."""
    name: str
    topic: str
    item: str
    seq: int
    time: Optional[datetime.datetime]
    value: str


class LinkError(Exception):
    """The conversation with the program failed."""


class NotRunning(LinkError):
    """No KALVOR program serves at the socket path."""


class Untrusted(LinkError):
    """Something is at the socket path that this user must not trust."""


class Disconnected(LinkError):
    """The program closed the connection."""


class TimedOut(LinkError):
    """The program sent nothing within the time allowed (a reply's time-out,
    or a subscription's liveness time-out: a program stopped or hanging)."""


class ProtocolError(LinkError):
    """The program sent something that is not the link protocol: a malformed
    line, value, time or number."""


class ArgumentError(LinkError, ValueError):
    """A name, value or time-out that the module cannot use."""


class ItemError(LinkError):
    """The program answered a request with ERR <code> <text>."""

    def __init__(self, name: str, code: str, text: str):
        super().__init__(f"{name}: {code} {text}".strip())
        self.name, self.code, self.text = name, code, text


def socket_path() -> str:
    """$XDG_RUNTIME_DIR/KALVOR/link.sock, or /tmp/KALVOR-<uid>/link.sock."""
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if runtime and os.path.isabs(runtime):
        return os.path.join(os.path.normpath(runtime), "KALVOR", "link.sock")
    return f"/tmp/KALVOR-{os.getuid()}/link.sock"


# ---- values on the wire ---------------------------------------------------

_ESCAPES = {0x5C: b"\\\\", 0x22: b'\\"', 0x0A: b"\\n", 0x0D: b"\\r", 0x09: b"\\t"}
_UNESCAPES = {ord("\\"): 0x5C, ord('"'): 0x22, ord("n"): 0x0A, ord("r"): 0x0D, ord("t"): 0x09}


def quote(text: str) -> bytes:
    """The quoted wire form of a text."""
    out = bytearray(b'"')
    for c in text.encode("utf-8"):
        if c in _ESCAPES:
            out += _ESCAPES[c]
        elif c < 0x20 or c == 0x7F:
            out += b"\\x%02X" % c
        else:
            out.append(c)
    return bytes(out + b'"')


def unquote(quoted: bytes) -> str:
    """The text of a quoted value: "..." with \\\\ \\" \\n \\r \\t \\xHH escapes.
    Raises ProtocolError when `quoted` is none."""
    if len(quoted) < 2 or quoted[:1] != b'"' or quoted[-1:] != b'"':
        raise ProtocolError("a value must be enclosed in double quotes")
    body, raw, i = quoted[1:-1], bytearray(), 0
    while i < len(body):
        c = body[i]
        if c == 0x22:
            raise ProtocolError("unescaped double quote inside a value")
        if c != 0x5C:
            raw.append(c)
            i += 1
            continue
        e = body[i + 1] if i + 1 < len(body) else None
        if e == ord("x"):
            digits = body[i + 2:i + 4]
            if len(digits) != 2 or not all(d in b"0123456789abcdefABCDEF" for d in digits):
                raise ProtocolError("\\x must be followed by two hex digits")
            raw.append(int(digits, 16))
            i += 4
        elif e in _UNESCAPES:
            raw.append(_UNESCAPES[e])
            i += 2
        else:
            raise ProtocolError("unknown escape in a value")
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        raise ProtocolError("a value that is not UTF-8") from None


def _split(line: bytes) -> Tuple[List[str], Optional[str]]:
    """The blank-separated words of a line and its quoted value, if any."""
    head, sep, rest = line.partition(b'"')
    try:
        words = [w.decode("utf-8") for w in head.replace(b"\t", b" ").split(b" ") if w]
    except UnicodeDecodeError:
        raise ProtocolError("a reply that is not UTF-8") from None
    if not sep:
        return words, None
    return words, unquote(b'"' + rest.rstrip(b" \t"))


def _split_name(name: str) -> Tuple[str, str]:
    if not isinstance(name, str):
        raise ArgumentError(f"a name is text, not {type(name).__name__}")
    separators = name.count(":") + name.count("!")
    if separators == 0 and name:
        topic, item = DEFAULT_TOPIC, name
    else:
        cut = max(name.find(":"), name.find("!"))
        if separators != 1 or not 0 < cut < len(name) - 1:
            raise ArgumentError(f'"{name}" is not ITEM or TOPIC:ITEM')
        topic, item = name[:cut], name[cut + 1:]
    if any(c.isspace() or c == '"' or ord(c) < 0x20 or ord(c) == 0x7F for c in topic + item):
        raise ArgumentError(f'"{name}" is not a valid name')
    return topic, item


def _seconds(what: str, value: Optional[float], *, optional: bool = False) -> Optional[float]:
    """A time-out as given: a finite number of seconds greater than 0
    (None too where `optional`)."""
    if value is None and optional:
        return None
    if isinstance(value, bool) or not isinstance(value, (int, float)) or \
            not math.isfinite(value) or value <= 0:
        raise ArgumentError(f"{what} must be a number of seconds greater than 0, not {value!r}")
    return float(value)


def _time(text: str) -> Optional[datetime.datetime]:
    """The server's time of a set: UTC ISO 8601 with milliseconds, or "-"."""
    if text == "-":
        return None
    if not text.endswith("Z"):
        raise ProtocolError(f'"{text}" is no UTC time')
    try:
        moment = datetime.datetime.fromisoformat(text[:-1] + "+00:00")
    except ValueError:
        raise ProtocolError(f'"{text}" is no time') from None
    return moment


def _update(name: str, words: List[str], value: Optional[str]) -> Update:
    if len(words) != 4 or value is None:
        raise ProtocolError(f"a value line with {len(words)} fields")
    topic, item, seq, when = words
    if not seq.isdigit():
        raise ProtocolError(f'"{seq}" is no sequence number')
    return Update(name, topic, item, int(seq), _time(when), value)


# ---- trust ------------------------------------------------------------------

def _user(uid: int) -> str:
    try:
        return f"{pwd.getpwuid(uid).pw_name} (user id {uid})"
    except KeyError:
        return f"user id {uid}"


def _kind(mode: int) -> str:
    for test, name in ((stat.S_ISLNK, "a symbolic link"), (stat.S_ISREG, "a regular file"),
                       (stat.S_ISDIR, "a directory"), (stat.S_ISFIFO, "a named pipe")):
        if test(mode):
            return name
    return "not a socket"


def check_path(path: str) -> None:
    """Raises NotRunning or Untrusted unless `path` is a socket that may be trusted."""
    folder = os.path.dirname(os.path.abspath(path))
    refusing = f"not trusting {path}: "
    try:
        st = os.lstat(folder)
    except (FileNotFoundError, NotADirectoryError):
        raise NotRunning(f"no KALVOR program is running (no socket at {path})") from None
    except OSError as e:
        raise Untrusted(refusing + f"cannot inspect its folder {folder}: {e.strerror}") from None
    owner, you = _user(st.st_uid), _user(os.geteuid())
    if not stat.S_ISDIR(st.st_mode):
        raise Untrusted(refusing + f"its folder {folder} is {_kind(st.st_mode)} of {owner}, "
                        "not a real directory; someone may be posing as KALVOR")
    if st.st_uid != os.geteuid():
        raise Untrusted(refusing + f"its folder {folder} belongs to {owner}, not to you, {you}; "
                        "another user may have made it to pose as KALVOR "
                        "(only its owner or root can remove it)")
    if st.st_mode & 0o777 != 0o700:
        raise Untrusted(refusing + f"its folder {folder} (owner {owner}) has mode "
                        f"0{st.st_mode & 0o7777:03o}, not 0700, so other users could have "
                        "put the socket there")
    try:
        st = os.lstat(path)
    except FileNotFoundError:
        raise NotRunning(f"no KALVOR program is running (no socket at {path})") from None
    except OSError as e:
        raise Untrusted(refusing + f"cannot inspect it: {e.strerror}") from None
    if not stat.S_ISSOCK(st.st_mode):
        raise Untrusted(refusing + f"it is {_kind(st.st_mode)} of {_user(st.st_uid)}, "
                        "not a socket")


def check_peer(sock: socket.socket, path: str) -> None:
    """Raises Untrusted unless the program at the other end runs as this user."""
    creds = sock.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("iII"))
    _pid, uid, _gid = struct.unpack("iII", creds)
    if uid != os.geteuid():
        raise Untrusted(f"not trusting {path}: the program serving it runs as {_user(uid)}, "
                        f"not as you, {_user(os.geteuid())}")


# ---- the conversation -------------------------------------------------------

class Connection:
    """One connection to the running KALVOR program, for as many requests as
    the script makes; a context manager that closes it at the end::

        with kalvor_link.Connection(timeout=2) as link:
            link.put("reader:led", "1")        # lit while the connection is open
            print(link.get("A").value)

    `path` names another socket (default socket_path()); `timeout` is the
    seconds to wait for each reply. With `reconnect`, a request on a
    connection the program has closed (it ended, or it closed the connection
    after 5 minutes without a request or a link) connects again first, and
    subscribe() carries on across restarts of the program.

    Raises NotRunning, Untrusted or LinkError when it cannot connect.
    """

    def __init__(self, path: Optional[str] = None, *, timeout: float = DEFAULT_TIMEOUT,
                 reconnect: bool = False):
        self.path: str = os.path.abspath(path or socket_path())
        self.timeout: float = _seconds("timeout", timeout)  # type: ignore[assignment]
        self.reconnect = reconnect
        self._sock: Optional[socket.socket] = None
        self._buffer = b""
        self._updates: Deque[Tuple[List[str], Optional[str]]] = collections.deque()
        self._pings = 0  # PINGs whose PONG is still to come
        self._open()

    # -- the socket

    def _open(self) -> None:
        self.close()
        check_path(self.path)
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.settimeout(self.timeout)
        self._sock = sock
        try:
            sock.connect(self.path)
            check_peer(sock, self.path)
            hello = self._read_line(_clock.monotonic() + self.timeout)
        except (FileNotFoundError, ConnectionRefusedError):
            self.close()
            raise NotRunning(f"no KALVOR program is running (nothing accepts at {self.path})") \
                from None
        except PermissionError:
            self.close()
            raise LinkError(f"permission denied on {self.path}") from None
        except (socket.timeout, TimedOut):
            self.close()
            raise TimedOut(f"{self.path} did not greet in time") from None
        except BaseException:
            self.close()
            raise
        if not hello.startswith(b"HELLO LINK/1 "):
            self.close()
            raise LinkError(f"{self.path} refused the connection: "
                            f"{hello.decode('utf-8', 'replace')}")

    def close(self) -> None:
        """Closes the connection (the program switches off an LED this
        connection lit, and forgets its links)."""
        if self._sock is not None:
            self._sock.close()
            self._sock = None
        self._buffer = b""
        self._updates.clear()
        self._pings = 0

    @property
    def closed(self) -> bool:
        """True once close() ran or the program was found to have closed it."""
        return self._sock is None

    def __enter__(self) -> "Connection":
        return self

    def __exit__(self, *exc_info) -> None:
        if self._sock is not None:
            try:
                self._sock.sendall(b"QUIT\n")
            except OSError:
                pass
        self.close()

    def _send(self, data: bytes) -> None:
        if self._sock is None:
            if not self.reconnect:
                raise Disconnected("the connection is closed")
            self._open()
        assert self._sock is not None
        try:
            self._sock.settimeout(self.timeout)
            self._sock.sendall(data)
        except socket.timeout:
            self.close()
            raise TimedOut(f"{self.path} took no request within {self.timeout:g} s") from None
        except OSError as e:
            self.close()
            raise Disconnected(f"the program closed the connection ({e.strerror})") from None

    def _read_line(self, deadline: Optional[float]) -> bytes:
        """The next line without its line end; TimedOut after `deadline`
        (time.monotonic()), Disconnected when the program closes."""
        while b"\n" not in self._buffer:
            if len(self._buffer) > MAX_LINE:
                self.close()
                raise ProtocolError(f"{self.path} sent a line longer than 64 KiB")
            if self._sock is None:
                raise Disconnected("the connection is closed")
            left = None if deadline is None else deadline - _clock.monotonic()
            if left is not None and left <= 0:
                raise TimedOut(f"nothing from {self.path} within the time allowed")
            self._sock.settimeout(left)
            try:
                chunk = self._sock.recv(MAX_LINE)
            except socket.timeout:
                raise TimedOut(f"nothing from {self.path} within the time allowed") from None
            except OSError as e:
                self.close()
                raise Disconnected(f"the program closed the connection ({e.strerror})") from None
            if not chunk:
                self.close()
                raise Disconnected("the program closed the connection")
            self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        if len(line) > MAX_LINE:
            self.close()
            raise ProtocolError(f"{self.path} sent a line longer than 64 KiB")
        return line[:-1] if line.endswith(b"\r") else line

    def _line(self, deadline: Optional[float]) -> Tuple[str, List[str], Optional[str]]:
        """The next line as (kind, words, value); ERR as ("ERR", [code], text)."""
        line = self._read_line(deadline)
        if line == b"ERR" or line.startswith(b"ERR "):
            code, _, text = line[4:].decode("utf-8", "replace").partition(" ")
            return "ERR", [code], text
        words, value = _split(line)
        if not words:
            raise ProtocolError("a line without a kind")
        return words[0], words[1:], value

    def _reply(self) -> Tuple[str, List[str], Optional[str]]:
        """The reply to the oldest request; updates of linked items that come
        before it are kept for subscribe()."""
        deadline = _clock.monotonic() + self.timeout
        while True:
            kind, words, value = self._line(deadline)
            if kind in ("UPDATE", "CHANGED"):
                self._updates.append((words, value))
            elif kind == "PONG" and self._pings:
                self._pings -= 1
            elif kind == "ERR" and words == ["IDLE"]:
                self.close()
                raise Disconnected(f"the program closed the idle connection: {value}")
            else:
                return kind, words, value

    def _request(self, data: bytes) -> None:
        """Sends `data`; with `reconnect`, on a new connection when the
        program has closed this one."""
        if self._sock is not None and self.reconnect and self._closed_by_program():
            self.close()
        self._send(data)

    def _closed_by_program(self) -> bool:
        """Whether the program has closed the connection (ERR IDLE, its end)
        without this side having read it yet."""
        assert self._sock is not None
        try:
            self._sock.setblocking(False)
            chunk = self._sock.recv(MAX_LINE, socket.MSG_PEEK)
        except (BlockingIOError, InterruptedError):
            return False
        except OSError:
            return True
        finally:
            if self._sock is not None:
                self._sock.setblocking(True)
        return chunk == b"" or chunk.startswith(b"ERR IDLE") or b"\nERR IDLE" in chunk

    # -- requests

    def get(self, name: str) -> Update:
        """The current value of one item. Raises ItemError when the program
        refuses it (an unknown topic or item)."""
        return self.get_many(name)[0]

    def get_many(self, *names: str) -> List[Update]:
        """The current values of several items, in the order named, as
        `kalvor-link get` gives them: the requests go out together and the
        program answers them in one go, between two readings, so the values
        belong together (A, reader:reading and reader:status of one reading).
        Raises ItemError for the first item the program refuses."""
        targets = [(name, *_split_name(name)) for name in names]
        if not targets:
            raise ArgumentError("get_many needs at least one name")
        self._request(b"".join(f"GET {t} {i}\n".encode("utf-8") for _, t, i in targets))
        values, refused = [], None
        for name, _, _ in targets:  # every reply is read, so the next request finds its own
            kind, words, value = self._reply()
            if kind == "ERR":
                refused = refused or ItemError(name, words[0], value or "")
            elif kind == "VALUE":
                values.append(_update(name, words, value))
            else:
                raise ProtocolError(f"{name}: unexpected reply {kind}")
        if refused:
            raise refused
        return values

    def put(self, name: str, value: str) -> None:
        """Writes an item where its topic allows it: reader:led ("1" lights
        the LED while this connection stays open, "0" switches it off, a
        number of milliseconds from 2 lights it that long), reader:beep (ms),
        the items of topic simulator. Raises ItemError when refused."""
        topic, item = _split_name(name)
        if not isinstance(value, str):
            raise ArgumentError(f"a value is text, not {type(value).__name__}")
        self._request(f"PUT {topic} {item} ".encode("utf-8") + quote(value) + b"\n")
        kind, words, text = self._reply()
        if kind == "ERR":
            raise ItemError(name, words[0], text or "")
        if kind != "OK":
            raise ProtocolError(f"{name}: unexpected reply {kind}")

    def subscribe(self, *names: str, liveness: Optional[float] = DEFAULT_LIVENESS) -> Iterator[Update]:
        """Yields the current value of each item at once and then every
        update, until the program ends (Disconnected) or the generator is
        closed. An item the program does not serve raises ItemError before
        anything is yielded.

        `liveness`: when nothing has come for half of it the connection asks
        the program for a sign of life (PING), and when nothing at all has
        come for `liveness` seconds, raises TimedOut: the program is stopped
        or hangs. None waits for ever. With `reconnect`, the end of the
        program or its silence is no error: the connection is made again
        every half second until the program is back, the items are linked
        again and their values come again, the current ones first (seq starts
        afresh with a new program)."""
        targets = [(name, *_split_name(name)) for name in names]
        if not targets:
            raise ArgumentError("subscribe needs at least one name")
        live = _seconds("liveness", liveness, optional=True)
        by_key = {(t, i): n for n, t, i in targets}
        while True:
            try:
                if self._sock is None:
                    self._open()
                yield from self._follow(targets, by_key, live)
            except (Disconnected, TimedOut, NotRunning):
                if not self.reconnect:
                    raise
                self.close()
                _clock.sleep(RETRY_SECONDS)

    def _follow(self, targets, by_key, live: Optional[float]) -> Iterator[Update]:
        self._send(b"".join(f"SUB {t} {i} HOT\n".encode("utf-8") for _, t, i in targets))
        for name, _, _ in targets:
            kind, words, value = self._reply()
            if kind == "ERR":
                raise ItemError(name, words[0], value or "")
        heard = _clock.monotonic()
        while True:
            while self._updates:
                words, value = self._updates.popleft()
                if len(words) == 4:
                    yield _update(by_key.get((words[0], words[1]), f"{words[0]}:{words[1]}"),
                                  words, value)
            deadline = None
            if live is not None:
                if not self._pings and _clock.monotonic() - heard >= live / 2:
                    self._send(b"PING\n")
                    self._pings += 1
                deadline = heard + (live / 2 if not self._pings else live)
            try:
                kind, words, value = self._line(deadline)
            except TimedOut:
                if self._pings and _clock.monotonic() >= heard + live:
                    self.close()
                    raise TimedOut(f"nothing from {self.path} for {live:g} s: "
                                   "the program is stopped or hangs") from None
                continue
            heard = _clock.monotonic()
            if kind == "PONG" and self._pings:
                self._pings -= 1
            elif kind in ("UPDATE", "CHANGED"):
                self._updates.append((words, value))
            elif kind == "ERR" and words == ["IDLE"]:
                self.close()
                raise Disconnected(f"the program closed the connection: {value}")


# ---- one request, one connection (as kalvor-link does it) -------------------

def get(name: str, *, path: Optional[str] = None, timeout: float = DEFAULT_TIMEOUT) -> Update:
    """The current value of one item."""
    with Connection(path, timeout=timeout) as link:
        return link.get(name)


def get_many(*names: str, path: Optional[str] = None,
             timeout: float = DEFAULT_TIMEOUT) -> List[Update]:
    """The current values of several items, from one reading (see
    Connection.get_many)."""
    with Connection(path, timeout=timeout) as link:
        return link.get_many(*names)


def put(name: str, value: str, *, path: Optional[str] = None,
        timeout: float = DEFAULT_TIMEOUT) -> None:
    """Writes an item where its topic allows it; raises ItemError when refused.

    The connection ends with the call, so reader:led "1" lights the LED only
    for a moment (the program switches it off when the client that lit it
    has gone); that is warned about. Give a duration in milliseconds
    ("5000"), or put it through a Connection that stays open."""
    topic, item = _split_name(name)
    if (topic, item) == ("reader", "led") and isinstance(value, str) and value.strip() == "1":
        warnings.warn("reader:led 1 lights the LED only while the connection that put it is "
                      "open, and this one closes at once: give a duration in ms, such as "
                      "put('reader:led', '5000'), or use a Connection", stacklevel=2)
    with Connection(path, timeout=timeout) as link:
        link.put(name, value)


def subscribe(*names: str, path: Optional[str] = None, timeout: float = DEFAULT_TIMEOUT,
              liveness: Optional[float] = DEFAULT_LIVENESS,
              reconnect: bool = False) -> Iterator[Update]:
    """Yields the current value of each item at once and then every update
    (see Connection.subscribe); with `reconnect` it also waits for a program
    that is not running yet."""
    targets = [_split_name(name) for name in names]
    if not targets:
        raise ArgumentError("subscribe needs at least one name")
    while True:
        try:
            link = Connection(path, timeout=timeout, reconnect=reconnect)
            break
        except (NotRunning, TimedOut):
            if not reconnect:
                raise
            _clock.sleep(RETRY_SECONDS)
    with link:
        yield from link.subscribe(*names, liveness=liveness)
