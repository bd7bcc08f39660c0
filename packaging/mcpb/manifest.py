#!/usr/bin/env python3
"""Writes the MCP bundle's manifest.json, its tools taken from the program's own catalogue.

  quorvi help all | manifest.py VERSION HOMEPAGE OUT

The catalogue is the output of `quorvi help all`: one header line, then the tools as JSON. Every
tool the server offers is listed with the description the server itself sends, so the listing a
user sees before installing never disagrees with the server.
"""

import json
import sys

TOOL_COUNT = 14

# Each scope field maps to one variable. Both have an empty default: a host passes a field that
# has no value and no default as its literal placeholder text, which would be read as a tag.
SCOPES = {
    "only_tags": (
        "QUORVI_ONLY_TAGS",
        "Only notes with these tags",
        "Tags separated by commas. When set, the tools see only notes that carry at least one "
        "of them. Leave empty for all notes.",
    ),
    "exclude_tags": (
        "QUORVI_EXCLUDE_TAGS",
        "Never notes with these tags",
        "Tags separated by commas. Notes that carry any of them stay hidden from the tools. "
        "Leave empty to hide none.",
    ),
}

LONG_DESCRIPTION = (
    "Lets an assistant search, read, create and edit notes in the Quorvi app on this Mac, "
    "through the app's Desktop connector (Quorvi Settings, Desktop connector). Requires macOS 11 "
    "or later, on Apple silicon or Intel, and the Quorvi app. The server is the quorvi "
    "command-line tool, one universal binary; it keeps no state and talks only to the app over "
    "a private local socket. The two tag fields limit the notes the tools can see: only notes "
    "with one of the listed tags, and never notes with an excluded tag. The first time it reads "
    "the app's container, macOS 15 and later may ask whether this client may access data from "
    "other apps."
)


def tools(catalogue_text):
    lines = catalogue_text.split("\n", 1)
    if len(lines) != 2:
        raise SystemExit("manifest.py: the catalogue has no header line")
    catalogue = json.loads(lines[1])
    out = []
    for tool in catalogue:
        name, description = tool.get("name"), tool.get("description")
        if not isinstance(name, str) or not isinstance(description, str) or not description:
            raise SystemExit(f"manifest.py: a catalogue entry without name or description: {tool}")
        out.append({"name": name, "description": description})
    if len(out) != TOOL_COUNT or len({t["name"] for t in out}) != TOOL_COUNT:
        raise SystemExit(f"manifest.py: {len(out)} tools in the catalogue, not {TOOL_COUNT}")
    return out


def manifest(version, homepage, catalogue_text):
    return {
        "manifest_version": "0.3",
        "name": "quorvi",
        "display_name": "Quorvi",
        "version": version,
        "description": "Search, read and edit your Quorvi notes through the app's Desktop connector",
        "long_description": LONG_DESCRIPTION,
        "author": {"name": "The quorvi authors"},
        "homepage": homepage,
        "icon": "icon.png",
        "server": {
            "type": "binary",
            "entry_point": "server/quorvi",
            "mcp_config": {
                "command": "${__dirname}/server/quorvi",
                "args": ["mcp-server"],
                "env": {var: f"${{user_config.{key}}}" for key, (var, _, _) in SCOPES.items()},
            },
        },
        "tools": tools(catalogue_text),
        "keywords": ["notes", "quorvi", "macos", "productivity"],
        "license": "MIT",
        "compatibility": {"platforms": ["darwin"]},
        "user_config": {
            key: {
                "type": "string",
                "title": title,
                "description": description,
                "required": False,
                "default": "",
            }
            for key, (_, title, description) in SCOPES.items()
        },
    }


if __name__ == "__main__":
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    with open(sys.argv[3], "w", encoding="utf-8") as f:
        json.dump(manifest(sys.argv[1], sys.argv[2], sys.stdin.read()), f, indent=2,
                  ensure_ascii=False)
        f.write("\n")
