#!/usr/bin/env python3
"""`vemor mcp` against MCP TypeScript SDK servers and a C++ replay floor.

The floor (bench/mcp/echo_floor.cpp) parses nothing and answers tools/list and tools/call with
vemor's own result bytes, captured from `vemor mcp` at the start of the run, in the same response
line; whatever a client costs against it is the client's own cost of reading those bytes.

The SDK peers (bench/mcp/sdk_server.mjs): a server that lists the same 16 tools as vemor (the
names, descriptions and input schemas that `vemor mcp` lists, captured at the start of the run
and checked), and a minimal server with one no-op tool.

1. Server cost per request: 20,000 requests written back to back on a raw pipe; the time from
   the first write until the last response has arrived, divided by the count. tools/list
   against the SDK server listing the same 16 tools (target: at most 0.25x); ping against the
   one-tool server; the floor beside both. tools/call of `apps` (real work over the simulated
   desktop) has no like on the SDK side: the one-tool server's no-op call is printed beside it
   as the floor of a tool call, without a target, and the call's time is split into the
   provider's (the same application listing measured in process by bench/mcp_server_bench) and
   the server's own.
2. Round trip through the official SDK client (listTools, callTool one at a time), p50 and p99,
   against the same client talking to the SDK server listing the same tools (whose calls are
   no-ops) and to the floor (target for listTools, which returns the same bytes from both:
   within 1.2x of the floor).

The servers' runs alternate, best of several, so that a change in the machine's load falls on
all of them.

Usage: bench/mcp_vs_sdk.py [BUILD_DIR]   (default build/release; needs bin/vemor,
bench/mcp_server_bench, node and `npm ci` in vemor/mcp/tests/sdk, which scripts/setup runs)
Everything the run makes (the floor, the replayed results, the tool list, the requests) lives
in one temporary folder, removed however the run ends.
"""
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ left in the checkout
import bench_args  # noqa: E402  (beside this script)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SDK = ["node", os.path.join(ROOT, "bench/mcp/sdk_server.mjs")]
SDK_PACKAGE = os.path.join(ROOT, "vemor/mcp/tests/sdk/node_modules/@modelcontextprotocol/sdk")
COUNT = 20000
RTT_COUNT = 2000
ROUNDS = 5
RTT_ROUNDS = 3


# The environment the SDK client gives the server it starts.
CLIENT_ENV = {k: os.environ[k] for k in ("HOME", "LOGNAME", "PATH", "SHELL", "TERM", "USER")
              if k in os.environ}
INITIALIZE = {"jsonrpc": "2.0", "id": 0, "method": "initialize",
              "params": {"protocolVersion": "2025-06-18", "capabilities": {},
                         "clientInfo": {"name": "bench", "version": "1"}}}
CALL_APPS = {"name": "apps", "arguments": {}}
F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)


def line(obj):
    return (json.dumps(obj, separators=(",", ":")) + "\n").encode()


def exchange(command, requests, env=None):
    """The response lines of `command` to the requests, after an initialize handshake."""
    out = subprocess.run(command, input=b"".join(line(r) for r in [INITIALIZE] + requests),
                         capture_output=True, check=True, env=env).stdout
    return out.split(b"\n")[1:1 + len(requests)]


def build_peers(vemor, work):
    """The floor, replaying the results vemor gives the SDK client for tools/list and
    tools/call of `apps`, checked to write vemor's exact lines; and the SDK server listing
    vemor's tools, checked to list the same ones. Both are made in `work`."""
    exe = os.path.join(work, "echo_floor")
    subprocess.run(["c++", "-O2", "-std=c++17", "-o", exe,
                    os.path.join(ROOT, "bench/mcp/echo_floor.cpp")], check=True)
    requests = [{"jsonrpc": "2.0", "id": 1, "method": "tools/list"},
                {"jsonrpc": "2.0", "id": 2, "method": "tools/call", "params": CALL_APPS}]
    ours = exchange(vemor, requests, env=CLIENT_ENV)
    files = []
    for name, request, response in zip(("list", "call"), requests, ours):
        head = b'{"id":%d,"jsonrpc":"2.0","result":' % request["id"]
        if not (response.startswith(head) and response.endswith(b"}")):
            raise RuntimeError(f"unexpected vemor response: {response[:200]!r}")
        files.append(os.path.join(work, name + ".json"))
        with open(files[-1], "wb") as f:
            f.write(response[len(head):-1])
    floor = [exe] + files
    if exchange(floor, requests) != ours:
        raise RuntimeError("the floor does not replay vemor's bytes")

    tools = json.loads(ours[0])["result"]["tools"]
    tools_file = os.path.join(work, "tools.json")
    with open(tools_file, "w") as f:
        json.dump(tools, f)
    sdk_tools = SDK + [tools_file]
    listed = exchange(sdk_tools, requests[:1])[0]
    if json.loads(listed)["result"]["tools"] != tools:
        raise RuntimeError("the SDK server does not list vemor's tools")
    return floor, sdk_tools, {"tools/list": len(ours[0]), "SDK tools/list": len(listed),
                              "tools/call apps": len(ours[1])}


