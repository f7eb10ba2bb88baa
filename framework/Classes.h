// Root object, owned components, string lists and streams.
// Portable: no Win32 here, so the native build can use it too.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Exception.h"

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// Event handlers: bound to an object (a lambda capturing it), skipped when empty.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using THandlerEvent = std::function<void(bool& Handled)>;

template <class F, class... A>
inline void Fire(const F& event, A&&... args) {
    if (event) event(std::forward<A>(args)...);
}

// A component has an owner, which destroys it with itself.
class TComponent : public TObject {
public:
    enum : unsigned { csDestroying = 1, csDesigning = 2 };

    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    unsigned ComponentState = 0;
    std::string Name;
    bool Destroying() const { return (ComponentState & csDestroying) != 0; }
    bool Designing() const { return (ComponentState & csDesigning) != 0; }

    // Destroys the owned components now (the destructor does it too).
    void DestroyComponents();
    size_t ComponentCount() const { return components_.size(); }

private:
    void Insert(TComponent* c) { components_.push_back(c); }
    void Remove(TComponent* c);
    TComponent* owner_;
    std::vector<TComponent*> components_;
};

// A list of texts with an optional attached object per item.
class TStringList : public TObject {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& operator[](int i) const { return items_.at(static_cast<size_t>(i)).text; }
    std::string& operator[](int i) { return items_.at(static_cast<size_t>(i)).text; }
    int Add(const std::string& s, TObject* obj = nullptr);
    void Insert(int index, const std::string& s, TObject* obj = nullptr);
    void Delete(int index);
    void Clear() { items_.clear(); }
    TObject* Objects(int i) const { return items_.at(static_cast<size_t>(i)).object; }
    // The items joined, each followed by CR LF.
    std::string Text() const;

private:
    struct Item {
        std::string text;
        TObject* object;
    };
    std::vector<Item> items_;
};

// Streams with 32-bit positions and sizes, as the components count them.
class TStream : public TObject {
public:
    enum Origin { soBeginning = 0, soCurrent = 1, soEnd = 2 };
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int64_t Seek(int64_t offset, Origin origin) = 0;
    virtual void SetSize(int64_t size) = 0;
    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t p) { Seek(p, soBeginning); }
    int64_t Size();
    // Copies count bytes (all of the source from its start when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
    void WriteText(const std::string& s) { Write(s.data(), static_cast<int32_t>(s.size())); }
};

class TMemoryStream : public TStream {
public:
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, Origin origin) override;
    void SetSize(int64_t size) override;
    void Clear() { data_.clear(); pos_ = 0; }
    const char* Memory() const { return data_.data(); }
    char* Memory() { return data_.data(); }
    size_t Bytes() const { return data_.size(); }

private:
    std::vector<char> data_;
    size_t pos_ = 0;
};

class TFileStream : public TStream {
public:
    enum Mode { fmOpenRead, fmCreate, fmOpenReadWrite, fmAppend };
    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, Origin origin) override;
    void SetSize(int64_t size) override;
    const std::string& FileName() const { return path_; }

private:
    std::string path_;
    std::FILE* f_ = nullptr;
};
