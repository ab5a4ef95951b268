#!/usr/bin/env python3
"""Writes a seeded, realistic Claude Code transcript tree for the back-fill benchmark.

One directory per project, one .jsonl file per session. Sessions mix user prompts
(string and block content), tool results (the bulk of the bytes, as in real sessions),
assistant lines with thinking, text and tool_use blocks and usage, and summary and
system lines. Session sizes follow a long-tailed distribution; one session is made
much larger than the rest, as the longest real sessions are.

    generate_transcripts.py --out DIR [--total-mb 500] [--seed 42] [--largest-mb 120]
"""
import argparse
import json
import os
import random
import time
import uuid as uuidlib

WORDS = (
    "the a to of and in is for that this with on it be as at by from file function test error "
    "build fix add update refactor module class method return value string list map config "
    "server client request response handler parse line token cache index query database table "
    "commit branch merge review change diff patch path directory read write open close run "
    "check assert expect mock fixture benchmark memory thread queue lock timeout retry socket "
    "please can you let's now then also should would could make sure we need I think looks good"
).split()
TOOLS = ["Read", "Edit", "Bash", "Grep", "Glob", "Write", "TodoWrite", "WebFetch", "Task", "MultiEdit"]
MODES = ["default", "default", "default", "acceptEdits", "plan", "bypassPermissions"]
BRANCHES = ["main", "main", "develop", "feature/ingest", "fix/offsets", ""]


