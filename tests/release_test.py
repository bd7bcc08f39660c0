#!/usr/bin/env python3
"""Unit tables of the release's own checkers: each must refuse what the publisher would.

  python3 tests/release_test.py
"""

import copy
import functools
import hashlib
import json
import operator
import os
import struct
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path[:0] = [os.path.join(ROOT, "scripts"), os.path.join(ROOT, "packaging", "registry"),
                os.path.join(ROOT, "packaging", "mcpb")]

import macho_check  # noqa: E402
import manifest  # noqa: E402
import server_json  # noqa: E402


DROP = object()  # the member is removed


class ServerJson(unittest.TestCase):
    def test_the_written_entry_passes_and_each_broken_rule_is_reported(self):
        with tempfile.NamedTemporaryFile() as bundle:
            bundle.write(b"bundle bytes")
            bundle.flush()
            good = server_json.entry("io.github.owner/quorvi", "1.2.3",
                                     "https://example.com/mcp/quorvi.mcpb", bundle.name,
                                     "https://example.com/quorvi")
            self.assertEqual(server_json.faults(good, bundle.name), [])
            digest = hashlib.sha256(b"bundle bytes").hexdigest()
            self.assertEqual(good["packages"][0]["fileSha256"], digest)
            scopes = good["packages"][0]["environmentVariables"]
            # Where the member is (the entry, its package, its first scope), what it becomes,
            # and a word of the fault.
            package, scope = ("packages", 0), ("packages", 0, "environmentVariables", 0)
            rows = [
                ("name without namespace", (), "name", "quorvi", "name"),
                ("name with two slashes", (), "name", "a/b/c", "name"),
                ("description of 101", (), "description", "x" * 101, "description"),
                ("no version", (), "version", DROP, "version"),
                ("title of 101", (), "title", "x" * 101, "title"),
                ("another schema", (), "$schema", "https://x/s.json", "$schema"),
                ("upper-case hash", package, "fileSha256", digest.upper(), "fileSha256"),
                ("hash of another file", package, "fileSha256", "0" * 64, "fileSha256"),
                ("http download", package, "identifier", "http://x/mcp.mcpb", "https"),
                ("registry base URL", package, "registryBaseUrl", "https://x", "registryBaseUrl"),
                ("another transport", package, "transport", {"type": "sse"}, "stdio"),
                ("one scope missing", package, "environmentVariables", scopes[:-1], "environment"),
                ("undescribed scope", scope, "description", DROP, "description"),
                ("unknown member", scope, "x", 1, "unknown"),
                ("no bundle", package, "registryType", "npm", "mcpb"),
            ]
            for label, where, member, value, word in rows:
                with self.subTest(label):
                    server = copy.deepcopy(good)
                    part = functools.reduce(operator.getitem, where, server)
                    if value is DROP:
                        del part[member]
                    else:
                        part[member] = value
                    found = server_json.faults(server, bundle.name)
                    self.assertTrue(any(word in fault for fault in found), f"{label}: {found}")


TOOLS = [{"name": f"quorvi_t{i}", "description": f"Tool {i}."} for i in range(15)]


def catalogue(count, header="Header line\n"):
    return header + json.dumps(TOOLS[:count])


class Manifest(unittest.TestCase):
    def test_tools_and_scopes_come_from_the_catalogue(self):
        out = manifest.manifest("1.2.3", "https://example.com", catalogue(14))
        self.assertEqual(out["tools"], TOOLS[:14])
        self.assertEqual(out["server"]["mcp_config"]["env"],
                         {"QUORVI_ONLY_TAGS": "${user_config.only_tags}",
                          "QUORVI_EXCLUDE_TAGS": "${user_config.exclude_tags}"})
        # Without a default, hosts pass the placeholder text itself, which would be a tag.
        for field in out["user_config"].values():
            self.assertEqual((field["type"], field["default"]), ("string", ""))

    def test_a_catalogue_that_is_not_the_server_s_is_refused(self):
        rows = [
            ("thirteen tools", catalogue(13)),
            ("fifteen tools", catalogue(15)),
            ("no header", catalogue(14, header="")),
            ("duplicate names", "H\n" + json.dumps([{"name": "a", "description": "b"}] * 14)),
            ("no description", "H\n" + json.dumps([{"name": f"t{i}"} for i in range(14)])),
        ]
        for label, text in rows:
            with self.subTest(label), self.assertRaises((SystemExit, ValueError)):
                manifest.manifest("1.2.3", "https://example.com", text)


