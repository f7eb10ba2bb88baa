#include "Classes.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define norv_fseek _fseeki64
#define norv_ftell _ftelli64
#else
#include <unistd.h>
#define norv_fseek fseeko
#define norv_ftell ftello
#endif

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->Insert(this);
}

TComponent::~TComponent() {
    ComponentState |= csDestroying;
    DestroyComponents();
    if (owner_) owner_->Remove(this);
}

void TComponent::DestroyComponents() {
    // Owned components leave the list as they are destroyed; take the last first.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        c->owner_ = nullptr;
        components_.pop_back();
        delete c;
    }
}

void TComponent::Remove(TComponent* c) {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it != components_.end()) components_.erase(it);
}

int TStringList::Add(const std::string& s, TObject* obj) {
    items_.push_back({s, obj});
    return Count() - 1;
}

void TStringList::Insert(int index, const std::string& s, TObject* obj) {
    if (index < 0 || index > Count()) throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    items_.insert(items_.begin() + index, Item{s, obj});
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    items_.erase(items_.begin() + index);
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& i : items_) {
        out += i.text;
        out += "\r\n";
    }
    return out;
}

int64_t TStream::Size() {
    int64_t here = Seek(0, soCurrent);
    int64_t end = Seek(0, soEnd);
    Seek(here, soBeginning);
    return end;
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<char> buf(65536);
    int64_t done = 0;
    while (done < count) {
        int32_t want = static_cast<int32_t>(std::min<int64_t>(count - done, static_cast<int64_t>(buf.size())));
        int32_t got = source.Read(buf.data(), want);
        if (got <= 0) throw Exception("Stream read error");
        if (Write(buf.data(), got) != got) throw Exception("Stream write error");
        done += got;
    }
    return done;
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || pos_ >= data_.size()) return 0;
    size_t n = std::min(static_cast<size_t>(count), data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    size_t n = static_cast<size_t>(count);
    if (pos_ + n > data_.size()) data_.resize(pos_ + n);
    std::memcpy(data_.data() + pos_, buffer, n);
    pos_ += n;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, Origin origin) {
    int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? static_cast<int64_t>(pos_) : static_cast<int64_t>(data_.size());
    int64_t p = base + offset;
    if (p < 0) p = 0;
    pos_ = static_cast<size_t>(p);
    return p;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(size < 0 ? 0 : size));
    if (pos_ > data_.size()) pos_ = data_.size();
}

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
    const char* m = mode == fmOpenRead ? "rb" : mode == fmCreate ? "w+b" : mode == fmAppend ? "a+b" : "r+b";
    f_ = std::fopen(path.c_str(), m);
    if (!f_) {
        if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + path + "\"");
        throw EFOpenError("Cannot open file \"" + path + "\"");
    }
    if (mode == fmAppend) norv_fseek(f_, 0, SEEK_END);
}

TFileStream::~TFileStream() {
    if (f_) std::fclose(f_);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    return static_cast<int32_t>(std::fread(buffer, 1, static_cast<size_t>(count), f_));
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    return static_cast<int32_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), f_));
}

int64_t TFileStream::Seek(int64_t offset, Origin origin) {
    int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    if (norv_fseek(f_, offset, whence) != 0) return -1;
    return norv_ftell(f_);
}

void TFileStream::SetSize(int64_t size) {
    std::fflush(f_);
#ifdef _WIN32
    _chsize_s(_fileno(f_), size);
#else
    if (ftruncate(fileno(f_), size) != 0) throw Exception("Cannot set size of \"" + path_ + "\"");
#endif
}
