// Reads a PE image file's headers, imports and exports, without loading it.
#ifndef PE_IMAGE_H
#define PE_IMAGE_H

#include <windows.h>
#include <string>
#include <vector>

struct PeImage {
    bool valid = false;
    IMAGE_FILE_HEADER file = {};
    IMAGE_OPTIONAL_HEADER32 optional = {};
    std::string exportModule;              // the export table's module name
    std::vector<std::string> exports;      // exported names
    std::vector<std::string> importedDlls; // as the import table names them
};

PeImage ReadPeImage(const std::string &path);

#endif
