// A stand-in of the Anthropic Messages API for tests that run the real Claude Code
// offline (ANTHROPIC_BASE_URL=http://127.0.0.1:<port>).
//
//   node fake_messages_api.mjs --port-file PATH [--turns FILE] [--log FILE]
//
// It answers POST /v1/messages from a script of assistant turns. Each request whose
// last message ("system" ones aside) comes from the user (a prompt or a tool result) and that offers tools
// (the agent loop; Claude Code's side requests offer none) takes the next turn. A turn:
//   {"content": [{"type": "text", "text": "..."},
//                {"type": "tool_use", "name": "Bash", "input": {"command": "ls"}}]}
// and its stop reason is "tool_use" when it holds a tool call, else "end_turn". Other
// requests, and any after the script ran out, get a short text answer.
//
// The script file is {"turns": [...]}. Control routes for the test:
//   POST /__script   body {"turns": [...]}: replaces the script and starts it over
//   GET  /__requests the agent-loop requests received since the last script, as JSON
// Every request body is also appended, one JSON line each, to the --log file.
import { appendFileSync, readFileSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";

const options = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) {
  options[process.argv[i].replace(/^--/, "")] = process.argv[i + 1];
}

let turns = options.turns ? JSON.parse(readFileSync(options.turns, "utf8")).turns : [];
let next = 0;
let agentRequests = [];
let messageCounter = 0;

function isAgentRequest(body) {
  // Claude Code may end the list with "system" messages (environment notes).
  const last = (body.messages ?? []).filter((m) => m.role !== "system").at(-1);
  return last?.role === "user" && Array.isArray(body.tools) && body.tools.length > 0;
}

function nextTurn(body) {
  if (isAgentRequest(body)) {
    agentRequests.push(body);
    if (next < turns.length) {
      return turns[next++];
    }
  }
  return { content: [{ type: "text", text: "Nothing more to do." }] };
}

function blocksOf(turn) {
  return turn.content.map((block, index) =>
    block.type === "tool_use" ? { id: `toolu_fake_${messageCounter}_${index}`, ...block } : block,
  );
}

function message(body, turn) {
  const content = blocksOf(turn);
  return {
    id: `msg_fake_${++messageCounter}`,
    type: "message",
    role: "assistant",
    model: body.model ?? "claude-fake",
    content,
    stop_reason: content.some((b) => b.type === "tool_use") ? "tool_use" : "end_turn",
    stop_sequence: null,
    usage: { input_tokens: 12, output_tokens: 7, cache_creation_input_tokens: 0, cache_read_input_tokens: 0 },
  };
}

function sendEvents(res, whole) {
  res.writeHead(200, { "content-type": "text/event-stream", "cache-control": "no-cache" });
  const send = (type, data) => res.write(`event: ${type}\ndata: ${JSON.stringify({ type, ...data })}\n\n`);
  send("message_start", { message: { ...whole, content: [], stop_reason: null, usage: { ...whole.usage, output_tokens: 1 } } });
  whole.content.forEach((block, index) => {
    if (block.type === "tool_use") {
      send("content_block_start", { index, content_block: { ...block, input: {} } });
      send("content_block_delta", { index, delta: { type: "input_json_delta", partial_json: JSON.stringify(block.input) } });
    } else {
      send("content_block_start", { index, content_block: { type: "text", text: "" } });
      send("content_block_delta", { index, delta: { type: "text_delta", text: block.text } });
    }
    send("content_block_stop", { index });
  });
  send("message_delta", {
    delta: { stop_reason: whole.stop_reason, stop_sequence: null },
    usage: { output_tokens: whole.usage.output_tokens },
  });
  send("message_stop", {});
  res.end();
}

function json(res, status, value) {
  res.writeHead(status, { "content-type": "application/json" });
  res.end(JSON.stringify(value));
}

const server = createServer((req, res) => {
  let raw = "";
  req.on("data", (chunk) => (raw += chunk));
  req.on("end", () => {
    const path = req.url.split("?")[0];
    let body = {};
    try {
      body = raw ? JSON.parse(raw) : {};
    } catch {
      return json(res, 400, { type: "error", error: { type: "invalid_request_error", message: "bad JSON" } });
    }
    if (options.log && raw) {
      appendFileSync(options.log, JSON.stringify({ path, body }) + "\n");
    }
    if (req.method === "POST" && path === "/__script") {
      turns = body.turns ?? [];
      next = 0;
      agentRequests = [];
      return json(res, 200, { ok: true });
    }
    if (req.method === "GET" && path === "/__requests") {
      return json(res, 200, agentRequests);
    }
    if (req.method === "POST" && path === "/v1/messages/count_tokens") {
      return json(res, 200, { input_tokens: 12 });
    }
    if (req.method === "POST" && path === "/v1/messages") {
      const whole = message(body, nextTurn(body));
      return body.stream ? sendEvents(res, whole) : json(res, 200, whole);
    }
    return json(res, 404, { type: "error", error: { type: "not_found_error", message: `no route ${path}` } });
  });
});

server.listen(0, "127.0.0.1", () => {
  const { port } = server.address();
  if (options["port-file"]) {
    writeFileSync(options["port-file"], String(port));
  }
  console.log(`fake Messages API on 127.0.0.1:${port}`);
});
