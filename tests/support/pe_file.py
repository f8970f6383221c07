"""What the release checks read from a PE file without running it: its section names (long
names through the COFF string table) and its version resource (VS_VERSIONINFO)."""
import struct

RT_VERSION = 16


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        data = self.data
        if data[:2] != b"MZ":
            raise ValueError("%s: not an MZ file" % path)
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s: no PE signature" % path)
        _, count, _, symbols, symbol_count, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        strings = symbols + symbol_count * 18
        self.sections = []  # (name, virtual address, virtual size, raw offset, raw size)
        for i in range(count):
            at = optional + optional_size + 40 * i
            raw_name = data[at:at + 8].rstrip(b"\0")
            if raw_name.startswith(b"/") and symbols:
                start = strings + int(raw_name[1:])
                raw_name = data[start:data.index(b"\0", start)]
            size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((raw_name.decode("ascii", "replace"), address, size, raw_offset, raw_size))

    def section_names(self):
        return [s[0] for s in self.sections]

    def section_data(self, name):
        for s_name, _, size, offset, raw_size in self.sections:
            if s_name == name:
                return self.data[offset:offset + min(size or raw_size, raw_size)]
        return None

    def _offset(self, rva):
        for _, address, size, offset, raw_size in self.sections:
            if address <= rva < address + max(size, raw_size):
                return offset + rva - address
        raise ValueError("RVA 0x%x lies in no section" % rva)

    def _resource_entries(self, directory):
        base = self._offset(self.resource_rva)
        named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
            yield name, target

    def version_resource(self):
        """The raw VS_VERSIONINFO block, or None."""
        if not self.resource_rva:
            return None
        base = self._offset(self.resource_rva)
        for type_id, names in self._resource_entries(0):
            if type_id != RT_VERSION:
                continue
            for _, languages in self._resource_entries(names & 0x7FFFFFFF):
                for _, entry in self._resource_entries(languages & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + entry)
                    start = self._offset(rva)
                    return self.data[start:start + size]
        return None

    def version_info(self):
        """{"fixed": "a.b.c.d" (file version), "strings": {name: text}} or None."""
        block = self.version_resource()
        if block is None:
            return None
        root = _parse_block(block, 0)
        fixed = root["value"]
        signature, _, ms, ls = struct.unpack_from("<IIII", fixed, 0)
        if signature != 0xFEEF04BD:
            raise ValueError("VS_FIXEDFILEINFO signature 0x%x" % signature)
        strings = {}
        for child in root["children"]:
            if child["key"] == "StringFileInfo":
                for table in child["children"]:
                    for value in table["children"]:
                        strings[value["key"]] = value["value"].decode("utf-16-le").rstrip("\0")
        return {"fixed": "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), "strings": strings}


def _align(n):
    return (n + 3) & ~3


def _parse_block(data, at):
    """One node of a version resource: wLength, wValueLength, wType, key, value, children."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_start = _align(key_end + 2)
    value_bytes = value_length * 2 if kind == 1 else value_length
    node = {"key": key, "value": data[value_start:value_start + value_bytes], "children": []}
    child = _align(value_start + value_bytes)
    while child < end:
        child_length = struct.unpack_from("<H", data, child)[0]
        if child_length == 0:
            break
        node["children"].append(_parse_block(data, child))
        child = _align(child + child_length)
    return node
