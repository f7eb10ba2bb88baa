// Reading the board and BIOS identity out of an SMBIOS structure table.
// Portable: the native tests feed it crafted tables.
#pragma once
#include <cstddef>
#include <string>

struct TSmbiosIdentity {
    std::string BiosVendor, BiosVersion, BiosDate;  // type 0
    std::string BoardMaker, BoardProduct;           // type 2
};

// Walks the structures (bounded by size); missing fields stay empty.
TSmbiosIdentity ParseSmbios(const unsigned char* table, size_t size);

// True when the maker string names NORV (letter case and blanks ignored).
bool IsNorvMaker(const std::string& maker);
