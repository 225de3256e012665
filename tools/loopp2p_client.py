#!/usr/bin/env python3
"""A remote app on the P2P stand-in: reaches a running program by its UID (or its connection
code), starts the AV channel, sends JSON requests as IO-control 0x800 messages, prints every
message it receives (one per line, as received), can wait for messages of given methods (a
notification such as RtpStarted), and can talk audio into a channel or store the audio of a
channel it listens to.

Exit status: 0 done, 1 bad usage, a protocol failure or a message waited for that did not come,
2 no device under the UID or the session or AV channel refused.

Only the standard library is used, so it runs anywhere the program runs.
"""
import argparse
import hashlib
import json
import select
import socket
import struct
import sys
import time

ACCEPTED, REFUSED, AV_START, AV_OK, AV_REFUSED, IOCTRL, AUDIO = 1, 2, 3, 4, 5, 6, 7
IOCTRL_JSON = 0x800
MAX_BODY = 256 * 1024
# What the program's P2P server puts in every audio frame's information; sent the same way.
FRAME_INFO = struct.pack('<HB13x', 137, 2)


class Refused(Exception):
    pass


def checksum(text):
    value = 0
    for ch in text:
        code = ord(ch) if ord(ch) < 256 else 0
        value ^= code - 256 if code > 127 else code
    return '%02x' % (value & 0xFFFFFFFF)


def decode_code(code):
    """The payload (the UID) of a version "01" connection code, or None."""
    if len(code) <= 6 or not code.startswith('01'):
        return None
    try:
        n = int(code[4:6], 16)
    except ValueError:
        n = 0
    if len(code) < n + 10:
        return None
    if checksum(code[:-2]) != code[-2:].lower():
        return None
    return code[6:6 + n]


def bytes_per_frame(pt, rate, channels, ms):
    if pt in (0, 8):
        return rate * channels * ms // 1000
    if pt == 9:
        return 8000 * ms // 1000  # G.722 carries 64 kbit/s whatever its clock says
    if pt in (10, 11):
        return 2 * rate * channels * ms // 1000
    raise ValueError('payload type %d cannot be talked from a raw file' % pt)


class Session:
    def __init__(self, uid, timeout):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            self.sock.connect(b'\0loopp2p/' + uid.encode())
        except OSError:
            raise Refused('no device under UID %s' % uid)
        self.buffer = b''
        self.kept = []
        self.closed = False
        kind, body = self.take({ACCEPTED, REFUSED}, timeout)
        if kind is None:
            raise Refused('the device did not answer')
        if kind == REFUSED:
            raise Refused('session refused: %d' % struct.unpack('>i', body[:4])[0])

    def send(self, kind, body):
        self.sock.sendall(struct.pack('>BI', kind, len(body)) + body)

    def read_frames(self, timeout):
        """Reads what arrives within timeout into self.kept."""
        if self.closed:
            return
        ready, _, _ = select.select([self.sock], [], [], max(timeout, 0))
        if not ready:
            return
        data = self.sock.recv(65536)
        if not data:
            self.closed = True
            return
        self.buffer += data
        while len(self.buffer) >= 5:
            kind, length = struct.unpack('>BI', self.buffer[:5])
            if length > MAX_BODY:
                raise RuntimeError('frame of %d bytes' % length)
            if len(self.buffer) < 5 + length:
                break
            self.kept.append((kind, self.buffer[5:5 + length]))
            self.buffer = self.buffer[5 + length:]

    def take(self, kinds, timeout):
        deadline = time.monotonic() + timeout
        while True:
            for i, (kind, body) in enumerate(self.kept):
                if kind in kinds:
                    del self.kept[i]
                    return kind, body
            left = deadline - time.monotonic()
            if left <= 0 or self.closed:
                return None, None
            self.read_frames(left)

    def start_av(self, account, password, timeout):
        self.send(AV_START, account.encode() + b'\0' + password.encode() + b'\0')
        kind, body = self.take({AV_OK, AV_REFUSED}, timeout)
        if kind is None:
            raise Refused('no answer to the AV start')
        if kind == AV_REFUSED:
            raise Refused('AV start refused: %d' % struct.unpack('>i', body[:4])[0])


