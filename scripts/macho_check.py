#!/usr/bin/env python3
"""Checks a macOS executable (thin or universal) as the loader and the kernel would see it.

  macho_check.py signature FILE ARCH     the ad-hoc code signature of the ARCH slice holds page
                                         by page
  macho_check.py imports FILE ARCH TBD   every symbol the ARCH slice imports is exported by the
                                         libSystem stubs TBD (the oldest supported macOS's)
  macho_check.py corrupt FILE ARCH OUT   writes a copy of FILE with one byte of the ARCH slice's
                                         __text flipped (the signature check must refuse it)
  macho_check.py uuid FILE ARCH          sets the thin FILE's LC_UUID to a hash of its content,
                                         signature aside (sign again afterwards)

Standard library only: it runs wherever the cross-build runs, without Apple's tools.
"""

import hashlib
import re
import struct
import subprocess
import sys

FAT_MAGIC = 0xCAFEBABE
MH_MAGIC_64 = 0xFEEDFACF
CPU_TYPES = {"x86_64": 0x01000007, "arm64": 0x0100000C}
LC_SEGMENT_64 = 0x19
LC_UUID = 0x1B
LC_CODE_SIGNATURE = 0x1D
SUPERBLOB_MAGIC = 0xFADE0CC0
CODEDIRECTORY_MAGIC = 0xFADE0C02
CODEDIRECTORY_SLOT = 0
HASHES = {1: ("sha1", 20), 2: ("sha256", 32)}  # hash types a CodeDirectory may use
SUPPORTS_SCATTER = 0x20100
PAGE_SHIFTS = (12, 14)


class Refused(Exception):
    pass


def slice_range(data, arch):
    """Offset and size of the ARCH slice: the whole file when it is thin."""
    (magic,) = struct.unpack_from(">I", data, 0)
    if magic == FAT_MAGIC:
        (count,) = struct.unpack_from(">I", data, 4)
        for i in range(count):
            cputype, _, offset, size, _ = struct.unpack_from(">iiIII", data, 8 + 20 * i)
            if cputype == CPU_TYPES[arch]:
                return offset, size
        raise Refused(f"no {arch} slice")
    (magic, cputype) = struct.unpack_from("<Ii", data, 0)
    if magic != MH_MAGIC_64:
        raise Refused(f"not a 64-bit Mach-O file (magic {magic:#x})")
    if cputype != CPU_TYPES[arch]:
        raise Refused(f"a thin file of cpu type {cputype:#x}, not {arch}")
    return 0, len(data)


def load_commands(macho):
    magic, _, _, _, ncmds, _, _, _ = struct.unpack_from("<IiiIIIII", macho, 0)
    if magic != MH_MAGIC_64:
        raise Refused(f"not a 64-bit Mach-O slice (magic {magic:#x})")
    offset = 32
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<II", macho, offset)
        yield cmd, offset
        offset += size


def text_section(macho):
    """File offset and size of __TEXT,__text."""
    for cmd, offset in load_commands(macho):
        if cmd != LC_SEGMENT_64:
            continue
        nsects = struct.unpack_from("<I", macho, offset + 64)[0]
        for i in range(nsects):
            sect = offset + 72 + 80 * i
            name = macho[sect : sect + 16].rstrip(b"\0")
            seg = macho[sect + 16 : sect + 32].rstrip(b"\0")
            if (seg, name) == (b"__TEXT", b"__text"):
                size = struct.unpack_from("<Q", macho, sect + 40)[0]
                file_offset = struct.unpack_from("<I", macho, sect + 48)[0]
                return file_offset, size
    raise Refused("no __TEXT,__text section")


def content_uuid(macho):
    """MACHO with its LC_UUID derived from everything but the UUID and the signature.

    The linker derives the UUID from the file as it wrote it, local symbols, object file paths
    and times included; once those are stripped it must follow what is left, or two builds of
    one commit in two directories differ in it alone.
    """
    uuids = [off + 8 for cmd, off in load_commands(macho) if cmd == LC_UUID]
    if len(uuids) != 1:
        raise Refused(f"{len(uuids)} LC_UUID commands, not 1")
    end = len(macho)
    for cmd, off in load_commands(macho):
        if cmd == LC_CODE_SIGNATURE:
            end = struct.unpack_from("<I", macho, off + 8)[0]
    out = bytearray(macho)
    out[uuids[0] : uuids[0] + 16] = bytes(16)
    uuid = bytearray(hashlib.sha256(out[:end]).digest()[:16])
    uuid[6] = (uuid[6] & 0x0F) | 0x50  # an RFC 4122 name-based UUID
    uuid[8] = (uuid[8] & 0x3F) | 0x80
    out[uuids[0] : uuids[0] + 16] = uuid
    return bytes(out)


