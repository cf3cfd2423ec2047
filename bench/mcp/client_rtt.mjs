// Round trips through the official MCP TypeScript SDK client, one request at a time:
//   node client_rtt.mjs COUNT TOOL ARGS_JSON COMMAND [ARG...]
// Prints {"listTools": {"p50_us", "p99_us"}, "callTool": {...}}.
import { createRequire } from "node:module";

const require = createRequire(new URL("../../vemor/mcp/tests/sdk/package.json", import.meta.url));
const { Client } = require("@modelcontextprotocol/sdk/client/index.js");
const { StdioClientTransport } = require("@modelcontextprotocol/sdk/client/stdio.js");

const [count, tool, argsJson, command, ...args] = process.argv.slice(2);
const n = Number(count);
const client = new Client({ name: "rtt", version: "1.0.0" });
await client.connect(new StdioClientTransport({ command, args, stderr: "ignore" }));

async function measure(fn) {
  for (let i = 0; i < Math.min(200, n); ++i) await fn();  // warm-up
  const samples = [];
  for (let i = 0; i < n; ++i) {
    const t = process.hrtime.bigint();
    await fn();
    samples.push(Number(process.hrtime.bigint() - t) / 1000);
  }
  samples.sort((a, b) => a - b);
  const at = (q) => samples[Math.min(samples.length - 1, Math.floor(q * samples.length))];
  return { p50_us: at(0.5), p99_us: at(0.99) };
}

const toolArgs = JSON.parse(argsJson);
const out = {
  listTools: await measure(() => client.listTools()),
  callTool: await measure(async () => {
    const r = await client.callTool({ name: tool, arguments: toolArgs });
    if (r.isError) throw new Error(JSON.stringify(r.content));
  }),
};
await client.close();
console.log(JSON.stringify(out));