TBD = """--- !tapi-tbd
tbd-version:     4
targets:         [ x86_64-macos, arm64-macos ]
install-name:    '/usr/lib/libSystem.B.dylib'
exports:
  - targets:         [ x86_64-macos ]
    symbols:         [ '_only_intel' ]
  - targets:         [ x86_64-macos, arm64-macos ]
    symbols:         [ _both, _two,
                       '_$ld$previous$x' ]
    weak-symbols:    [ _weak_one ]
...
--- !tapi-tbd
tbd-version:     4
targets:         [ arm64-macos ]
install-name:    '/usr/lib/system/libsystem_c.dylib'
undefineds:
  - targets:         [ arm64-macos ]
    symbols:         [ _imported_by_stub ]
exports:
  - targets:         [ arm64-macos ]
    symbols:         [ _from_c ]
    thread-local-symbols: [ _tls ]
...
"""


class Tbd(unittest.TestCase):
    def test_exports_per_target(self):
        both = {"_both", "_two", "_$ld$previous$x", "_weak_one"}
        self.assertEqual(macho_check.tbd_exports(TBD, "arm64-macos"), both | {"_from_c", "_tls"})
        self.assertEqual(macho_check.tbd_exports(TBD, "x86_64-macos"), both | {"_only_intel"})


def signed_macho(pages=3, page=4096, uuid=bytes(16), byte=0):
    """A minimal arm64 Mach-O: a header, LC_CODE_SIGNATURE, LC_UUID, a valid CodeDirectory."""
    code_limit = pages * page - 100
    header = struct.pack("<IiiIIIII", macho_check.MH_MAGIC_64, macho_check.CPU_TYPES["arm64"],
                         0, 2, 2, 40, 0, 0)
    body = bytearray(code_limit)
    body[: len(header)] = header
    blob_size = 20 + 44 + 32 * pages
    struct.pack_into("<IIII", body, 32, macho_check.LC_CODE_SIGNATURE, 16, code_limit, blob_size)
    struct.pack_into("<II16s", body, 48, macho_check.LC_UUID, 24, uuid)
    for i in range(96, code_limit, 7):
        body[i] = (i + byte) % 251
    hashes = b"".join(hashlib.sha256(bytes(body[i * page: min((i + 1) * page, code_limit)]))
                      .digest() for i in range(pages))
    cd_header = struct.pack(">IIIIIIIIIBBBBI", macho_check.CODEDIRECTORY_MAGIC, 0, 0x20400, 2,
                            44, 0, 0, pages, code_limit, 32, 2, 0, 12, 0)
    cd = cd_header + hashes
    cd = cd[:4] + struct.pack(">I", len(cd)) + cd[8:]
    blob = struct.pack(">IIIII", macho_check.SUPERBLOB_MAGIC, 20 + len(cd), 1, 0, 20) + cd
    return bytes(body) + blob


class Uuid(unittest.TestCase):
    def uuid(self, data):
        return macho_check.content_uuid(data)[56:72]

    def test_the_uuid_follows_the_content_alone(self):
        base = self.uuid(signed_macho())
        self.assertEqual(self.uuid(signed_macho(uuid=b"\x01" * 16)), base)
        self.assertNotEqual(self.uuid(signed_macho(byte=1)), base)
        self.assertEqual(base[6] >> 4, 5)  # a name-based UUID


class Signature(unittest.TestCase):
    def test_a_valid_signature_passes_and_every_fault_is_refused(self):
        good = signed_macho()
        self.assertIn("every hash matches", macho_check.check_signature(good))
        dataoff = struct.unpack_from("<I", good, 40)[0]
        cd = dataoff + 20

        # Each fault as a value packed over the good file: where, how, what, and a word of the
        # refusal.
        rows = [
            ("a flipped code byte", 5000, "<B", good[5000] ^ 1, "page 1"),
            ("a flipped last byte", dataoff - 1, "<B", good[dataoff - 1] ^ 1, "page 2"),
            ("SuperBlob magic", dataoff, ">I", 0xFADE0CC1, "SuperBlob"),
            ("CodeDirectory magic", cd, ">I", 0xFADE0C01, "CodeDirectory magic"),
            ("old version", cd + 8, ">I", 0x20001, "version"),
            ("SHA-1 of SHA-256 size", cd + 37, ">B", 1, "hash type"),
            ("page size", cd + 39, ">B", 13, "page size"),
            ("code limit short", cd + 32, ">I", dataoff - 4096, "codeLimit"),
            ("a slot missing", cd + 28, ">I", 2, "code slots"),
            ("no CodeDirectory", dataoff + 12, ">I", 2, "CodeDirectories"),
        ]
        for label, offset, fmt, value, word in rows:
            data = bytearray(good)
            struct.pack_into(fmt, data, offset, value)
            with self.subTest(label):
                with self.assertRaises(macho_check.Refused) as refused:
                    macho_check.check_signature(bytes(data))
                self.assertIn(word, str(refused.exception))


if __name__ == "__main__":
    unittest.main()
