// Builds zip archives in memory for tests, including ones no honest writer
// makes: wrong CRCs and sizes, names that disagree, members that overlap.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ziptest {

struct Entry {
    std::string Name;
    std::string Data;
    uint16_t Method = 8;  // 0 stored, 8 deflated, anything else as given
    uint16_t Flags = 0;
    bool Descriptor = false;  // sizes and CRC after the data (flag bit 3)
    bool Zip64 = false;       // sizes in Zip64 extra fields
    // Crafting: values that replace the true ones (in both headers unless said).
    bool SetCrc = false;
    uint32_t Crc = 0;
    bool SetSize = false;
    uint64_t Size = 0;
    bool SetCompressedSize = false;
    uint64_t CompressedSize = 0;
    std::string LocalName;    // when not empty: the local header's name
    bool SetRaw = false;      // Raw replaces the compressed data
    std::string Raw;
    int SharesLocalOf = -1;   // >= 0: no local header of its own: that entry's header and data
};

inline void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
inline void Put64(std::string& s, uint64_t v) {
    Put32(s, static_cast<uint32_t>(v));
    Put32(s, static_cast<uint32_t>(v >> 32));
}

inline std::string Deflate(const std::string& data, int level = 6) {
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline uint32_t Crc32(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

class Builder {
public:
    std::vector<Entry> Entries;
    std::string Comment;
    bool Zip64End = false;  // write the Zip64 end record and its locator

    Entry& Add(const std::string& name, const std::string& data, uint16_t method = 8) {
        Entry e;
        e.Name = name;
        e.Data = data;
        e.Method = method;
        Entries.push_back(e);
        return Entries.back();
    }

    std::string Build() const {
        std::string out;
        struct Done {
            uint64_t Offset, CompressedSize, Size;
            uint32_t Crc;
        };
        std::vector<Done> done;
        for (const Entry& e : Entries) {
            if (e.SharesLocalOf >= 0) {
                done.push_back(done[static_cast<size_t>(e.SharesLocalOf)]);
                continue;
            }
            std::string data = e.SetRaw ? e.Raw : e.Method == 8 ? Deflate(e.Data) : e.Data;
            Done d;
            d.Crc = e.SetCrc ? e.Crc : Crc32(e.Data);
            d.Size = e.SetSize ? e.Size : e.Data.size();
            d.CompressedSize = e.SetCompressedSize ? e.CompressedSize : data.size();
            d.Offset = out.size();
            const std::string& lname = e.LocalName.empty() ? e.Name : e.LocalName;
            uint16_t flags = static_cast<uint16_t>(e.Flags | (e.Descriptor ? 8 : 0));
            std::string extra;
            if (e.Zip64) {
                Put16(extra, 1);
                Put16(extra, 16);
                Put64(extra, e.Descriptor ? 0 : d.Size);
                Put64(extra, e.Descriptor ? 0 : d.CompressedSize);
            }
            Put32(out, 0x04034b50);
            Put16(out, e.Zip64 ? 45 : 20);
            Put16(out, flags);
            Put16(out, e.Method);
            Put16(out, 0x6000);  // 12:00
            Put16(out, 0x5821);  // 2024-01-01
            Put32(out, e.Descriptor ? 0 : d.Crc);
            Put32(out, e.Zip64 ? 0xFFFFFFFF : e.Descriptor ? 0 : static_cast<uint32_t>(d.CompressedSize));
            Put32(out, e.Zip64 ? 0xFFFFFFFF : e.Descriptor ? 0 : static_cast<uint32_t>(d.Size));
            Put16(out, static_cast<uint32_t>(lname.size()));
            Put16(out, static_cast<uint32_t>(extra.size()));
            out += lname;
            out += extra;
            out += data;
            if (e.Descriptor) {
                Put32(out, 0x08074b50);
                Put32(out, d.Crc);
                if (e.Zip64) {
                    Put64(out, d.CompressedSize);
                    Put64(out, d.Size);
                } else {
                    Put32(out, static_cast<uint32_t>(d.CompressedSize));
                    Put32(out, static_cast<uint32_t>(d.Size));
                }
            }
            done.push_back(d);
        }
        const uint64_t cdOffset = out.size();
        for (size_t i = 0; i < Entries.size(); ++i) {
            const Entry& e = Entries[i];
            const Done& d = done[i];
            uint16_t flags = static_cast<uint16_t>(e.Flags | (e.Descriptor ? 8 : 0));
            std::string extra;
            if (e.Zip64) {
                Put16(extra, 1);
                Put16(extra, 24);
                Put64(extra, d.Size);
                Put64(extra, d.CompressedSize);
                Put64(extra, d.Offset);
            }
            Put32(out, 0x02014b50);
            Put16(out, 0x031E);  // made by Unix, 3.0
            Put16(out, e.Zip64 ? 45 : 20);
            Put16(out, flags);
            Put16(out, e.Method);
            Put16(out, 0x6000);
            Put16(out, 0x5821);
            Put32(out, d.Crc);
            Put32(out, e.Zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(d.CompressedSize));
            Put32(out, e.Zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(d.Size));
            Put16(out, static_cast<uint32_t>(e.Name.size()));
            Put16(out, static_cast<uint32_t>(extra.size()));
            Put16(out, 0);  // comment
            Put16(out, 0);  // disk
            Put16(out, 0);  // internal attributes
            Put32(out, 0);  // external attributes
            Put32(out, e.Zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(d.Offset));
            out += e.Name;
            out += extra;
        }
        const uint64_t cdSize = out.size() - cdOffset;
        if (Zip64End) {
            const uint64_t at = out.size();
            Put32(out, 0x06064b50);
            Put64(out, 44);
            Put16(out, 45);
            Put16(out, 45);
            Put32(out, 0);
            Put32(out, 0);
            Put64(out, Entries.size());
            Put64(out, Entries.size());
            Put64(out, cdSize);
            Put64(out, cdOffset);
            Put32(out, 0x07064b50);
            Put32(out, 0);
            Put64(out, at);
            Put32(out, 1);
        }
        Put32(out, 0x06054b50);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, Zip64End ? 0xFFFF : static_cast<uint32_t>(Entries.size()));
        Put16(out, Zip64End ? 0xFFFF : static_cast<uint32_t>(Entries.size()));
        Put32(out, Zip64End ? 0xFFFFFFFF : static_cast<uint32_t>(cdSize));
        Put32(out, Zip64End ? 0xFFFFFFFF : static_cast<uint32_t>(cdOffset));
        Put16(out, static_cast<uint32_t>(Comment.size()));
        out += Comment;
        return out;
    }
};

}  // namespace ziptest