def check_signature(macho):
    """Returns a one-line summary, or raises Refused with the first fault found."""
    signatures = [off for cmd, off in load_commands(macho) if cmd == LC_CODE_SIGNATURE]
    if len(signatures) != 1:
        raise Refused(f"{len(signatures)} LC_CODE_SIGNATURE commands, not 1")
    dataoff, datasize = struct.unpack_from("<II", macho, signatures[0] + 8)
    if dataoff + datasize > len(macho):
        raise Refused("the signature reaches past the end of the file")
    blob = macho[dataoff : dataoff + datasize]
    magic, length, count = struct.unpack_from(">III", blob, 0)
    if magic != SUPERBLOB_MAGIC:
        raise Refused(f"SuperBlob magic {magic:#x}")
    if length > datasize:
        raise Refused("the SuperBlob is longer than its load command says")
    directories = []
    for i in range(count):
        slot, offset = struct.unpack_from(">II", blob, 12 + 8 * i)
        if slot == CODEDIRECTORY_SLOT:
            directories.append(offset)
    if len(directories) != 1:
        raise Refused(f"{len(directories)} CodeDirectories, not 1")
    cd = blob[directories[0] :]
    (magic, _, version, _, hash_offset, _, _, n_code_slots, code_limit, hash_size, hash_type,
     _, page_shift) = struct.unpack_from(">IIIIIIIIIBBBB", cd, 0)
    if magic != CODEDIRECTORY_MAGIC:
        raise Refused(f"CodeDirectory magic {magic:#x}")
    if version < SUPPORTS_SCATTER:
        raise Refused(f"CodeDirectory version {version:#x} is older than macOS 11 accepts")
    if hash_type not in HASHES or HASHES[hash_type][1] != hash_size:
        raise Refused(f"hash type {hash_type} of size {hash_size}")
    # The kernel takes 4 KiB pages, and on arm64 its own 16 KiB ones too.
    if page_shift not in PAGE_SHIFTS:
        raise Refused(f"page size 2^{page_shift}, not 4096 or 16384")
    if code_limit != dataoff:
        raise Refused(f"codeLimit {code_limit} is not the signature's offset {dataoff}")
    page = 1 << page_shift
    if n_code_slots != (code_limit + page - 1) // page:
        raise Refused(f"{n_code_slots} code slots for {code_limit} bytes of {page}-byte pages")
    name = HASHES[hash_type][0]
    for i in range(n_code_slots):
        start = i * page
        want = cd[hash_offset + i * hash_size : hash_offset + (i + 1) * hash_size]
        got = hashlib.new(name, macho[start : min(start + page, code_limit)]).digest()
        if got != want:
            raise Refused(f"page {i} (bytes {start}..) does not match its hash")
    return f"{n_code_slots} pages of {page} bytes, {name}, version {version:#x}: every hash matches"


def tbd_exports(tbd, target):
    """Every symbol the .tbd stubs export (or re-export) for TARGET, such as arm64-macos."""
    exported = set()
    for document in tbd.split("--- !tapi-tbd")[1:]:
        section = None
        targets = []
        for match in re.finditer(r"^( *)(-? *)([a-z-]+):[ \t]*(\[[^\]]*\]|.*)$", document, re.M):
            indent, _, key, value = match.groups()
            if not indent and not match.group(2):
                section = key
                continue
            if section not in ("exports", "reexports"):
                continue
            items = [s.strip().strip("'\"") for s in value.strip("[] \n").split(",")]
            items = [s for s in (" ".join(i.split()) for i in items) if s]
            if key == "targets":
                targets = items
            elif target in targets and key in ("symbols", "weak-symbols", "thread-local-symbols"):
                exported.update(items)
            elif target in targets and key in ("objc-classes", "objc-eh-types"):
                exported.update(f"_OBJC_CLASS_$_{i}" for i in items)
    return exported


def imported_symbols(path, arch):
    nm = next(tool for tool in ("llvm-nm", "llvm-nm-14") if subprocess.run(
        ["sh", "-c", f"command -v {tool}"], capture_output=True).returncode == 0)
    out = subprocess.run([nm, "--arch", arch, "--undefined-only", "--just-symbol-name", path],
                         check=True, capture_output=True, text=True).stdout
    return {line.strip() for line in out.splitlines() if line.strip() and ":" not in line}


def main(argv):
    if len(argv) < 4 or argv[1] not in ("signature", "imports", "corrupt", "uuid"):
        print(__doc__, file=sys.stderr)
        return 2
    command, path, arch = argv[1:4]
    with open(path, "rb") as f:
        data = f.read()
    try:
        offset, size = slice_range(data, arch)
        macho = data[offset : offset + size]
        if command == "signature":
            print(f"{path} {arch}: {check_signature(macho)}")
        elif command == "imports":
            with open(argv[4], encoding="utf-8") as f:
                exported = tbd_exports(f.read(), f"{arch}-macos")
            imported = imported_symbols(path, arch)
            missing = sorted(imported - exported)
            if not imported or missing:
                raise Refused(f"imports missing from {argv[4]}: {' '.join(missing) or 'none read'}")
            print(f"{path} {arch}: all {len(imported)} imports are in {argv[4]}")
        elif command == "uuid":
            if (offset, size) != (0, len(data)):
                raise Refused("not a thin file")
            with open(path, "wb") as f:
                f.write(content_uuid(macho))
        else:
            text_offset, text_size = text_section(macho)
            flipped = bytearray(data)
            flipped[offset + text_offset + text_size // 2] ^= 0x01
            with open(argv[4], "wb") as f:
                f.write(flipped)
    except (Refused, struct.error) as e:
        print(f"{path} {arch}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
