// Readers of the update index files that an update server publishes.
//
// Both kinds share one tagged-line format: the site index "Path.idx" maps a
// product category to the location of that category's version index, and a
// version index lists, board by board, the versions offered for download.
//
// Portable: no Win32 here. The readers report through two small interfaces,
// a message sink (the wizard shows a message box) and a version-list sink
// (the wizard's drop-down list of versions, which owns the entries).
#pragma once
#include <array>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"

// One version entry of an index.
class VersionInfo : public TObject {
public:
    std::string VersionText;  // "Version " and the <version> value
    std::string ReleaseDate;  // the <release-date> value, line feed included
    std::string FilePath;     // server location of the package (or of a version index)
    std::string Sha256;       // the <sha256> value as written (64 hex digits when well formed), or empty
    std::unique_ptr<TStringList> DescLines;  // absent until a <description>
};

// Where a reader sends the one message it shows the user.
class TIndexMessageSink {
public:
    virtual ~TIndexMessageSink() = default;
    virtual void ShowIndexMessage(const std::string& text) = 0;
};

// The list that receives the committed entries, in file order. It owns them
// from Add on and releases them when cleared.
class TVersionListSink {
public:
    virtual ~TVersionListSink() = default;
    virtual void Clear() = 0;
    virtual void Add(const std::string& text, std::unique_ptr<VersionInfo> entry) = 0;
};

// A plain list that owns its entries: what the inspector tool and the tests
// read into.
class TVersionEntries : public TVersionListSink {
public:
    struct Item {
        std::string Text;
        std::unique_ptr<VersionInfo> Entry;
    };
    void Clear() override { Items.clear(); }
    void Add(const std::string& text, std::unique_ptr<VersionInfo> entry) override {
        Items.push_back({text, std::move(entry)});
    }
    std::vector<Item> Items;
};

extern const char* const IndexOpenErrorText;  // "Index file opened error"

// What a reader works with: the board's model name, the entry being built
// (held by the caller; after a site look-up it names the version index) and
// the two sinks.
struct TIndexContext {
    std::string ModelName;
    std::unique_ptr<VersionInfo>& CurrentEntry;
    TIndexMessageSink& Messages;
    TVersionListSink& VersionList;
};

// An index file opened for reading as a text file: every carriage return is
// dropped and a Ctrl-Z ends the file. Read in small blocks, never whole.
class TIndexFile {
public:
    TIndexFile() = default;
    TIndexFile(const TIndexFile&) = delete;
    TIndexFile& operator=(const TIndexFile&) = delete;
    ~TIndexFile() { Close(); }

    bool Open(const std::string& path);
    // Reads from a stream that is already open; closes it with itself.
    void Attach(std::FILE* f);
    void Close();
    bool IsOpen() const { return f_ != nullptr; }
    // True when reading stopped at a Ctrl-Z that has more bytes behind it.
    bool TextAfterCtrlZ();

private:
    friend std::optional<std::string_view> ReadIndexLine(std::array<char, 256>&, TIndexFile&);
    bool Refill();

    std::FILE* f_ = nullptr;
    size_t pos_ = 0;
    size_t len_ = 0;
    bool ended_ = false;
    bool ctrlZ_ = false;
    unsigned char block_[4096];
};

constexpr size_t IndexLineBufferSize = 256;
constexpr size_t IndexLineMax = IndexLineBufferSize - 1;
using TIndexLineBuffer = std::array<char, IndexLineBufferSize>;

// The next line of the file, at most 255 characters up to and including its
// line feed (a longer line is cut and its rest comes as the next line), or
// nothing at the end of the file. The text lives in the buffer, which also
// holds a terminating zero after it.
std::optional<std::string_view> ReadIndexLine(TIndexLineBuffer& buffer, TIndexFile& file);

// The tags of the format. Key words are compared case-insensitively.
// Sha256 is the package's checksum, added after the first eight: older
// readers ignore its line outside a description, so inside one it stays
// description text here too.
enum class TIndexTag { None, Product, EndProduct, Version, EndVersion, Description, EndDescription, ReleaseDate, Path, Sha256 };

// A line taken apart: its key word (first word), the tag it names, and the
// value that follows the tag and one separator character.
struct TIndexLineParts {
    std::string_view KeyWord;    // empty when the line has no word
    std::string_view FromKeyWord;  // the line from its key word to its end
    TIndexTag Tag = TIndexTag::None;
    std::string_view Value;
};

bool IsIndexComment(std::string_view line);
TIndexLineParts SplitIndexLine(std::string_view line);
TIndexTag IndexTagOf(std::string_view keyWord);
const char* IndexTagName(TIndexTag tag);
bool IndexTextEqual(std::string_view a, std::string_view b);  // ASCII case-insensitive
bool IsIndexBlank(char c);  // blank, tab, line feed, vertical tab, form feed

// A well-formed <sha256> value: exactly 64 hex digits, either case.
bool IsSha256Text(std::string_view v);

// The ways a tag takes its value.
std::string_view CutValue(std::string_view v);        // up to the first line feed
std::string_view FirstWordValue(std::string_view v);  // its first word
std::string_view TrimmedValue(std::string_view v);    // blanks and controls off both ends
std::string_view LeftTrimmedValue(std::string_view v);

// The site-index look-up, one line at a time.
class TSiteIndexParser {
public:
    TSiteIndexParser(std::string category, VersionInfo& entry) : category_(std::move(category)), entry_(entry) {}
    // True when the line gave the location of the category's version index.
    bool Line(std::string_view line);

private:
    std::string category_;
    VersionInfo& entry_;
    bool matched_ = false;
};

// The version-index reader's state machine, one line at a time.
class TVersionIndexParser {
public:
    enum State { Outside = 0, InProduct = 1, InVersion = 2, InDescription = 3 };

    // What one line did, for the inspector tool.
    struct Outcome {
        TIndexTag Tag = TIndexTag::None;
        int Before = Outside;    // state before the line
        bool Comment = false;
        bool Acted = false;      // the tag's rule acted
        bool Committed = false;  // an entry went to the list
        bool DescLine = false;   // the line was appended as description text
    };

    TVersionIndexParser(std::string modelName, std::unique_ptr<VersionInfo>& current, TVersionListSink& list)
        : model_(std::move(modelName)), current_(current), list_(list) {}

    // Empties the list and starts a new entry, Outside.
    void Start();
    Outcome Line(std::string_view line);
    // Drops an entry still open; returns the number of entries committed.
    int Finish();

    int GetState() const { return state_; }
    int Commits() const { return commits_; }

private:
    void Commit();

    std::string model_;
    std::unique_ptr<VersionInfo>& current_;
    TVersionListSink& list_;
    int state_ = Outside;
    int commits_ = 0;
};

// Reads the site index at the given path and looks for the block of the
// category. On true, CurrentEntry is a new entry whose FilePath holds the
// location found. The file is kept.
bool FindIndexPath(TIndexContext& ctx, const std::string& indexFile, const std::string& category);
bool FindIndexPath(TIndexContext& ctx, TIndexFile& file, const std::string& category);

// Reads the version index at the given path into VersionList (replacing its
// items) with the entries of the board ModelName; true when the list holds at
// least one item. The wizard reads a downloaded copy and deletes it after
// reading; the inspector tool keeps the file.
enum class TIndexFileAfterReading { Delete, Keep };
bool ParseVersionIndex(TIndexContext& ctx, const std::string& indexFile,
                       TIndexFileAfterReading after = TIndexFileAfterReading::Delete);
bool ParseVersionIndex(TIndexContext& ctx, TIndexFile& file);
