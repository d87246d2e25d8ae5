#!/usr/bin/env python3
"""Reads storage files with olefile, on the host, and checks their names, properties and contents.

check_store_file.py FILE: the sample that server_tests writes, against what that test put into it.
check_store_file.py --expected FILE...: each file against the manifest FILE.expected beside it (lines
"file<TAB>path<TAB>digest" and "rename<TAB>old path<TAB>new path", paths with "/" between display names,
digests in hexadecimal): every file whole, each renamed element under exactly one of its names.

An independent reader: it decodes element names, property-set stream names and the serialized property
sets itself, so a file that only our own code (or only Wine) could read fails here. Every child must be an
element with a set of its own, and every set an element's."""
import hashlib
import re
import struct
import sys

import olefile

ELEMENT_ID = "{91E7A3FD-8F93-4875-8436-CC1653BF4067}"
ELEMENT_NAME = "{2F808BAE-BF2C-4192-BCE2-48C6A40E546F}"
FROZEN = "{8EBBA014-13B6-41EF-91D8-EFC75E41B58A}"
STORAGE_FLAGS = "{91A82CC8-587F-4720-B9AB-A4A78D285379}"
COMMENT = "{F64FAA41-9EC6-4361-8894-7F2952256482}"
VT_I2, VT_BSTR, VT_BOOL, VT_UI8 = 2, 8, 11, 21

# What the test put into the file: display names with stream contents, folders as nested dicts.
EXPECTED = {
    "Report.txt": b"hello from the element store\n",
    "Documents": {"inner.txt": b"inner data"},
    "New Name.txt": b"renamed data",
}

GUID_TEXT = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def set_stream_name(fmtid: bytes) -> str:
    """The property-set stream name of an FMTID: radix 32 over its bits, least significant first."""
    alphabet = "abcdefghijklmnopqrstuvwxyz012345"
    bits = int.from_bytes(fmtid, "little")
    name = "\x05"
    for k in range(26):
        c = alphabet[(bits >> (5 * k)) & 31]
        if (5 * k) % 8 == 0:
            c = c.upper()
        name += c
    return name


def element_fmtid(element_name: str) -> bytes:
    words = element_name.split()
    if len(words) != 4 or not all(re.fullmatch(r"[0-9a-v]{1,7}", w) for w in words):
        fail("element name %r is not four radix-32 words" % element_name)
    return b"".join(struct.pack("<I", int(w, 32)) for w in words)


def parse_set(data: bytes, fmtid: bytes) -> dict:
    """The named properties of a serialized set: {name: (type, value)}."""
    order, version, _, _, count = struct.unpack_from("<HHI16sI", data, 0)
    if order != 0xFFFE or count != 1:
        fail("bad set header")
    set_fmtid, offset = struct.unpack_from("<16sI", data, 28)
    if set_fmtid != fmtid:
        fail("set holds another FMTID")
    size, properties = struct.unpack_from("<II", data, offset)
    section = data[offset:offset + size]
    table = dict(struct.unpack_from("<II", section, 8 + 8 * i) for i in range(properties))
    vt, cp = struct.unpack_from("<HxxH", section, table[1])
    if vt != VT_I2 or cp != 1200:
        fail("code page is not Unicode")
    names = {}
    if 0 in table:
        at = table[0]
        (entries,) = struct.unpack_from("<I", section, at)
        at += 4
        for _ in range(entries):
            pid, length = struct.unpack_from("<II", section, at)
            at += 8
            names[pid] = section[at:at + 2 * length].decode("utf-16-le").rstrip("\0")
            at += (2 * length + 3) & ~3
    values = {}
    for pid, at in table.items():
        if pid in (0, 1):
            continue
        (vt,) = struct.unpack_from("<H", section, at)
        if vt == VT_BSTR:
            (n,) = struct.unpack_from("<I", section, at + 4)
            value = section[at + 8:at + 8 + n].decode("utf-16-le")
            if not value.endswith("\0"):
                fail("string without its terminator")
            value = value[:-1]
        elif vt == VT_BOOL:
            (value,) = struct.unpack_from("<H", section, at + 4)
        elif vt == VT_UI8:
            (value,) = struct.unpack_from("<Q", section, at + 4)
        else:
            fail("unexpected type %d" % vt)
        values[names.get(pid, pid)] = (vt, value)
    return values


