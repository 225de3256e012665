#!/usr/bin/python3
"""A simulated LAN endpoint device for the device tool's tests.

Written apart from the program's own code and from the standard library only, so that its frame
encoder and decoder check the program's. One process serves several identities (MAC, IPv4) on
one raw packet socket. It answers "search", the settings queries and the commands, keeps state
across requests, and can be told to answer late, answer "fail", stay silent and more (faults).

Control: newline-terminated JSON commands on a Unix socket in the run directory, one JSON answer
line each. Every received frame is logged as one JSON line in requests.jsonl.
"""

import argparse
import copy
import heapq
import json
import os
import select
import signal
import socket
import struct
import sys
import time

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4
BROADCAST_MAC = b"\xff" * 6
BROADCAST_IP = b"\xff" * 4


def mac_bytes(text):
    return bytes(int(part, 16) for part in text.split(":"))


def mac_text(raw):
    return ":".join("%02x" % b for b in raw)


def ip_bytes(text):
    return bytes(int(part) for part in text.split("."))


def canonical(obj):
    # Compact, keys in ascending UTF-16 code unit order (what the program writes).
    def key16(k):
        return k.encode("utf-16-be")
    def enc(v):
        if isinstance(v, dict):
            return "{" + ",".join(json.dumps(k, ensure_ascii=False) + ":" + enc(v[k])
                                  for k in sorted(v, key=key16)) + "}"
        if isinstance(v, list):
            return "[" + ",".join(enc(x) for x in v) + "]"
        return json.dumps(v, ensure_ascii=False)
    return enc(obj).encode("utf-8")


def encode_frame(dest_mac, src_mac, sender_mac, sender_ip, target_mac, target_ip, body):
    length = len(body) + 18
    eth = dest_mac + src_mac + struct.pack("!H", 0x0806)
    arp = struct.pack("!HHBBH", 1, 0x0800, 6, 4, 1) + sender_mac + sender_ip + target_mac + target_ip
    header = struct.pack("!HBHIIBHH", 0x8888, 1, length & 0xFFFF, 0, length, 0, 0, length & 0xFFFF)
    return eth + arp + header + body


