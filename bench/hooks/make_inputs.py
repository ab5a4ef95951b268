#!/usr/bin/env python3
"""Writes the hook benchmark inputs: a ~1 KB Bash event and a 1 MiB Write event."""
import json
import random
import sys

out = sys.argv[1]
rng = random.Random(42)
words = ["build", "src", "tests", "make", "grep", "-rn", "TODO", "cargo", "npm", "run", "lint", "&&", "|", "sed"]


def event(tool, tool_input):
    return {"session_id": "5f0c2a4e-7d1b-4c8e-9a3f-2b6d8e1f0a77", "transcript_path": "/home/u/.claude/projects/x.jsonl",
            "cwd": "/home/u/work/project", "hook_event_name": "PreToolUse", "tool_name": tool, "tool_input": tool_input}


command = " ".join(rng.choice(words) for _ in range(400))
small = event("Bash", {"command": command[:850], "description": "Run the project checks"})
with open(f"{out}/bash-1k.json", "w") as f:
    json.dump(small, f)

lines = []
size = 0
while size < 1024 * 1024:
    line = " ".join(rng.choice(words) for _ in range(12))
    lines.append(line)
    size += len(line) + 1
big = event("Write", {"file_path": "/home/u/work/project/src/generated.txt", "content": "\n".join(lines)[:1024 * 1024]})
with open(f"{out}/write-1m.json", "w") as f:
    json.dump(big, f)