def read_store(path):
    """The root's properties and the element tree: {display name: bytes, or a dict for a folder}."""
    ole = olefile.OleFileIO(path)
    entries = ole.listdir(streams=True, storages=True)

    def children(prefix):
        return [e for e in entries if len(e) == len(prefix) + 1 and e[:len(prefix)] == prefix]

    def read_set(prefix, fmtid):
        stream = prefix + [set_stream_name(fmtid)]
        if stream not in entries:
            fail("no property set %r in %r" % (stream[-1], prefix))
        return parse_set(ole.openstream(stream).read(), fmtid)

    # Only a storage made by the wizard (or as it does) has root properties.
    root = read_set([], bytes(16)) if [set_stream_name(bytes(16))] in entries else {}
    owned_sets = {((), set_stream_name(bytes(16)))}

    def walk(prefix):
        tree = {}
        for entry in children(prefix):
            name = entry[-1]
            if name.startswith("\x05"):
                continue
            fmtid = element_fmtid(name)
            props = read_set(prefix, fmtid)
            owned_sets.add((tuple(prefix), set_stream_name(fmtid)))
            if set(props) - {ELEMENT_ID, ELEMENT_NAME, COMMENT}:
                fail("unexpected properties %r" % sorted(props))
            display = props[ELEMENT_NAME][1]
            if not GUID_TEXT.match(props.get(ELEMENT_ID, (0, ""))[1]):
                fail("%s has no identity" % display)
            if display == "New Name.txt" and props.get(COMMENT) != (VT_BSTR, "Y29tbWVudA"):
                fail("the renamed file lost its comment")
            is_folder = ole.get_type(entry) == olefile.STGTY_STORAGE
            tree[display] = walk(entry) if is_folder else ole.openstream(entry).read()
        return tree

    tree = walk([])
    # Every set stream belongs to an element (or is the root's): a renamed element's old set is gone.
    for entry in entries:
        if entry[-1].startswith("\x05"):
            if (tuple(entry[:-1]), entry[-1]) not in owned_sets:
                fail("set stream %r belongs to no element" % entry)
    return root, tree


def check_sample(path):
    root, tree = read_store(path)
    if root.get(FROZEN) != (VT_BOOL, 0xFFFF):
        fail("FrozenProperty is %r" % (root.get(FROZEN),))
    if root.get(STORAGE_FLAGS) != (VT_UI8, 1):
        fail("StorageFlagsProperty is %r" % (root.get(STORAGE_FLAGS),))
    if not GUID_TEXT.match(root.get(ELEMENT_ID, (0, ""))[1]):
        fail("the root has no identity")
    if tree != EXPECTED:
        fail("tree is %r" % tree)
    print("ok:", sorted(tree))


def stream_digest(data):
    """The server's content digest: the XOR of the MD5 digests of the successive 4096-byte reads."""
    digest = bytes(16)
    for at in range(0, len(data), 4096):
        digest = bytes(a ^ b for a, b in zip(digest, hashlib.md5(data[at:at + 4096]).digest()))
    return digest


def check_expected(path):
    files, renames = {}, []
    with open(path + ".expected", encoding="utf-8") as manifest:
        for line in manifest:
            kind, first, second = line.rstrip("\n").split("\t")
            if kind == "file":
                files[first] = second
            elif kind == "rename":
                renames.append((first, second))
    found = {}

    def flatten(prefix, tree):
        for name, value in tree.items():
            if isinstance(value, dict):
                flatten(prefix + name + "/", value)
            else:
                found[prefix + name] = stream_digest(value).hex()

    flatten("", read_store(path)[1])

    def under(name, folder):
        return name == folder or name.startswith(folder + "/")

    for old, new in renames:
        old_seen, new_seen = (any(under(name, folder) for name in found) for folder in (old, new))
        if old_seen == new_seen:
            fail("%s: %s is found under %s of its names" % (path, old, "both" if old_seen else "neither"))
        if new_seen:
            found = {old + name[len(new):] if under(name, new) else name: digest for name, digest in found.items()}
    if found != files:
        fail("%s holds %r" % (path, found))
    print("ok:", path)


if __name__ == "__main__":
    if sys.argv[1] == "--expected":
        for argument in sys.argv[2:]:
            check_expected(argument)
    else:
        check_sample(sys.argv[1])