def check_request(frame):
    """Returns (body dict, None) or (None, reason). Strict: the program must write exactly this."""
    if len(frame) < 60:
        return None, "shorter than 60 bytes"
    if frame[12:14] != b"\x08\x06":
        return None, "ethertype %s" % frame[12:14].hex()
    htype, ptype, hlen, plen, op = struct.unpack("!HHBBH", frame[14:22])
    if (htype, ptype, hlen, plen, op) != (1, 0x0800, 6, 4, 1):
        return None, "arp fields %r" % ((htype, ptype, hlen, plen, op),)
    magic, kind, len1, zero32, len2, flag, zero16, len3 = struct.unpack("!HBHIIBHH", frame[42:60])
    if magic != 0x8888:
        return None, "magic %04x" % magic
    if kind != 1:
        return None, "kind %d" % kind
    body = frame[60:]
    want = len(body) + 18
    if len1 != want & 0xFFFF or len3 != want & 0xFFFF or len2 != want:
        return None, "length fields %d/%d/%d for %d" % (len1, len2, len3, want)
    if flag != 0 or zero32 != 0 or zero16 != 0:
        return None, "reserved bytes not zero"
    if frame[6:12] != frame[22:28]:
        return None, "ethernet source differs from ARP sender"
    if frame[0:6] != frame[32:38]:
        return None, "ethernet destination differs from ARP target"
    try:
        obj = json.loads(body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as error:
        return None, "json: %s" % error
    if not isinstance(obj, dict):
        return None, "json is not an object"
    if not isinstance(obj.get("id"), int) or isinstance(obj.get("id"), bool):
        return None, "id is not a number"
    if not isinstance(obj.get("method"), str):
        return None, "method is not a string"
    return obj, None


SIP_KEYS = ["serverHost", "serverPort", "protocol", "displayName", "authName", "account", "password",
            "expires", "proxyStatus", "proxyHost", "proxyPort"]
INFO_KEYS = ["name", "ip", "mac", "IpMode", "netmask", "gateway", "dns1", "dns2", "appVersion", "account",
             "password", "micVolume", "outVolume", "autoMute", "rtpInfo", "sipInfo", "httpPort", "https",
             "httpsPort"]


class Identity:
    def __init__(self, config):
        self.config = copy.deepcopy(config)
        self.faults = []  # list of dicts: {"method": m or "*", "count": n or -1, ...}
        self.reset()

    def reset(self):
        c = self.config
        self.mac = mac_bytes(c["mac"])
        self.ip = ip_bytes(c["ip"])
        self.info = {k: v for k, v in c.get("info", {}).items()}
        self.info.setdefault("mac", c["mac"])
        self.info.setdefault("ip", c["ip"])
        self.sip = [copy.deepcopy(c.get("sip0", {})), copy.deepcopy(c.get("sip1", {}))]
        self.rtp = copy.deepcopy(c.get("rtp", {}))
        self.silent_until = 0.0
        self.follow_new_address = c.get("followNewAddress", True)

    def for_me(self, frame):
        dest, target_mac, target_ip = frame[0:6], frame[32:38], frame[38:42]
        return (dest in (self.mac, BROADCAST_MAC) and target_mac in (self.mac, BROADCAST_MAC)
                and target_ip in (self.ip, BROADCAST_IP))

    def take_fault(self, method):
        for fault in self.faults:
            if fault.get("method", "*") in ("*", method):
                if fault.get("count", -1) > 0:
                    fault["count"] -= 1
                    if fault["count"] == 0:
                        self.faults.remove(fault)
                return fault
        return None

    def handle(self, request):
        """The reply object for a request (result success), before faults."""
        method = request["method"]
        reply = {"id": request["id"], "method": method, "result": "success"}
        if method == "search":
            reply.update(self.info)
            reply["id"] = request["id"]
            reply["method"] = method
            reply["result"] = "success"
        elif method == "GetSipSettings":
            reply["sip0"] = self.sip[0]
            if self.config.get("sip1Missing"):
                pass
            else:
                reply["sip1"] = self.sip[1]
        elif method == "GetRtpSettings":
            reply.update(self.rtp)
        elif method == "SetName":
            self.info["name"] = request.get("name", "")
        elif method == "SetIp":
            mode = request.get("IpMode")
            self.info["IpMode"] = mode
            if mode == "static":
                for key in ("ip", "netmask", "gateway", "dns1", "dns2"):
                    self.info[key] = request.get(key, "")
                self.pending_ip = self.info["ip"]
        elif method == "SetMac":
            self.info["mac"] = request.get("mac", "")
            self.pending_mac = self.info["mac"]
        elif method == "SetSipSettings":
            for i in (0, 1):
                line = request.get("sip%d" % i)
                if isinstance(line, dict):
                    self.sip[i] = dict(line)
        elif method == "SetRtpSettings":
            for i in range(10):
                self.rtp.pop("rtp%d" % i, None)
            for i in range(10):
                entry = request.get("rtp%d" % i)
                if isinstance(entry, dict):
                    self.rtp["rtp%d" % i] = {"rtpIp": entry.get("rtpIp", ""), "rtpPort": entry.get("rtpPort", "")}
        elif method == "SetDeviceVolume":
            for key in ("micVolume", "outVolume", "autoMute"):
                self.info[key] = request.get(key)
        elif method == "SetAccountPassword":
            self.info["account"] = request.get("account", "")
            self.info["password"] = request.get("password", "")
        elif method == "PlayVolume":
            pass
        elif method == "reboot":
            self.silent_until = time.monotonic() + float(self.config.get("rebootSeconds", 2.0))
        elif method == "ResetDefault":
            self.reset_after = True
        else:
            reply["result"] = "fail"
        return reply

    def after_reply(self):
        if getattr(self, "reset_after", False):
            self.reset_after = False
            self.reset()
        if getattr(self, "pending_ip", None) is not None:
            if self.follow_new_address:
                try:
                    self.ip = ip_bytes(self.pending_ip)
                except ValueError:
                    pass
            self.pending_ip = None
        if getattr(self, "pending_mac", None) is not None:
            if self.follow_new_address:
                try:
                    self.mac = mac_bytes(self.pending_mac)
                except ValueError:
                    pass
            self.pending_mac = None


def generated(plan):
    """Identities made up from a count, for benchmarks: distinct MACs and addresses, each with
    two SIP lines and two RTP destinations."""
    if not plan:
        return []
    devices = []
    prefix = plan.get("ipPrefix", "198.51.100.")
    for i in range(int(plan["count"])):
        devices.append({
            "mac": "02:00:5e:01:%02x:%02x" % (i >> 8, i & 0xFF),
            "ip": "%s%d" % (prefix, i % 250 + 1) if i < 250 else "203.0.113.%d" % (i - 249),
            "info": {"name": "Device %03d" % i, "IpMode": "dhcp", "netmask": "255.255.255.0",
                     "micVolume": 50, "outVolume": 50, "autoMute": 0},
            "sip0": {"serverHost": "192.0.2.200", "serverPort": "5060", "account": str(1000 + i),
                     "expires": 3600},
            "sip1": {"expires": "0"},
            "rtp": {"rtp0": {"rtpIp": "239.255.1.%d" % (i % 250 + 1), "rtpPort": 8000},
                    "rtp1": {"address": "239.255.2.1:9000"}},
        })
    return devices


class Simulator:
    def __init__(self, interface, config, directory, max_seconds):
        self.interface = interface
        self.directory = directory
        self.deadline = time.monotonic() + max_seconds
        self.identities = [Identity(c) for c in config.get("devices", []) + generated(config.get("generate"))]
        self.log = open(os.path.join(directory, "requests.jsonl"), "a", buffering=1)
        self.pending = []  # heap of (time, seq, frame)
        self.seq = 0
        self.sock = None
        self.ifindex = 0
        self.open_socket()
        path = os.path.join(directory, "ctl.sock")
        if os.path.exists(path):
            os.unlink(path)
        self.control = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.control.bind(path)
        self.control.listen(4)
        self.clients = {}
        self.running = True

    def open_socket(self):
        if self.sock:
            self.sock.close()
            self.sock = None
        try:
            sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
            sock.bind((self.interface, 0))
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
            sock.setblocking(False)
            self.sock = sock
            self.ifindex = socket.if_nametoindex(self.interface)
        except OSError:
            self.sock = None
            self.ifindex = 0

    def check_interface(self):
        # The tool-side interface may be deleted and made again (its peer, this one, with it):
        # follow the new interface by name.
        try:
            index = socket.if_nametoindex(self.interface)
        except OSError:
            index = 0
        if index != self.ifindex or self.sock is None:
            self.open_socket()

    def write_log(self, entry):
        entry["t"] = time.monotonic()
        self.log.write(json.dumps(entry, sort_keys=True) + "\n")

    def send_later(self, delay, frame):
        self.seq += 1
        heapq.heappush(self.pending, (time.monotonic() + delay, self.seq, frame))

    def send_now(self, frame):
        if self.sock is None:
            return
        # Hundreds of identities answer one broadcast at once: a full send buffer waits for
        # room instead of losing the reply.
        for _ in range(200):
            try:
                self.sock.send(frame)
                return
            except BlockingIOError:
                select.select([], [self.sock], [], 0.01)
            except OSError as error:
                self.write_log({"verdict": "send error: %s" % error, "hex": frame[:64].hex()})
                return
        self.write_log({"verdict": "send error: no room", "hex": frame[:64].hex()})

    def reply_frame(self, ident, request_frame, body, pad=0, target_mac=None, target_ip=None):
        sender_mac, sender_ip = request_frame[22:28], request_frame[28:32]
        frame = encode_frame(sender_mac, ident.mac, ident.mac, ident.ip,
                             target_mac if target_mac is not None else sender_mac,
                             target_ip if target_ip is not None else sender_ip, body)
        return frame + b"\x00" * pad

    def on_frame(self, frame):
        if frame[12:14] != b"\x08\x06" or len(frame) < 42:
            return
        if len(frame) < 44 or frame[42:44] != b"\x88\x88":
            return  # the kernels' own ARP traffic
        body, reason = check_request(frame)
        entry = {"hex": frame.hex(), "len": len(frame)}
        if body is None:
            entry["verdict"] = "malformed: " + reason
            self.write_log(entry)
            return
        entry["body"] = body
        entry["canonical"] = canonical(body) == frame[60:]
        matched = [i for i in self.identities if i.for_me(frame)]
        if not matched:
            entry["verdict"] = "no identity"
            self.write_log(entry)
            return
        for ident in matched:
            e = dict(entry)
            e["identity"] = mac_text(ident.mac)
            e["verdict"] = "ok"
            self.answer(ident, frame, body, e)
            self.write_log(e)

    def answer(self, ident, frame, request, entry):
        now = time.monotonic()
        if now < ident.silent_until:
            entry["action"] = "silent (rebooting)"
            return
        fault = ident.take_fault(request["method"]) or {}
        reply = ident.handle(request)
        if fault.get("drop"):
            entry["action"] = "dropped"
            ident.after_reply()
            return
        if "result" in fault:
            if fault["result"] is None:
                reply.pop("result", None)
            else:
                reply["result"] = fault["result"]
        if fault.get("stringId"):
            reply["id"] = str(reply["id"])
        if fault.get("methodCase"):
            reply["method"] = reply["method"].swapcase()
        body = canonical(reply)
        if "body" in fault:
            body = fault["body"].encode("utf-8")
        if fault.get("zeroByte"):
            body = body + b"\x00garbage"
        pad = 1 if fault.get("pad") else 0
        target_mac = mac_bytes(fault["targetMac"]) if "targetMac" in fault else None
        target_ip = ip_bytes(fault["targetIp"]) if "targetIp" in fault else None
        frames = []
        if fault.get("foreignFirst"):
            foreign = dict(reply)
            foreign["id"] = reply["id"] + 1000 if isinstance(reply["id"], int) else 999999
            frames.append(self.reply_frame(ident, frame, canonical(foreign)))
        if fault.get("settingsFirst") and request["method"] == "search":
            for m in ("GetSipSettings", "GetRtpSettings"):
                other = ident.handle({"id": request["id"] + (1 if m == "GetSipSettings" else 2), "method": m})
                frames.append(self.reply_frame(ident, frame, canonical(other)))
        frames.append(self.reply_frame(ident, frame, body, pad, target_mac, target_ip))
        if fault.get("duplicate"):
            frames.append(frames[-1])
        delay = float(fault.get("delay", 0))
        for f in frames:
            self.send_later(delay, f)
        ident.after_reply()
        entry["action"] = "reply %s" % body.decode("utf-8", "replace") + (" after %.3fs" % delay if delay else "")
        entry["fault"] = fault

    def identity(self, mac):
        for ident in self.identities:
            if mac is None or mac_text(ident.mac) == mac or ident.config["mac"] == mac:
                return ident
        return None

    def control_command(self, cmd):
        kind = cmd.get("cmd")
        if kind == "fault":
            targets = self.identities if cmd.get("mac") is None else [self.identity(cmd["mac"])]
            for ident in targets:
                if ident is None:
                    return {"ok": False, "error": "no such identity"}
                fault = dict(cmd.get("fault", {}))
                fault.setdefault("method", cmd.get("method", "*"))
                fault.setdefault("count", cmd.get("count", -1))
                ident.faults.append(fault)
            return {"ok": True}
        if kind == "clear":
            for ident in self.identities:
                ident.faults = []
            return {"ok": True}
        if kind == "reset":
            for ident in self.identities:
                ident.faults = []
                ident.reset()
            return {"ok": True}
        if kind == "clearlog":
            self.log.truncate(0)
            self.log.seek(0)
            return {"ok": True}
        if kind == "raw":
            # A frame of exactly "length" bytes, valid header and a JSON object padded with
            # spaces, from an identity to the tool.
            ident = self.identity(cmd.get("mac"))
            to_mac, to_ip = mac_bytes(cmd["toMac"]), ip_bytes(cmd["toIp"])
            length = int(cmd["length"])
            base = {"id": int(cmd.get("id", 0)), "method": cmd.get("method", "raw"), "result": "success"}
            body = canonical(base)
            body = body[:-1] + b" " * max(0, length - 60 - len(body)) + b"}"
            frame = encode_frame(to_mac, ident.mac, ident.mac, ident.ip, to_mac, to_ip, body)
            self.send_now(frame)
            return {"ok": True, "length": len(frame)}
        if kind == "burst":
            # Foreign frames: valid-looking tool frames for another adapter, or plain junk.
            count, rate = int(cmd.get("count", 1000)), float(cmd.get("rate", 20000))
            ident = self.identities[0]
            kind_of = cmd.get("kind", "foreign")
            if kind_of == "junk":
                frame = ident.mac + b"\x02" * 6 + b"\x08\x00" + b"\x45" * 86
                frame = b"\xff" * 6 + frame[6:]
            else:
                body = canonical({"id": 1, "method": "search", "result": "success"})
                frame = encode_frame(BROADCAST_MAC, ident.mac, ident.mac, ident.ip,
                                     b"\x02\x99\x99\x99\x99\x99", b"\xc6\x33\x64\x01", body)
            started = time.monotonic()
            sent = 0
            while sent < count:
                due = started + sent / rate
                wait = due - time.monotonic()
                if wait > 0.002:
                    time.sleep(wait)
                try:
                    self.sock.send(frame)
                except OSError:
                    # The ring is full: back off briefly and try the same frame again.
                    time.sleep(0.0005)
                    continue
                sent += 1
            return {"ok": True, "sent": sent, "seconds": time.monotonic() - started}
        if kind == "state":
            ident = self.identity(cmd.get("mac"))
            return {"ok": True, "info": ident.info, "sip": ident.sip, "rtp": ident.rtp, "mac": mac_text(ident.mac)}
        if kind == "ping":
            return {"ok": True}
        return {"ok": False, "error": "unknown command"}

    def run(self):
        with open(os.path.join(self.directory, "ready"), "w") as f:
            f.write("ready\n")
        last_check = 0.0
        parent = os.getppid()
        # Ends with the runner that started it, even when that was killed.
        while self.running and time.monotonic() < self.deadline and os.getppid() == parent:
            now = time.monotonic()
            while self.pending and self.pending[0][0] <= now:
                _, _, frame = heapq.heappop(self.pending)
                self.send_now(frame)
            timeout = 0.1
            if self.pending:
                timeout = max(0.0, min(timeout, self.pending[0][0] - now))
            sockets = [self.control] + list(self.clients)
            if self.sock is not None:
                sockets.append(self.sock)
            try:
                readable, _, _ = select.select(sockets, [], [], timeout)
            except InterruptedError:
                continue
            for s in readable:
                if s is self.sock:
                    self.read_frames()
                elif s is self.control:
                    client, _ = self.control.accept()
                    self.clients[client] = b""
                else:
                    self.read_control(s)
            if now - last_check > 0.1:
                last_check = now
                self.check_interface()

    def read_frames(self):
        for _ in range(256):
            try:
                frame, address = self.sock.recvfrom(65536)
            except BlockingIOError:
                return
            except OSError:
                self.open_socket()
                return
            if address[2] == PACKET_OUTGOING:
                continue
            self.on_frame(frame)

    def read_control(self, client):
        try:
            data = client.recv(65536)
        except OSError:
            data = b""
        if not data:
            del self.clients[client]
            client.close()
            return
        buffer = self.clients[client] + data
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            try:
                answer = self.control_command(json.loads(line.decode("utf-8")))
            except Exception as error:  # a test's mistake must not end the simulator
                answer = {"ok": False, "error": repr(error)}
            client.sendall(json.dumps(answer).encode("utf-8") + b"\n")
        self.clients[client] = buffer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--if", dest="interface", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--max-seconds", type=float, default=600)
    args = parser.parse_args()
    with open(args.config) as f:
        config = json.load(f)
    sim = Simulator(args.interface, config, args.dir, args.max_seconds)

    def stop(*_):
        sim.running = False
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    sim.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
