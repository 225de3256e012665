#!/usr/bin/python3
"""Loads a page in headless Chromium and prints what it records.

    chromium_page.py PAGE_URL [--timeout S]

The page sets its title to "done" once it has finished, and keeps what it recorded as text in
the element with id "log". This script starts Chromium with a DevTools port, reads the title
through the DevTools protocol until it says "done" (or the time runs out), prints the log text
on stdout and exits 0; on a time-out it prints what there is and exits 1. Chromium runs with
its own profile folder and is ended before the script exits.
"""
import argparse
import asyncio
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import websockets

CHROMIUM = "/usr/bin/chromium"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def devtools_port(process, deadline):
    pattern = re.compile(rb"DevTools listening on ws://127\.0\.0\.1:(\d+)/")
    seen = b""
    while time.monotonic() < deadline:
        line = process.stderr.readline()
        if not line:
            break
        seen += line
        match = pattern.search(line)
        if match:
            # Chromium goes on writing to stderr: drained, so that it never blocks on a full pipe.
            threading.Thread(target=lambda: process.stderr.read(), daemon=True).start()
            return int(match.group(1))
    sys.stderr.write(seen.decode(errors="replace"))
    return 0


def page_socket(port, deadline):
    while time.monotonic() < deadline:
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=2) as answer:
                for target in json.load(answer):
                    if target.get("type") == "page" and target.get("webSocketDebuggerUrl"):
                        return target["webSocketDebuggerUrl"]
        except OSError:
            pass
        time.sleep(0.1)
    return None


async def read_page(url, deadline):
    async with websockets.connect(url, max_size=None, ping_interval=None) as devtools:
        ids = iter(range(1, 1 << 30))

        async def evaluate(expression):
            call = next(ids)
            await devtools.send(json.dumps({"id": call, "method": "Runtime.evaluate",
                                            "params": {"expression": expression, "returnByValue": True}}))
            while True:
                answer = json.loads(await devtools.recv())
                if answer.get("id") == call:
                    return answer.get("result", {}).get("result", {}).get("value")

        title = None
        while time.monotonic() < deadline:
            title = await evaluate("document.title")
            if title == "done":
                break
            await asyncio.sleep(0.1)
        log = await evaluate("(document.getElementById('log') || {}).textContent || ''")
        return title == "done", log


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--timeout", type=float, default=30.0)
    args = parser.parse_args()
    deadline = time.monotonic() + args.timeout
    profile = tempfile.mkdtemp(prefix="chromium-page-")
    process = subprocess.Popen([CHROMIUM] + FLAGS + ["--user-data-dir=" + profile, "--remote-debugging-port=0",
                                                     args.url],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        port = devtools_port(process, deadline)
        url = page_socket(port, deadline) if port else None
        if not url:
            print("no DevTools page", file=sys.stderr)
            return 1
        done, log = asyncio.run(read_page(url, deadline))
        print(log)
        return 0 if done else 1
    finally:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
