#include "api/landing_page.h"

namespace perchwell {

std::string landingHTML(int64_t port) {
    return R"(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Perchwell</title>
<style>
  body { background: #15171c; color: #e4e6eb; font: 15px/1.5 system-ui, sans-serif; max-width: 46em; margin: 3em auto; padding: 0 1.5em; }
  h1 { font-size: 1.5em; margin-bottom: .2em; }
  h2 { font-size: 1.1em; margin-top: 2em; color: #b8c0cc; }
  code { background: #23262e; padding: .1em .35em; border-radius: 4px; color: #f5d76e; }
  .status { color: #7ddc8a; }
  li { margin: .35em 0; }
  .note { color: #8a93a3; }
</style>
</head>
<body>
<h1>Perchwell · Local API</h1>
<p><span class="status">running</span> on <code>127.0.0.1:)" +
           std::to_string(port) + R"(</code></p>
<h2>Authentication</h2>
<p>All <code>/api/*</code> and <code>/mcp</code> requests need the header
<code>Authorization: Bearer &lt;token&gt;</code>.</p>
<p class="note">The token is not shown on this page. Print it with <code>pv-token</code>.</p>
<h2>Endpoints</h2>
<ul>
<li><code>GET /health</code> (no auth)</li>
<li><code>GET /api/state</code></li>
<li><code>POST /api/control</code> with <code>{"action": "pause" | "resume" | "wave" | "hide" | "show"}</code></li>
<li><code>GET /api/events</code> (server-sent events)</li>
<li><code>GET /api/sessions</code></li>
<li><code>POST /api/sessions/policy</code> with <code>{"sessionId": "…", "level": "global" | "permissive" | "strict" | "manual"}</code></li>
<li><code>POST /mcp</code> (JSON-RPC 2.0, MCP streamable HTTP)</li>
</ul>
</body>
</html>
)";
}

} // namespace perchwell
