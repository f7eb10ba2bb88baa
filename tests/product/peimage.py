"""A small reader of Windows PE images: headers, sections, imports, the
resource tree, the version resource and the Authenticode certificate table.
Enough for the release check to read what Windows and its administrators read
out of a file; it trusts nothing in the file and raises PEError on anything
that does not fit inside it."""
import struct

RT_VERSION = 16
RT_MANIFEST = 24
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2


class PEError(Exception):
    pass


class Section:
    def __init__(self, name, vsize, va, rawsize, rawptr):
        self.name, self.vsize, self.va, self.rawsize, self.rawptr = name, vsize, va, rawsize, rawptr


class PEImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PEError("no MZ header")
        pe = self._u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        (self.machine, nsect, _, symptr, nsyms, optsize,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = self._u16(opt)
        if self.magic == 0x10B:
            dirs_at, ndirs_at = opt + 96, opt + 92
        elif self.magic == 0x20B:
            dirs_at, ndirs_at = opt + 112, opt + 108
        else:
            raise PEError("unknown optional header 0x%x" % self.magic)
        self.dll_characteristics = self._u16(opt + 70)
        ndirs = min(self._u32(ndirs_at), 16)
        self.dirs = [struct.unpack_from("<II", data, dirs_at + 8 * i) for i in range(ndirs)]
        self.dirs += [(0, 0)] * (16 - ndirs)
        strtab = symptr + 18 * nsyms if symptr else None
        self.sections = []
        at = opt + optsize
        for i in range(nsect):
            raw_name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, at + 40 * i)
            name = raw_name.rstrip(b"\0").decode("latin-1")
            # A name longer than 8 characters is "/offset" into the COFF string table.
            if name.startswith("/") and strtab is not None:
                off = strtab + int(name[1:])
                name = data[off:data.index(b"\0", off)].decode("latin-1")
            self.sections.append(Section(name, vsize, va, rawsize, rawptr))

    def _u16(self, off):
        return self._unpack("<H", off)[0]

    def _u32(self, off):
        return self._unpack("<I", off)[0]

    def _unpack(self, fmt, off):
        if off < 0 or off + struct.calcsize(fmt) > len(self.data):
            raise PEError("read past the end of the file at 0x%x" % off)
        return struct.unpack_from(fmt, self.data, off)

    def section(self, name):
        return next((s for s in self.sections if s.name == name), None)

    def section_bytes(self, name):
        s = self.section(name)
        return None if s is None else self.data[s.rawptr:s.rawptr + min(s.rawsize, s.vsize or s.rawsize)]

    def offset(self, rva):
        for s in self.sections:
            if s.va <= rva < s.va + max(s.vsize, s.rawsize):
                off = s.rawptr + rva - s.va
                if off < len(self.data):
                    return off
        raise PEError("RVA 0x%x lies in no section" % rva)

    def cstring(self, rva):
        off = self.offset(rva)
        end = self.data.find(b"\0", off)
        if end < 0:
            raise PEError("unterminated name")
        return self.data[off:end].decode("latin-1")

    def imports(self):
        """The names of the libraries the image imports from."""
        rva, size = self.dirs[1]
        names = []
        if not rva:
            return names
        off = self.offset(rva)
        while True:
            ilt, _, _, name_rva, iat = self._unpack("<IIIII", off)
            if not (ilt or name_rva or iat):
                return names
            names.append(self.cstring(name_rva))
            off += 20

    def resources(self):
        """{(type, name, language): bytes}; type and name are ints or texts."""
        rva, size = self.dirs[2]
        found = {}
        if not rva:
            return found
        base = self.offset(rva)

        def entries(off):
            named, ids = self._unpack("<HH", off + 12)
            for i in range(named + ids):
                ident, target = self._unpack("<II", off + 16 + 8 * i)
                if ident & 0x80000000:
                    at = base + (ident & 0x7FFFFFFF)
                    n = self._u16(at)
                    ident = self.data[at + 2:at + 2 + 2 * n].decode("utf-16-le")
                yield ident, target

        def walk(off, path, depth):
            if depth > 3:
                raise PEError("resource tree deeper than type/name/language")
            for ident, target in entries(off):
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + (ident,), depth + 1)
                elif depth == 3:
                    data_rva, data_size = self._unpack("<II", base + target)
                    at = self.offset(data_rva)
                    if at + data_size > len(self.data):
                        raise PEError("resource data past the end of the file")
                    found[path + (ident,)] = self.data[at:at + data_size]
                else:
                    raise PEError("resource leaf above the language level")

        walk(base, (), 1)
        return found

    def resources_of_type(self, rtype):
        return [v for k, v in self.resources().items() if k[0] == rtype]

    def certificates(self):
        """[(revision, type, blob, file offset, length)] of the certificate
        table; its directory entry holds a file offset, not an RVA."""
        off, size = self.dirs[4]
        certs = []
        end = off + size
        if not off:
            return certs
        if end > len(self.data):
            raise PEError("certificate table past the end of the file")
        while off < end:
            length, revision, ctype = self._unpack("<IHH", off)
            if length < 8 or off + length > end:
                raise PEError("damaged certificate entry")
            certs.append((revision, ctype, self.data[off + 8:off + length], off, length))
            off += (length + 7) & ~7
        return certs


def _version_node(data, off):
    """One node of a version resource: (key, value, children, end)."""
    length, value_length, vtype = struct.unpack_from("<HHH", data, off)
    end = off + length
    if length < 6 or end > len(data):
        raise PEError("damaged version resource node")
    at = off + 6
    key_end = at
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            raise PEError("unterminated key in the version resource")
    key = data[at:key_end].decode("utf-16-le")
    at = (key_end + 2 + 3) & ~3
    if vtype == 1:  # text, length in characters with the terminator
        value = data[at:at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        at += 2 * value_length
    else:
        value = data[at:at + value_length]
        at += value_length
    at = (at + 3) & ~3
    children = []
    while at < end:
        child = _version_node(data, at)
        children.append(child)
        at = (child[3] + 3) & ~3
    return key, value, children, end


def version_info(data):
    """(fixed file info as a dict, {string name: text}) of a version resource."""
    key, value, children, _ = _version_node(data, 0)
    if key != "VS_VERSION_INFO" or len(value) < 52:
        raise PEError("not a version resource")
    fields = struct.unpack_from("<13I", value)
    if fields[0] != 0xFEEF04BD:
        raise PEError("bad VS_FIXEDFILEINFO signature")
    fixed = {
        "file_version": (fields[2] >> 16, fields[2] & 0xFFFF, fields[3] >> 16, fields[3] & 0xFFFF),
        "product_version": (fields[4] >> 16, fields[4] & 0xFFFF, fields[5] >> 16, fields[5] & 0xFFFF),
        "file_os": fields[8], "file_type": fields[9],
    }
    strings = {}
    for ckey, _, tables, _ in children:
        if ckey == "StringFileInfo":
            for _, _, values, _ in tables:
                for name, text, _, _ in values:
                    strings[name] = text
    return fixed, strings