class Session:
    def __init__(self, rng, session_id, cwd, start):
        self.rng = rng
        self.id = session_id
        self.cwd = cwd
        self.t = start
        self.parent = None
        self.branch = rng.choice(BRANCHES)
        self.mode = rng.choice(MODES)

    def text(self, words):
        return " ".join(self.rng.choices(WORDS, k=max(1, words)))

    def code(self, lines):
        rng = self.rng
        out = []
        for i in range(lines):
            indent = "    " * rng.randint(0, 3)
            out.append(f"{i + 1:>6}\t{indent}{self.text(rng.randint(2, 12))};")
        return "\n".join(out)

    def stamp(self):
        self.t += self.rng.uniform(0.2, 40.0)
        whole = int(self.t)
        ms = int((self.t - whole) * 1000)
        return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(whole)) + f".{ms:03d}Z"

    def base(self, kind):
        u = str(uuidlib.UUID(int=self.rng.getrandbits(128)))
        line = {
            "parentUuid": self.parent,
            "isSidechain": False,
            "userType": "external",
            "cwd": self.cwd,
            "sessionId": self.id,
            "version": "1.0.71",
            "gitBranch": self.branch,
            "type": kind,
            "uuid": u,
            "timestamp": self.stamp(),
        }
        self.parent = u
        return line

    def prompt(self):
        line = self.base("user")
        words = int(self.rng.lognormvariate(3.5, 1.0)) + 3
        if self.rng.random() < 0.7:
            content = self.text(words)
        else:
            content = [{"type": "text", "text": self.text(words)}]
        line["message"] = {"role": "user", "content": content}
        line["promptId"] = str(uuidlib.UUID(int=self.rng.getrandbits(128)))
        line["permissionMode"] = self.mode
        return line

    def tool_result(self, tool_id):
        line = self.base("user")
        size = min(int(self.rng.lognormvariate(5.5, 1.3)), 3000)
        body = self.code(size // 8 + 1)
        line["message"] = {
            "role": "user",
            "content": [{"tool_use_id": tool_id, "type": "tool_result", "content": body}],
        }
        line["toolUseResult"] = {"type": "text", "file": {"filePath": self.cwd + "/src/x.cc", "numLines": size // 8 + 1}}
        return line

    def assistant(self):
        line = self.base("assistant")
        rng = self.rng
        blocks = []
        tool_id = None
        if rng.random() < 0.4:
            blocks.append({"type": "thinking", "thinking": self.text(int(rng.lognormvariate(4.0, 0.9))),
                           "signature": "Eq" + "x" * rng.randint(200, 600)})
        if rng.random() < 0.7:
            blocks.append({"type": "text", "text": self.text(int(rng.lognormvariate(3.8, 1.0)))})
        if rng.random() < 0.6:
            tool_id = "toolu_" + "%024x" % rng.getrandbits(96)
            tool = rng.choice(TOOLS)
            tool_input = {"file_path": self.cwd + "/src/module.cc"}
            if tool in ("Edit", "Write", "MultiEdit"):
                tool_input["old_string"] = self.code(rng.randint(1, 20))
                tool_input["new_string"] = self.code(rng.randint(1, 25))
            elif tool == "Bash":
                tool_input = {"command": "cmake --build build -j2 && ctest", "description": self.text(6)}
            blocks.append({"type": "tool_use", "id": tool_id, "name": tool, "input": tool_input})
        if not blocks:
            blocks.append({"type": "text", "text": self.text(5)})
        line["message"] = {
            "id": "msg_" + "%024x" % rng.getrandbits(96),
            "type": "message",
            "role": "assistant",
            "model": "claude-sonnet-4-20250514",
            "content": blocks,
            "stop_reason": "tool_use" if tool_id else "end_turn",
            "stop_sequence": None,
            "usage": {
                "input_tokens": rng.randint(1, 5000),
                "cache_creation_input_tokens": rng.randint(0, 20000),
                "cache_read_input_tokens": rng.randint(0, 150000),
                "output_tokens": rng.randint(1, 4000),
                "service_tier": "standard",
            },
        }
        line["requestId"] = "req_" + "%024x" % rng.getrandbits(96)
        return line, tool_id

    def system(self):
        line = self.base("system")
        line["subtype"] = "informational"
        line["content"] = "Running PostToolUse hooks: " + self.text(4)
        line["level"] = "info"
        line["isMeta"] = False
        return line


def write_session(path, rng, session_id, cwd, target_bytes, start):
    s = Session(rng, session_id, cwd, start)
    written = 0
    dumps = json.JSONEncoder(ensure_ascii=False, separators=(",", ":")).encode
    with open(path, "w", encoding="utf-8") as out:
        if rng.random() < 0.3:
            out.write(dumps({"type": "summary", "summary": s.text(8), "leafUuid": str(uuidlib.uuid4())}) + "\n")
        while written < target_bytes:
            lines = [s.prompt()]
            for _ in range(rng.randint(1, 12)):
                a, tool_id = s.assistant()
                lines.append(a)
                if tool_id:
                    lines.append(s.tool_result(tool_id))
                if rng.random() < 0.05:
                    lines.append(s.system())
            chunk = "".join(dumps(line) + "\n" for line in lines)
            out.write(chunk)
            written += len(chunk.encode("utf-8"))
    return written


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--total-mb", type=float, default=500)
    ap.add_argument("--largest-mb", type=float, default=120)
    ap.add_argument("--seed", type=int, default=42)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    total = int(args.total_mb * 1e6)
    largest = min(int(args.largest_mb * 1e6), total // 2)
    written = 0
    projects = [f"-home-dev-code-project{n}" for n in range(24)]
    start = 1748770215.0
    n = 0
    while written < total:
        project = projects[n % len(projects)] if n else projects[0]
        directory = os.path.join(args.out, project)
        os.makedirs(directory, exist_ok=True)
        session_id = str(uuidlib.UUID(int=rng.getrandbits(128)))
        size = largest if n == 0 else min(int(rng.lognormvariate(13.5, 1.4)), total - written)
        size = max(size, 2000)
        written += write_session(os.path.join(directory, session_id + ".jsonl"), rng, session_id,
                                 project.replace("-", "/"), size, start + n * 3600)
        n += 1
    print(f"{n} sessions in {len(set(projects[:n]))} projects, {written / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
