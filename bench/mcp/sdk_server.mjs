// The peer of the MCP benchmark: a minimal server on the official MCP TypeScript SDK
// (`McpServer` over stdio) with one no-op tool.
import { createRequire } from "node:module";

const require = createRequire(new URL("../../vemor/mcp/tests/sdk/package.json", import.meta.url));
const { McpServer } = require("@modelcontextprotocol/sdk/server/mcp.js");
const { StdioServerTransport } = require("@modelcontextprotocol/sdk/server/stdio.js");

const server = new McpServer({ name: "sdk-peer", version: "1.0.0" });
server.registerTool("noop", { description: "Does nothing." }, async () => ({
  content: [{ type: "text", text: "ok" }],
}));
await server.connect(new StdioServerTransport());
