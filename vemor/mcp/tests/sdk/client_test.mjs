// End-to-end test of `vemor mcp` through the official MCP TypeScript SDK client over stdio,
// against the simulated desktop. Usage: node client_test.mjs /path/to/vemor
import assert from "node:assert/strict";

import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

const exe = process.argv[2] ?? process.env.VEMOR_EXE;
assert.ok(exe, "pass the vemor executable as the first argument");

const TOOLS = [
  "apps", "shell", "windows", "tree", "find", "action", "click", "move", "drag", "scroll",
  "key", "type", "screenshot", "events_start", "events_poll", "events_stop",
];

// The client starts the server with a clean environment: the default time-out reaches it only
// because it is passed here.
const transport = new StdioClientTransport({
  command: exe,
  args: ["mcp"],
  env: { VEMOR_DEFAULT_TIMEOUT: "1" },
  stderr: "inherit",
});
const client = new Client({ name: "vemor-sdk-test", version: "1.0.0" });
await client.connect(transport);

async function ok(name, args = {}) {
  const result = await client.callTool({ name, arguments: args });
  assert.equal(result.isError, false, `${name}: ${JSON.stringify(result.content)}`);
  return result;
}

try {
  assert.equal(client.getServerVersion().name, "vemor");
  assert.deepEqual(client.getServerCapabilities().tools, {});
  assert.ok(client.getInstructions().startsWith("Read and drive desktop application UIs"));

  const { tools } = await client.listTools();
  assert.deepEqual(tools.map((t) => t.name), TOOLS);
  for (const t of tools) assert.equal(t.inputSchema.type, "object");

  const apps = (await ok("apps")).structuredContent;
  assert.ok(apps.applications.some((a) => a.name === "TextEdit" && a.pid === 150));
  const shell = (await ok("shell")).structuredContent;
  assert.ok(shell.surfaces.some((s) => s.kind === "dock"));
  const windows = (await ok("windows", { app: "TextEdit" })).structuredContent;
  assert.equal(windows.windows[0].name, "Untitled");
  const tree = (await ok("tree", { app: "TextEdit", max_depth: 2 })).structuredContent;
  assert.equal(tree.tree.role, "application");
  const find = (await ok("find", { app: "TextEdit", selector: 'button[name="Save"]' })).structuredContent;
  assert.equal(find.match_count, 1);
  const save = find.matches[0].center;

  // A subscription sees the change that an action makes.
  const sub = (await ok("events_start", { app: "TextEdit", kinds: ["value_changed"] })).structuredContent;
  assert.equal(sub.subscription_id, "sub_1");
  await ok("action", { app: "TextEdit", selector: 'check_box[name="Bold"]', action: "toggle" });
  const polled = (await ok("events_poll", { subscription_id: sub.subscription_id, timeout_ms: 5000 }))
    .structuredContent;
  assert.ok(polled.count >= 1, JSON.stringify(polled));
  assert.equal(polled.events[0].kind, "value_changed");
  assert.equal(polled.events[0].target.name, "Bold");
  const stopped = (await ok("events_stop", { subscription_id: sub.subscription_id })).structuredContent;
  assert.equal(stopped.stopped, true);

  await ok("click", { x: save.x, y: save.y });
  await ok("move", { x: 5, y: 5 });
  await ok("drag", { from_x: 10, from_y: 10, to_x: 40, to_y: 40, duration_ms: 0 });
  await ok("scroll", { x: 600, y: 400, dy: 3 });
  await ok("key", { key: "a", held: ["Shift"] });
  assert.equal((await ok("type", { text: "héllo" })).structuredContent.typed_characters, 5);

  const shot = await ok("screenshot", { x: 0, y: 0, width: 200, height: 100 });
  const image = shot.content.find((c) => c.type === "image");
  assert.equal(image.mimeType, "image/png");
  const png = Buffer.from(image.data, "base64");
  assert.deepEqual([...png.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10]);
  assert.equal(png.readUInt32BE(16), shot.structuredContent.width);
  assert.equal(png.readUInt32BE(20), shot.structuredContent.height);
  assert.equal(png.length, shot.structuredContent.bytes);

  // A tool failure resolves with isError; an unknown tool is a protocol error.
  const miss = await client.callTool({ name: "find", arguments: { app: "TextEdit", selector: 'button[name="Nope"]' } });
  assert.equal(miss.isError, true);
  assert.equal(miss.structuredContent.kind, "no_match");
  await assert.rejects(client.callTool({ name: "nope", arguments: {} }), (e) => e.code === -32602);

  console.log("vemor mcp: SDK client test passed");
} finally {
  await client.close();
}
