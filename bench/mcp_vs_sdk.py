#!/usr/bin/env python3
"""`vemor mcp` against a minimal MCP TypeScript SDK server and a trivial C++ echo server.

1. Server cost per request: 20,000 requests written back to back on a raw pipe; the time from
   the first write to the last response, divided by the count. tools/call of `apps` (real work
   over the simulated desktop) against the SDK server's no-op tool (target: at most 0.25x), and
   tools/list beside it (ours describes 16 tools, the peer one).
2. Round trip through the official SDK client (listTools, callTool one at a time), p50 and p99,
   against the same client talking to the echo server (the floor; target: within 1.2x).

Usage: bench/mcp_vs_sdk.py [BUILD_DIR]   (default build/release; needs bin/vemor, node and
`npm ci` in vemor/mcp/tests/sdk, which scripts/setup runs)
"""
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/release"))
VEMOR = [os.path.join(BUILD, "bin/vemor"), "mcp"]
SDK = ["node", os.path.join(ROOT, "bench/mcp/sdk_server.mjs")]
COUNT = 20000
RTT_COUNT = 2000


def build_floor():
    out = os.path.join(tempfile.mkdtemp(prefix="vemor-mcp-bench-"), "echo_floor")
    subprocess.run(["c++", "-O2", "-std=c++17", "-o", out,
                    os.path.join(ROOT, "bench/mcp/echo_floor.cpp")], check=True)
    return [out]


def line(obj):
    return (json.dumps(obj, separators=(",", ":")) + "\n").encode()


def raw_pipe(command, method, params, rounds=3):
    """Best of `rounds`: microseconds per request for COUNT pipelined requests."""
    best = None
    for _ in range(rounds):
        p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        p.stdin.write(line({"jsonrpc": "2.0", "id": 0, "method": "initialize",
                            "params": {"protocolVersion": "2025-06-18", "capabilities": {},
                                       "clientInfo": {"name": "bench", "version": "1"}}}))
        p.stdin.write(line({"jsonrpc": "2.0", "method": "notifications/initialized"}))
        p.stdin.flush()
        p.stdout.readline()
        payload = b"".join(line({"jsonrpc": "2.0", "id": i + 1, "method": method, "params": params})
                           for i in range(COUNT))

        def write():
            p.stdin.write(payload)
            p.stdin.flush()

        start = time.perf_counter()
        writer = threading.Thread(target=write)
        writer.start()
        seen = 0
        fd = p.stdout.fileno()
        while seen < COUNT:
            chunk = os.read(fd, 1 << 20)
            if not chunk:
                raise RuntimeError(f"{command[0]} ended after {seen} responses")
            seen += chunk.count(b"\n")
        elapsed = time.perf_counter() - start
        writer.join()
        p.stdin.close()
        p.wait()
        per = elapsed / COUNT * 1e6
        best = per if best is None else min(best, per)
    return best


def rtt(command, tool, args):
    out = subprocess.run(["node", os.path.join(ROOT, "bench/mcp/client_rtt.mjs"), str(RTT_COUNT),
                          tool, json.dumps(args)] + command,
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def main():
    floor = build_floor()
    call_apps = {"name": "apps", "arguments": {}}
    call_noop = {"name": "noop", "arguments": {}}
    print(f"Server cost per request, {COUNT} requests back to back on a raw pipe (best of 3):")
    ours_call = raw_pipe(VEMOR, "tools/call", call_apps)
    peer_call = raw_pipe(SDK, "tools/call", call_noop)
    ours_list = raw_pipe(VEMOR, "tools/list", {})
    peer_list = raw_pipe(SDK, "tools/list", {})
    ours_ping = raw_pipe(VEMOR, "ping", {})
    peer_ping = raw_pipe(SDK, "ping", {})
    print(f"  tools/call  vemor apps {ours_call:8.1f} us   SDK no-op {peer_call:8.1f} us   "
          f"ratio {ours_call / peer_call:.2f}x (target <= 0.25x)")
    print(f"  tools/list  vemor (16) {ours_list:8.1f} us   SDK (1)   {peer_list:8.1f} us   "
          f"ratio {ours_list / peer_list:.2f}x")
    print(f"  ping        vemor      {ours_ping:8.1f} us   SDK       {peer_ping:8.1f} us   "
          f"ratio {ours_ping / peer_ping:.2f}x")

    print(f"Round trip through the SDK client, {RTT_COUNT} calls one at a time (p50 / p99):")
    results = {
        "vemor": rtt(VEMOR, "apps", {}),
        "SDK server": rtt(SDK, "noop", {}),
        "C++ echo floor": rtt(floor, "noop", {}),
    }
    for name, r in results.items():
        print(f"  {name:15} listTools {r['listTools']['p50_us']:7.1f} / {r['listTools']['p99_us']:7.1f} us"
              f"   callTool {r['callTool']['p50_us']:7.1f} / {r['callTool']['p99_us']:7.1f} us")
    ours = results["vemor"]["callTool"]["p50_us"]
    base = results["C++ echo floor"]["callTool"]["p50_us"]
    print(f"  callTool p50 vemor / floor: {ours / base:.2f}x (target <= 1.2x)")
    ours = results["vemor"]["listTools"]["p50_us"]
    base = results["C++ echo floor"]["listTools"]["p50_us"]
    print(f"  listTools p50 vemor / floor: {ours / base:.2f}x")


if __name__ == "__main__":
    main()
