// Drives the local API with the official MCP TypeScript SDK over its streamable-HTTP
// client transport: initialise, ping, list the tools, read the state, pause and resume.
// Usage: node mcp_sdk_client.mjs <url> <token>   (exit status 0 when every check holds)
import assert from "node:assert/strict";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StreamableHTTPClientTransport } from "@modelcontextprotocol/sdk/client/streamableHttp.js";

const [url, token] = process.argv.slice(2);
const transport = new StreamableHTTPClientTransport(new URL(url), {
  requestInit: { headers: { Authorization: `Bearer ${token}` } },
});
const client = new Client({ name: "perchwell-sdk-test", version: "1.0.0" });

const stateText = async () => {
  const result = await client.callTool({ name: "pv_get_state", arguments: {} });
  assert.equal(result.isError, undefined);
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, "text");
  return JSON.parse(result.content[0].text);
};

await client.connect(transport);
assert.deepEqual(client.getServerVersion(), { name: "perchwell", version: "0.1.1" });
assert.deepEqual(client.getServerCapabilities(), { tools: {} });
// Every MCP peer must answer ping with an empty result.
assert.deepEqual(await client.ping(), {});

const { tools } = await client.listTools();
assert.deepEqual(tools.map((t) => t.name), ["pv_get_state", "pv_control"]);
assert.deepEqual(tools[1].inputSchema.properties.action.enum, ["pause", "resume", "wave", "hide", "show"]);

const before = await stateText();
assert.deepEqual(Object.keys(before).sort(), ["enabled", "mascotEnabled", "mcpPort", "safePromptOnly"]);
assert.equal(before.enabled, true);

const paused = await client.callTool({ name: "pv_control", arguments: { action: "pause" } });
assert.deepEqual(paused.content, [{ type: "text", text: "OK" }]);
assert.equal(paused.isError, undefined);
assert.equal((await stateText()).enabled, false);

const resumed = await client.callTool({ name: "pv_control", arguments: { action: "resume" } });
assert.deepEqual(resumed.content, [{ type: "text", text: "OK" }]);
assert.equal((await stateText()).enabled, true);

// A bad action is a JSON-RPC error the SDK raises.
await assert.rejects(client.callTool({ name: "pv_control", arguments: { action: "jump" } }), /-32602|Invalid action/);

await client.close();
console.log("mcp sdk client: all checks passed");
