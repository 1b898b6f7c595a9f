// PE file reader (see pe_image.h).
#include "pe_image.h"
#include <fstream>
#include <iterator>

namespace {
struct File {
    std::vector<char> bytes;
    std::vector<IMAGE_SECTION_HEADER> sections;

    // File offset of an RVA, or 0 when no section holds it.
    size_t Offset(DWORD rva) const
    {
        for (const IMAGE_SECTION_HEADER &s : sections)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize)
                return rva - s.VirtualAddress + s.PointerToRawData;
        return 0;
    }
    template <class T> bool Read(size_t offset, T *out) const
    {
        if (!offset || offset + sizeof(T) > bytes.size()) return false;
        CopyMemory(out, &bytes[offset], sizeof(T));
        return true;
    }
    std::string Text(DWORD rva) const
    {
        size_t at = Offset(rva), end = at;
        while (at && end < bytes.size() && bytes[end]) end++;
        return at ? std::string(&bytes[at], end - at) : std::string();
    }
};
}

PeImage ReadPeImage(const std::string &path)
{
    PeImage image;
    File f;
    std::ifstream in(path, std::ios::binary);
    f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    IMAGE_DOS_HEADER dos;
    DWORD signature;
    if (f.bytes.size() < sizeof dos) return image;
    CopyMemory(&dos, f.bytes.data(), sizeof dos);
    size_t nt = (size_t)dos.e_lfanew;
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || !f.Read(nt, &signature) || signature != IMAGE_NT_SIGNATURE ||
        !f.Read(nt + 4, &image.file) || !f.Read(nt + 4 + sizeof image.file, &image.optional) ||
        image.optional.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return image;
    size_t sectionTable = nt + 4 + sizeof image.file + image.file.SizeOfOptionalHeader;
    f.sections.resize(image.file.NumberOfSections);
    for (size_t i = 0; i < f.sections.size(); i++)
        if (!f.Read(sectionTable + i * sizeof(IMAGE_SECTION_HEADER), &f.sections[i])) return image;

    const IMAGE_DATA_DIRECTORY *dirs = image.optional.DataDirectory;
    IMAGE_IMPORT_DESCRIPTOR d;
    for (size_t at = f.Offset(dirs[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
         f.Read(at, &d) && d.Name; at += sizeof d)
        image.importedDlls.push_back(f.Text(d.Name));

    IMAGE_EXPORT_DIRECTORY e;
    if (f.Read(f.Offset(dirs[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress), &e)) {
        image.exportModule = f.Text(e.Name);
        DWORD name;
        for (DWORD i = 0; i < e.NumberOfNames && f.Read(f.Offset(e.AddressOfNames) + i * 4, &name); i++)
            image.exports.push_back(f.Text(name));
    }
    image.valid = true;
    return image;
}
