#!/usr/bin/env python3
"""The MCP Registry entry: writes server.json for a bundle, or checks one.

  server_json.py write NAME VERSION BUNDLE_URL BUNDLE_FILE REPOSITORY OUT
  server_json.py check FILE BUNDLE_FILE

No package ships the registry's schema, so the check holds the schema's required members and
patterns (its 2025-12-11 version) and, for a bundle, that fileSha256 is the hash of exactly the
file that will be uploaded.
"""

import hashlib
import json
import re
import sys

SCHEMA = "https://static.modelcontextprotocol.io/schemas/2025-12-11/server.schema.json"
NAME = re.compile(r"^[a-zA-Z0-9.-]+/[a-zA-Z0-9._-]+$")
SHA256 = re.compile(r"^[a-f0-9]{64}$")
DESCRIPTION = "Search, read and edit Quorvi notes on a Mac through the app's Desktop connector"
ENVIRONMENT = [
    ("QUORVI_ONLY_TAGS", "Tags separated by commas; the tools see only notes with one of them"),
    ("QUORVI_EXCLUDE_TAGS", "Tags separated by commas; notes with any of them stay hidden"),
]
ENVIRONMENT_MEMBERS = {"name", "description", "isRequired", "isSecret", "default", "format",
                       "choices", "placeholder", "value"}


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def entry(name, version, url, bundle, repository):
    return {
        "$schema": SCHEMA,
        "name": name,
        "title": "Quorvi",
        "description": DESCRIPTION,
        "version": version,
        "repository": {"url": repository, "source": "github"},
        "packages": [
            {
                "registryType": "mcpb",
                "identifier": url,
                "version": version,
                "fileSha256": sha256(bundle),
                "transport": {"type": "stdio"},
                "environmentVariables": [
                    {"name": var, "description": text, "isRequired": False, "isSecret": False}
                    for var, text in ENVIRONMENT
                ],
            }
        ],
    }


def faults(server, bundle):
    """Every way SERVER breaks the schema's rules or does not describe BUNDLE."""
    out = []
    for key in ("name", "description", "version"):
        if not isinstance(server.get(key), str) or not server[key]:
            out.append(f"{key} is missing")
    name = server.get("name", "")
    if not NAME.match(name) or not 3 <= len(name) <= 200:
        out.append(f"name {name!r} is not a namespace/name of 3 to 200 characters")
    if not 1 <= len(server.get("description", "")) <= 100:
        out.append("description is not 1 to 100 characters")
    if len(server.get("title", "")) > 100:
        out.append("title is longer than 100 characters")
    if server.get("$schema") != SCHEMA:
        out.append(f"$schema is not {SCHEMA}")
    packages = server.get("packages", [])
    bundles = [p for p in packages if p.get("registryType") == "mcpb"]
    if len(bundles) != 1:
        out.append(f"{len(bundles)} mcpb packages, not 1")
    for package in packages:
        for key in ("registryType", "identifier", "transport"):
            if key not in package:
                out.append(f"a package without {key}")
        if package.get("transport") != {"type": "stdio"}:
            out.append("the transport is not stdio")
        if "registryBaseUrl" in package:
            out.append("a bundle has no registryBaseUrl")
        if not str(package.get("identifier", "")).startswith("https://"):
            out.append("the bundle's identifier is not an https URL")
        if not SHA256.match(str(package.get("fileSha256", ""))):
            out.append("fileSha256 is not 64 lower-case hex digits")
        elif package["fileSha256"] != sha256(bundle):
            out.append(f"fileSha256 is not the SHA-256 of {bundle}")
        variables = package.get("environmentVariables", [])
        if sorted(v.get("name", "") for v in variables) != sorted(v for v, _ in ENVIRONMENT):
            out.append("the environment variables are not the two tag scopes")
        for variable in variables:
            if set(variable) - ENVIRONMENT_MEMBERS:
                out.append(f"unknown members {set(variable) - ENVIRONMENT_MEMBERS}")
            if not variable.get("description"):
                out.append(f"{variable.get('name')} has no description")
    return out


def main(argv):
    if len(argv) == 8 and argv[1] == "write":
        server = entry(*argv[2:7])
        with open(argv[7], "w", encoding="utf-8") as f:
            json.dump(server, f, indent=2)
            f.write("\n")
        argv = ["", "check", argv[7], argv[5]]
    if len(argv) != 4 or argv[1] != "check":
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[2], encoding="utf-8") as f:
        server = json.load(f)
    problems = faults(server, argv[3])
    for problem in problems:
        print(f"{argv[2]}: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
