// Scratch folders and file snapshots for the unpacker tests (both builds).
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace ziptest {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<unsigned> counter{0};
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = fs::temp_directory_path() /
                ("norv-unzip-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& Path() const { return path_; }
    std::string operator/(const std::string& rel) const { return (path_ / rel).string(); }
    std::string Str() const { return path_.string(); }

private:
    fs::path path_;
};

inline void WriteFile(const std::string& path, const std::string& data) {
    fs::path p(path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Every file and folder below root, relative path to content ("<dir>" for folders).
using Snapshot = std::map<std::string, std::string>;
inline Snapshot Snap(const fs::path& root) {
    Snapshot s;
    std::error_code ec;
    if (!fs::exists(root, ec)) return s;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = fs::relative(it->path(), root).generic_string();
        s[rel] = it->is_directory() ? std::string("<dir>") : ReadFile(it->path().string());
    }
    return s;
}

// Some text that deflates well but not to nothing.
inline std::string Text(size_t n, unsigned seed = 1) {
    std::string s;
    s.reserve(n);
    unsigned x = seed * 2654435761u + 1;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        s += "word" + std::to_string((x >> 16) % 97) + ((x & 8) ? "\n" : " ");
    }
    s.resize(n);
    return s;
}

}  // namespace ziptest
