#!/usr/bin/python3
"""A strict WebSocket client (python3-websockets) that speaks to a server and prints what it got.

    ws_session.py URL [--ping TEXT] [--until METHOD]... [--timeout S] MESSAGE...

Each MESSAGE (a JSON object with an "id") is sent once the reply to the one before it (the same
"id") has come. --ping first sends a ping with that payload and waits for the pong that echoes
it. --until waits, after the last reply, for a message whose "method" is METHOD (repeatable, in
any order). Finally the client closes with 1000 and waits for the server's answer.

Every received message is printed as "recv <text>", the pong as "pong", the end as
"closed <code>". The exit code is 0 when everything came in time, else 1. The library refuses
what RFC 6455 forbids a server to send (masked frames, a bad accept key, broken framing) by
dropping the connection, which then shows as a failure.
"""
import argparse
import asyncio
import json
import sys

import websockets


async def session(args):
    async with websockets.connect(args.url, ping_interval=None, max_size=2 ** 21,
                                  open_timeout=args.timeout, close_timeout=args.timeout) as socket:
        if args.ping is not None:
            waiter = await socket.ping(args.ping.encode())
            await asyncio.wait_for(waiter, args.timeout)
            print("pong", flush=True)
        waiting = set(args.until)

        async def receive_until(done):
            while not done():
                text = await asyncio.wait_for(socket.recv(), args.timeout)
                print("recv " + (text if isinstance(text, str) else text.hex()), flush=True)
                try:
                    message = json.loads(text)
                except ValueError:
                    message = None
                if isinstance(message, dict):
                    waiting.discard(message.get("method"))
                    yield message

        for text in args.messages:
            request = json.loads(text)
            await socket.send(text)
            replied = False
            async for message in receive_until(lambda: replied):
                replied = message.get("id") == request.get("id")
        async for _ in receive_until(lambda: not waiting):
            pass
        await socket.close(1000)
        print("closed %d" % socket.close_code, flush=True)
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--ping")
    parser.add_argument("--until", action="append", default=[])
    parser.add_argument("--timeout", type=float, default=10.0)
    parser.add_argument("messages", nargs="*")
    args = parser.parse_intermixed_args()
    try:
        return asyncio.run(session(args))
    except (asyncio.TimeoutError, websockets.exceptions.WebSocketException, OSError) as error:
        print("error %s: %s" % (type(error).__name__, error), flush=True)
        return 1


if __name__ == "__main__":
    sys.exit(main())