def raw_pipe(servers, work, rounds=ROUNDS):
    """Microseconds per request for COUNT pipelined requests, best of `rounds`, for each
    (command, method, params); the rounds of the servers alternate, so that a change in the
    machine's load falls on all of them."""
    runs = [pipe_run(*server, work) for server in servers]
    best = [None] * len(runs)
    for _ in range(rounds):
        for i, run in enumerate(runs):
            per = run()
            best[i] = per if best[i] is None else min(best[i], per)
    return best


def pipe_run(command, method, params, work):
    """A function timing one round of COUNT pipelined requests, in microseconds per request."""
    # The requests are written by `cat` from a file, so that no thread of this process competes
    # with the reader below.
    fd, payload = tempfile.mkstemp(dir=work, prefix="requests-", suffix=".jsonl")
    with os.fdopen(fd, "wb") as f:
        f.write(b"".join(line({"jsonrpc": "2.0", "id": i + 1, "method": method, "params": params})
                         for i in range(COUNT)))
    # Every response is the same apart from its id, so the bytes of all of them are known from
    # one: the end is found by counting bytes, at the same cost whatever a response's size
    # (scanning them for line feeds would cost the reader more than a large answer costs us).
    one = exchange(command, [{"jsonrpc": "2.0", "id": 1, "method": method, "params": params}])[0]
    if b'"result"' not in one:
        raise RuntimeError(f"{command[0]} refused {method}: {one[:200]!r}")
    # Response i: `one` with i in place of its id 1, and a line feed.
    expected = sum(len(one) + len(str(i + 1)) for i in range(COUNT))

    def run():
        p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        writer = None
        try:
            # The reader costs the servers as little as it can: a pipe of 1 MiB, so that a
            # server writing large answers does not wait for every 64 KiB to be read, and the
            # answers spliced into /dev/null instead of copied into this process (their bytes
            # were checked by the exchange above).
            try:
                fcntl.fcntl(p.stdout.fileno(), F_SETPIPE_SZ, 1 << 20)
            except OSError:
                pass
            p.stdin.write(line(INITIALIZE))
            p.stdin.write(line({"jsonrpc": "2.0", "method": "notifications/initialized"}))
            p.stdin.flush()
            p.stdout.readline()
            fd = p.stdout.fileno()
            seen = 0
            with open(os.devnull, "wb") as null:
                start = time.perf_counter()
                writer = subprocess.Popen(["cat", payload], stdout=p.stdin)
                while seen < expected:
                    n = os.splice(fd, null.fileno(), 1 << 20)
                    if not n:
                        raise RuntimeError(f"{command[0]} ended after {seen} of {expected} bytes")
                    seen += n
                elapsed = time.perf_counter() - start
            writer.wait()
            p.stdin.close()
            p.wait()
        finally:
            # A round cut short (a signal, a server that failed) leaves no process behind.
            for proc in (writer, p):
                if proc is not None and proc.poll() is None:
                    proc.kill()
                    proc.wait()
        if seen != expected:
            raise RuntimeError(f"{command[0]} wrote {seen} bytes, {expected} expected")
        return elapsed / COUNT * 1e6

    return run