class App:
    def __init__(self, session, listen_file):
        self.session = session
        self.listen_file = listen_file
        self.audio_frames = 0
        self.methods_seen = set()

    def pump(self, timeout):
        """Handles what arrives within timeout; returns the JSON messages it printed."""
        self.session.read_frames(timeout)
        messages = []
        rest = []
        for kind, body in self.session.kept:
            if kind == IOCTRL and len(body) >= 4:
                (type_,) = struct.unpack('>I', body[:4])
                if type_ != IOCTRL_JSON:
                    continue
                text = body[4:].decode('utf-8', 'replace')
                print(text, flush=True)
                try:
                    message = json.loads(text)
                except ValueError:
                    continue
                messages.append(message)
                if isinstance(message, dict):
                    self.methods_seen.add(str(message.get('method', '')))
            elif kind == AUDIO and len(body) >= 16:
                self.audio_frames += 1
                packet = body[16:]
                if self.listen_file and len(packet) >= 8:
                    self.listen_file.write(packet[8:])
            else:
                rest.append((kind, body))
        self.session.kept = rest
        return messages

    def request(self, obj, timeout):
        """Sends one request and waits for the reply with its method (or an error reply)."""
        self.session.send(IOCTRL, struct.pack('>I', IOCTRL_JSON) + json.dumps(obj).encode())
        method = str(obj.get('method', '')).lower()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and not self.session.closed:
            for message in self.pump(min(0.05, max(deadline - time.monotonic(), 0))):
                if not isinstance(message, dict):
                    continue
                if str(message.get('method', '')).lower() == method or 'error' in message:
                    return message
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('uid', nargs='?', help='the device UID')
    parser.add_argument('--code', help='a connection code carrying the UID')
    parser.add_argument('--user', help='log in with this user name ...')
    parser.add_argument('--password', default='', help='... and this password (sent as MD5 hex)')
    parser.add_argument('--json', action='append', default=[], help='a request (repeatable)')
    parser.add_argument('--until', action='append', default=[],
                        help='after the last request, wait up to --timeout for a message with this '
                             'method (repeatable; one that came earlier counts)')
    parser.add_argument('--wait', type=float, default=1.0,
                        help='seconds to keep printing after the last request (or --until)')
    parser.add_argument('--timeout', type=float, default=10.0, help='seconds per answer')
    parser.add_argument('--talk', help='raw encoded audio to send in real time')
    parser.add_argument('--pt', type=int, default=0, help='payload type of --talk')
    parser.add_argument('--rate', type=int, default=8000, help='sample rate of --talk')
    parser.add_argument('--channels', type=int, default=1, help='channels of --talk')
    parser.add_argument('--ms', type=int, default=20, help='milliseconds per frame of --talk')
    parser.add_argument('--listen', help='store received audio payloads in this file')
    args = parser.parse_args()

    uid = args.uid
    if args.code:
        uid = decode_code(args.code)
        if uid is None:
            print('not a connection code: %s' % args.code, file=sys.stderr)
            return 1
    if not uid:
        parser.print_usage(sys.stderr)
        return 1

    try:
        session = Session(uid, args.timeout)
        session.start_av(args.user or 'admin', args.password, args.timeout)
    except Refused as refused:
        print(refused, file=sys.stderr)
        return 2

    listen_file = open(args.listen, 'wb') if args.listen else None
    app = App(session, listen_file)
    try:
        if args.user is not None:
            password = hashlib.md5(args.password.encode()).hexdigest()
            app.request({'id': 'login', 'method': 'Login', 'username': args.user,
                         'password': password}, args.timeout)
        for text in args.json:
            if app.request(json.loads(text), args.timeout) is None:
                print('no reply to %s' % text, file=sys.stderr)
        until_deadline = time.monotonic() + args.timeout
        while not set(args.until) <= app.methods_seen:
            left = until_deadline - time.monotonic()
            if left <= 0 or session.closed:
                missing = sorted(set(args.until) - app.methods_seen)
                print('no %s' % ', '.join(missing), file=sys.stderr)
                return 1
            app.pump(min(left, 0.05))

        talk = open(args.talk, 'rb').read() if args.talk else b''
        size = bytes_per_frame(args.pt, args.rate, args.channels, args.ms) if talk else 0
        start = time.monotonic()
        sent = 0
        deadline = start + args.wait
        # Frames go out on the wall clock (frame n at start + n * ms), so the channel receives
        # them in real time; between them the loop prints what arrives.
        while not session.closed:
            now = time.monotonic()
            if talk and sent * size < len(talk):
                due = start + sent * args.ms / 1000.0
                if now >= due:
                    chunk = talk[sent * size:(sent + 1) * size]
                    header = struct.pack('>BBHI', args.pt & 0xFF, args.channels, args.rate & 0xFFFF,
                                         args.ms * 1000)
                    session.send(AUDIO, FRAME_INFO + header + chunk)
                    sent += 1
                    deadline = max(deadline, time.monotonic() + args.wait)
                    continue
                app.pump(min(due - now, 0.05))
            elif now < deadline:
                app.pump(min(deadline - now, 0.05))
            else:
                break
    finally:
        if listen_file:
            listen_file.close()
        session.sock.close()
    if args.listen:
        print('audio frames received: %d' % app.audio_frames, file=sys.stderr)
    return 0


if __name__ == '__main__':
    sys.exit(main())
