"""Read, follow and write the data items of a running KALVOR program.

Standard library only. A name is ITEM of topic "data" (A, WL, lblA1, lblA2,
na, nb, nc) or TOPIC:ITEM (TOPIC!ITEM is the same name)::

    import kalvor_link

    a = kalvor_link.get("A")           # Update(name='A', ..., seq=12, time=..., value=' 0.123')
    for u in kalvor_link.subscribe("A", "WL"):
        print(u.name, u.time, u.seq, u.value)
    kalvor_link.put("simulator:lamp", "0")

Like kalvor-link, the module uses a socket only when its folder is a real
directory of this user with mode 0700, the path holds a socket, and the
program serving it runs as this user; otherwise it raises Untrusted.
"""

import datetime
import os
import pwd
import socket
import stat
import struct
from typing import Iterator, NamedTuple, Optional

__all__ = ["Update", "LinkError", "NotRunning", "Untrusted", "ItemError", "Disconnected",
           "socket_path", "get", "subscribe", "put", "quote", "unquote"]

MAX_LINE = 64 * 1024  # a longer incoming line ends the conversation
DEFAULT_TOPIC = "data"


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
    """The text of a quoted value: "..." with \\\\ \\" \\n \\r \\t \\xHH escapes."""
    if len(quoted) < 2 or quoted[:1] != b'"' or quoted[-1:] != b'"':
        raise LinkError("a value must be enclosed in double quotes")
    body, raw, i = quoted[1:-1], bytearray(), 0
    while i < len(body):
        c = body[i]
        if c == 0x22:
            raise LinkError("unescaped double quote inside a value")
        if c != 0x5C:
            raw.append(c)
            i += 1
            continue
        e = body[i + 1] if i + 1 < len(body) else None
        if e == ord("x"):
            digits = body[i + 2:i + 4]
            if len(digits) != 2 or not all(d in b"0123456789abcdefABCDEF" for d in digits):
                raise LinkError("\\x must be followed by two hex digits")
            raw.append(int(digits, 16))
            i += 4
        elif e in _UNESCAPES:
            raw.append(_UNESCAPES[e])
            i += 2
        else:
            raise LinkError("unknown escape in a value")
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        raise LinkError("a value that is not UTF-8") from None


def _split(line: bytes):
    """The blank-separated words of a line and its quoted value, if any."""
    head, sep, rest = line.partition(b'"')
    words = [w.decode("utf-8") for w in head.replace(b"\t", b" ").split(b" ") if w]
    if not sep:
        return words, None
    return words, unquote(b'"' + rest.rstrip(b" \t"))


def _split_name(name: str):
    separators = name.count(":") + name.count("!")
    if separators == 0 and name:
        return DEFAULT_TOPIC, name
    cut = max(name.find(":"), name.find("!"))
    if separators == 1 and 0 < cut < len(name) - 1:
        return name[:cut], name[cut + 1:]
    raise ValueError(f'"{name}" is not ITEM or TOPIC:ITEM')


def _time(text: str) -> Optional[datetime.datetime]:
    if text == "-":
        return None
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))


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

