// The peers of the MCP benchmark, servers on the official MCP TypeScript SDK over stdio:
//   node sdk_server.mjs              `McpServer` with one no-op tool
//   node sdk_server.mjs TOOLS_JSON   the SDK's `Server` listing the tools of the file (a JSON
//                                    array, the `tools` of vemor's tools/list result) as they
//                                    stand; a call of any of them is the same no-op
// The second lists exactly vemor's names, descriptions and input schemas. `McpServer` cannot: it
// takes Zod schemas and converts them on every tools/list, which would cost it more.
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";

const require = createRequire(new URL("../../vemor/mcp/tests/sdk/package.json", import.meta.url));
const { McpServer } = require("@modelcontextprotocol/sdk/server/mcp.js");
const { Server } = require("@modelcontextprotocol/sdk/server/index.js");
const { StdioServerTransport } = require("@modelcontextprotocol/sdk/server/stdio.js");
const { CallToolRequestSchema, ListToolsRequestSchema } = require("@modelcontextprotocol/sdk/types.js");

const info = { name: "sdk-peer", version: "1.0.0" };
const noop = async () => ({ content: [{ type: "text", text: "ok" }] });
const toolsFile = process.argv[2];

let server;
if (toolsFile === undefined) {
  server = new McpServer(info);
  server.registerTool("noop", { description: "Does nothing." }, noop);
} else {
  const tools = JSON.parse(readFileSync(toolsFile, "utf8"));
  server = new Server(info, { capabilities: { tools: {} } });
  server.setRequestHandler(ListToolsRequestSchema, async () => ({ tools }));
  server.setRequestHandler(CallToolRequestSchema, noop);
}
await server.connect(new StdioServerTransport());