def in_process(build):
    """Nanoseconds per iteration of the in-process benchmarks, by name."""
    out = subprocess.run([os.path.join(build, "bench/mcp_server_bench"), "--benchmark_format=json",
                          "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    return {b["run_name"]: b["real_time"] for b in json.loads(out)["benchmarks"]
            if b.get("aggregate_name") == "median"}


def rtt(command, tool, args):
    out = subprocess.run(["node", os.path.join(ROOT, "bench/mcp/client_rtt.mjs"), str(RTT_COUNT),
                          tool, json.dumps(args)] + command,
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def measure(build, work):
    vemor = [os.path.join(build, "bin/vemor"), "mcp"]
    floor, sdk_tools, sizes = build_peers(vemor, work)
    print(f"Server cost per request, {COUNT} requests back to back on a raw pipe (best of {ROUNDS}):")

    def row(method, params, ours_note, sdk, peer_params, peer_note):
        ours, peer, base = raw_pipe([(vemor, method, params), (sdk, method, peer_params),
                                     (floor, method, params)], work)
        print(f"  {method:11} vemor {ours_note:5} {ours:6.1f} us   SDK {peer_note:5} {peer:6.1f} us"
              f"   floor {base:6.1f} us", end="")
        return ours, peer, base

    for method, ours_note, sdk, peer_note, target in (
            ("tools/list", "(16)", sdk_tools, "(16)", " (target <= 0.25x)"),
            ("ping", "", SDK, "(1)", "")):
        ours, peer, base = row(method, {}, ours_note, sdk, {}, peer_note)
        print(f"   vemor/SDK {ours / peer:.2f}x{target}   vemor/floor {ours / base:.2f}x")
    piped, _, _ = row("tools/call", CALL_APPS, "apps", SDK, {"name": "noop", "arguments": {}},
                      "no-op")
    print("   (the no-op and the floor do none of the listing's work: no ratio)")
    print(f"  (response bytes: tools/list {sizes['tools/list']} from vemor, "
          f"{sizes['SDK tools/list']} from the SDK server; tools/call apps {sizes['tools/call apps']})")

    ns = in_process(build)
    provider = ns["BM_AppsListing"] / 1000
    session = ns["BM_Session/tools_call_apps"] / 1000
    print(f"  tools/call apps {piped:.1f} us = provider {provider:.1f} us (the application listing,"
          f" in process) + server {piped - provider:.1f} us (building and serialising the result"
          f" {session - provider:.1f} us in process, the rest reading, parsing and writing)")
    print(f"  tools/list in process: {ns['BM_Session/tools_list'] / 1000:.2f} us")

    print(f"Round trip through the SDK client, {RTT_COUNT} calls one at a time (p50 / p99,"
          f" the run with the lowest p50 of {RTT_ROUNDS}, the servers' runs alternating):")
    servers = {"vemor": (vemor, "apps"), "SDK server": (sdk_tools, "apps"),
               "replay floor": (floor, "apps")}
    results = {}
    for _ in range(RTT_ROUNDS):
        for name, (command, tool) in servers.items():
            r = rtt(command, tool, {})
            best = results.setdefault(name, r)
            for call in ("listTools", "callTool"):
                if r[call]["p50_us"] < best[call]["p50_us"]:
                    best[call] = r[call]
    for name, r in results.items():
        print(f"  {name:13} listTools {r['listTools']['p50_us']:7.1f} / {r['listTools']['p99_us']:7.1f} us"
              f"   callTool {r['callTool']['p50_us']:7.1f} / {r['callTool']['p99_us']:7.1f} us")
    print("  (the SDK server lists the same 16 tools; its calls are no-ops)")
    # The floor replays the same bytes without doing the work: only listTools, which does none
    # either, has a target against it.
    for call, target in (("listTools", " (target <= 1.2x)"), ("callTool", "")):
        ours = results["vemor"][call]["p50_us"]
        base = results["replay floor"][call]["p50_us"]
        print(f"  {call} p50 vemor / floor: {ours / base:.2f}x{target}")


def main():
    parser = bench_args.Parser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir", nargs="?", default=os.path.join(ROOT, "build/release"),
                        metavar="BUILD_DIR")
    build = os.path.abspath(bench_args.build_folder(parser.parse_args().build_dir, "bin/vemor",
                                                    "bench/mcp_server_bench"))
    if not shutil.which("node") or not os.path.isdir(SDK_PACKAGE):
        bench_args.refuse("node or the MCP TypeScript SDK is missing: run scripts/setup")
    # A run ended by a signal unwinds like one ended by Ctrl-C, so that its folder goes too.
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, lambda signum, _frame: sys.exit(128 + signum))
    with tempfile.TemporaryDirectory(prefix="vemor-mcp-bench-") as work:
        measure(build, work)


if __name__ == "__main__":
    main()
