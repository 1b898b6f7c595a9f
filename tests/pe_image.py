"""The parts of a 32-bit PE image that the host-side checks read: sections,
exports, imports, base relocations, the COFF symbol table."""
import struct


def u16(data, offset):
    return struct.unpack_from('<H', data, offset)[0]


def u32(data, offset):
    return struct.unpack_from('<I', data, offset)[0]


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = u32(data, 0x3C)
        count = u16(data, pe + 6)
        self.symbol_table, self.symbol_count = u32(data, pe + 12), u32(data, pe + 16)
        optional = pe + 24
        self.base = u32(data, optional + 28)
        self.directories = [struct.unpack_from('<II', data, optional + 96 + 8 * i) for i in range(16)]
        table = optional + u16(data, pe + 20)
        self.strings = self.symbol_table + 18 * self.symbol_count
        self.sections = []  # (name, RVA, size in memory, file offset, size in file)
        for i in range(count):
            name, size, rva, raw_size, raw = struct.unpack_from('<8sIIII', data, table + 40 * i)
            name = name.rstrip(b'\0').decode()
            if name.startswith('/'):  # a long name, in the string table
                name = self.c_string(self.strings + int(name[1:]))
            self.sections.append((name, rva, size, raw, raw_size))

    def c_string(self, offset):
        return self.data[offset:self.data.index(b'\0', offset)].decode()

    def offset(self, rva):
        for _, start, size, raw, raw_size in self.sections:
            if start <= rva < start + min(size, raw_size):
                return raw + rva - start
        raise ValueError(f'RVA {rva:#x} is in no section with data')

    def u32(self, rva):
        return u32(self.data, self.offset(rva))

    def string(self, rva):
        return self.c_string(self.offset(rva))

    def section_data(self):
        """Name to contents of every section the loader maps from the file."""
        return {name: self.data[raw:raw + min(size, raw_size)]
                for name, _, size, raw, raw_size in self.sections if raw_size and not name.startswith('.debug')}

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return []
        count, names = self.u32(rva + 24), self.u32(rva + 32)
        return sorted(self.string(self.u32(names + 4 * i)) for i in range(count))

    def imports(self):
        """(DLL in capitals, function name or #ordinal) of every import."""
        found, entry = set(), self.directories[1][0]
        while self.u32(entry + 12):
            dll = self.string(self.u32(entry + 12)).upper()
            thunk = self.u32(entry) or self.u32(entry + 16)
            while value := self.u32(thunk):
                found.add((dll, f'#{value & 0xFFFF}' if value & 0x80000000 else self.string(value + 2)))
                thunk += 4
            entry += 20
        return found

    def relocations(self):
        """RVA of every 32-bit fixup, with the RVA it points to."""
        found, block, size = {}, *self.directories[5]
        end = block + size
        while block < end:
            page, length = self.u32(block), self.u32(block + 4)
            for i in range(8, length, 2):
                entry = u16(self.data, self.offset(block + i))
                if entry >> 12 == 3:  # IMAGE_REL_BASED_HIGHLOW
                    site = page + (entry & 0xFFF)
                    found[site] = self.u32(site) - self.base
            block += length
        return found

    def symbols(self):
        """Name to (RVA, is a function) of every symbol defined in a section."""
        found, i = {}, 0
        while i < self.symbol_count:
            name, value, section, kind, _, aux = struct.unpack_from('<8sIhHBB', self.data, self.symbol_table + 18 * i)
            name = self.c_string(self.strings + u32(name, 4)) if name[:4] == b'\0\0\0\0' else name.rstrip(b'\0').decode()
            if section > 0:
                found[name] = (self.sections[section - 1][1] + value, kind == 0x20)
            i += 1 + aux
        return found