class _Connection:
    def __init__(self, path: Optional[str], timeout: float):
        self.path = path or socket_path()
        self.buffer = b""
        check_path(self.path)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        try:
            self.sock.connect(self.path)
            check_peer(self.sock, self.path)
            hello = self.read_line()
        except (FileNotFoundError, ConnectionRefusedError):
            self.close()
            raise NotRunning(f"no KALVOR program is running (nothing accepts at {self.path})") \
                from None
        except PermissionError:
            self.close()
            raise LinkError(f"permission denied on {self.path}") from None
        except socket.timeout:
            self.close()
            raise LinkError(f"{self.path} did not accept the connection in time") from None
        except BaseException:
            self.close()
            raise
        if not hello.startswith(b"HELLO LINK/1 "):
            self.close()
            raise LinkError(f"{self.path} refused the connection: "
                            f"{hello.decode('utf-8', 'replace')}")

    def close(self):
        self.sock.close()

    def send(self, data: bytes):
        self.sock.sendall(data)

    def read_line(self) -> bytes:
        while b"\n" not in self.buffer:
            if len(self.buffer) > MAX_LINE:
                raise LinkError(f"{self.path} sent a line longer than 64 KiB")
            try:
                chunk = self.sock.recv(MAX_LINE)
            except socket.timeout:
                raise LinkError(f"no reply from {self.path} in time") from None
            if not chunk:
                raise Disconnected("the program closed the connection")
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        if len(line) > MAX_LINE:
            raise LinkError(f"{self.path} sent a line longer than 64 KiB")
        return line[:-1] if line.endswith(b"\r") else line

    def reply(self):
        """The next line as (kind, words, value); ERR as ("ERR", [code], text)."""
        line = self.read_line()
        if line == b"ERR" or line.startswith(b"ERR "):
            code, _, text = line[4:].decode("utf-8", "replace").partition(" ")
            return "ERR", [code], text
        try:
            words, value = _split(line)
        except UnicodeDecodeError:
            raise LinkError("a reply that is not UTF-8") from None
        if not words:
            raise LinkError("reply without a kind")
        return words[0], words[1:], value


def _update(name: str, words, value) -> Update:
    topic, item, seq, time = words
    return Update(name, topic, item, int(seq), _time(time), value)


def get(name: str, *, path: Optional[str] = None, timeout: float = 5.0) -> Update:
    """The current value of one item."""
    topic, item = _split_name(name)
    conn = _Connection(path, timeout)
    try:
        conn.send(f"GET {topic} {item}\n".encode("utf-8"))
        while True:
            kind, words, value = conn.reply()
            if kind == "ERR":
                raise ItemError(name, words[0], value)
            if kind == "VALUE" and len(words) == 4 and value is not None:
                conn.send(b"QUIT\n")
                return _update(name, words, value)
    finally:
        conn.close()


def put(name: str, value: str, *, path: Optional[str] = None, timeout: float = 5.0) -> None:
    """Writes an item where its topic allows it; raises ItemError when refused."""
    topic, item = _split_name(name)
    conn = _Connection(path, timeout)
    try:
        conn.send(f"PUT {topic} {item} ".encode("utf-8") + quote(value) + b"\n")
        while True:
            kind, words, text = conn.reply()
            if kind == "ERR":
                raise ItemError(name, words[0], text)
            if kind == "OK":
                conn.send(b"QUIT\n")
                return
    finally:
        conn.close()


def subscribe(*names: str, path: Optional[str] = None,
              timeout: float = 5.0) -> Iterator[Update]:
    """Yields the current value of each item at once and then every update,
    until the program ends (Disconnected) or the generator is closed.
    An item the program does not serve raises ItemError before anything is
    yielded."""
    targets = [(name, *_split_name(name)) for name in names]
    if not targets:
        raise ValueError("subscribe needs at least one name")
    conn = _Connection(path, timeout)
    try:
        conn.send(b"".join(f"SUB {t} {i} HOT\n".encode("utf-8") for _, t, i in targets))
        pending = list(targets)
        by_key = {(t, i): n for n, t, i in targets}
        early = []  # updates that came before every SUB was answered
        while True:
            kind, words, value = conn.reply()
            if kind in ("OK", "ERR") and pending:
                name, _, _ = pending.pop(0)
                if kind == "ERR":
                    raise ItemError(name, words[0], value)
                if not pending:
                    conn.sock.settimeout(None)  # updates come at the program's pace
                    yield from early
                    early = []
            elif kind == "UPDATE" and len(words) == 4 and value is not None:
                update = _update(by_key.get((words[0], words[1]), f"{words[0]}:{words[1]}"),
                                 words, value)
                if pending:
                    early.append(update)
                else:
                    yield update
    finally:
        conn.close()
