#include "IndexReader.h"

#include <algorithm>
#include <cstring>

const char* const IndexOpenErrorText = "Index file opened error";

namespace {

constexpr unsigned char kLineFeed = '\n';
constexpr unsigned char kCarriageReturn = '\r';
constexpr unsigned char kCtrlZ = 26;

// Index of the first line feed, carriage return or Ctrl-Z in p[0..n), or n.
// All three are below 27, so ordinary text costs one comparison a byte.
inline size_t FindLineControl(const unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c <= kCtrlZ && (c == kLineFeed || c == kCarriageReturn || c == kCtrlZ)) return i;
    }
    return n;
}

inline bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct TagName {
    const char* name;
    size_t length;
    TIndexTag tag;
};

// The tags, in the order the version-index reader looks them up.
constexpr TagName kTags[] = {
    {"<product>", 9, TIndexTag::Product},
    {"<~product>", 10, TIndexTag::EndProduct},
    {"<version>", 9, TIndexTag::Version},
    {"<~version>", 10, TIndexTag::EndVersion},
    {"<description>", 13, TIndexTag::Description},
    {"<~description>", 14, TIndexTag::EndDescription},
    {"<release-date>", 14, TIndexTag::ReleaseDate},
    {"<path>", 6, TIndexTag::Path},
    {"<sha256>", 8, TIndexTag::Sha256},
};

}  // namespace

// ---- the file and its lines ----

bool TIndexFile::Open(const std::string& path) {
    Close();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    Attach(f);
    // Some systems open a directory for reading and fail only at the first
    // read: count that as a file that cannot be opened.
    if (!Refill() && std::ferror(f)) {
        Close();
        return false;
    }
    return true;
}

void TIndexFile::Attach(std::FILE* f) {
    Close();
    f_ = f;
    pos_ = len_ = 0;
    ended_ = ctrlZ_ = false;
}

void TIndexFile::Close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
    pos_ = len_ = 0;
    ended_ = true;
}

bool TIndexFile::Refill() {
    if (ended_ || !f_) return false;
    pos_ = 0;
    len_ = std::fread(block_, 1, sizeof block_, f_);
    if (len_ == 0) ended_ = true;
    return len_ != 0;
}

bool TIndexFile::TextAfterCtrlZ() {
    if (!ctrlZ_) return false;
    if (pos_ < len_) return true;
    return f_ && std::fgetc(f_) != EOF;
}

std::optional<std::string_view> ReadIndexLine(TIndexLineBuffer& buffer, TIndexFile& file) {
    size_t n = 0;
    while (n < IndexLineMax) {
        if ((file.pos_ == file.len_ || file.ended_) && !file.Refill()) break;
        const unsigned char* p = file.block_ + file.pos_;
        const size_t span = std::min(file.len_ - file.pos_, IndexLineMax - n);
        const size_t k = FindLineControl(p, span);
        std::memcpy(buffer.data() + n, p, k);
        n += k;
        file.pos_ += k;
        if (k == span) continue;  // the buffer is full, or the block is used up
        const unsigned char c = p[k];
        ++file.pos_;
        if (c == kLineFeed) {
            buffer[n++] = '\n';
            break;
        }
        if (c == kCarriageReturn) continue;
        // Ctrl-Z: the file ends here, whatever follows it.
        file.ended_ = true;
        file.ctrlZ_ = true;
        break;
    }
    if (n == 0) return std::nullopt;
    buffer[n] = '\0';
    return std::string_view(buffer.data(), n);
}

// ---- words, tags and values ----

bool IsIndexBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f'; }

bool IndexTextEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool IsIndexComment(std::string_view line) { return line.size() >= 2 && line[0] == '-' && line[1] == '-'; }

TIndexTag IndexTagOf(std::string_view keyWord) {
    if (keyWord.size() < 6 || keyWord.size() > 14 || keyWord[0] != '<') return TIndexTag::None;
    for (const auto& t : kTags)
        if (t.length == keyWord.size() && IndexTextEqual(keyWord, std::string_view(t.name, t.length))) return t.tag;
    return TIndexTag::None;
}

const char* IndexTagName(TIndexTag tag) {
    for (const auto& t : kTags)
        if (t.tag == tag) return t.name;
    return "";
}

TIndexLineParts SplitIndexLine(std::string_view line) {
    TIndexLineParts parts;
    size_t i = 0;
    while (i < line.size() && IsIndexBlank(line[i])) ++i;
    size_t j = i;
    while (j < line.size() && !IsIndexBlank(line[j])) ++j;
    parts.KeyWord = line.substr(i, j - i);
    parts.FromKeyWord = line.substr(i);
    parts.Tag = IndexTagOf(parts.KeyWord);
    // The value starts after the tag and one separator character; a tag that
    // ends the line has an empty value.
    if (parts.Tag != TIndexTag::None && j < line.size()) parts.Value = line.substr(j + 1);
    return parts;
}

bool IsSha256Text(std::string_view v) {
    if (v.size() != 64) return false;
    for (char c : v)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

std::string_view CutValue(std::string_view v) {
    const size_t lf = v.find('\n');
    return lf == std::string_view::npos ? v : v.substr(0, lf);
}

std::string_view FirstWordValue(std::string_view v) {
    size_t i = 0;
    while (i < v.size() && IsIndexBlank(v[i])) ++i;
    size_t j = i;
    while (j < v.size() && !IsIndexBlank(v[j])) ++j;
    return v.substr(i, j - i);
}

std::string_view LeftTrimmedValue(std::string_view v) {
    size_t i = 0;
    while (i < v.size() && IsTrimmed(v[i])) ++i;
    return v.substr(i);
}

std::string_view TrimmedValue(std::string_view v) {
    v = LeftTrimmedValue(v);
    size_t n = v.size();
    while (n > 0 && IsTrimmed(v[n - 1])) --n;
    return v.substr(0, n);
}

// ---- the site index ----

bool TSiteIndexParser::Line(std::string_view line) {
    if (IsIndexComment(line)) return false;
    const TIndexLineParts parts = SplitIndexLine(line);
    switch (parts.Tag) {
    case TIndexTag::Product:
        matched_ = IndexTextEqual(FirstWordValue(parts.Value), category_);
        return false;
    case TIndexTag::Path:
        if (!matched_) return false;
        entry_.FilePath = std::string(TrimmedValue(parts.Value));
        return true;
    default:
        return false;  // "<~product>" leaves the block matched until the next "<product>"
    }
}

bool FindIndexPath(TIndexContext& ctx, TIndexFile& file, const std::string& category) {
    ctx.CurrentEntry = std::make_unique<VersionInfo>();
    TSiteIndexParser parser(category, *ctx.CurrentEntry);
    TIndexLineBuffer buffer;
    bool found = false;
    while (auto line = ReadIndexLine(buffer, file)) {
        if (parser.Line(*line)) {
            found = true;
            break;
        }
    }
    file.Close();
    return found;
}

bool FindIndexPath(TIndexContext& ctx, const std::string& indexFile, const std::string& category) {
    TIndexFile file;
    if (!file.Open(indexFile)) {
        ctx.Messages.ShowIndexMessage(IndexOpenErrorText);
        return false;
    }
    return FindIndexPath(ctx, file, category);
}

// ---- the version index ----

void TVersionIndexParser::Start() {
    list_.Clear();
    current_ = std::make_unique<VersionInfo>();
    state_ = Outside;
    commits_ = 0;
}

void TVersionIndexParser::Commit() {
    const std::string text = current_->VersionText;
    list_.Add(text, std::move(current_));
    current_ = std::make_unique<VersionInfo>();
    ++commits_;
}

TVersionIndexParser::Outcome TVersionIndexParser::Line(std::string_view line) {
    Outcome out;
    out.Before = state_;
    if (IsIndexComment(line)) {
        out.Comment = true;
        return out;
    }
    const TIndexLineParts parts = SplitIndexLine(line);
    out.Tag = parts.Tag;
    VersionInfo* e = current_.get();
    switch (parts.Tag) {
    case TIndexTag::Product:
        // Neither commits nor clears the entry being built: an entry left open
        // here keeps its fields for whatever version is opened next.
        state_ = IndexTextEqual(CutValue(parts.Value), model_) ? InProduct : Outside;
        out.Acted = true;
        break;
    case TIndexTag::EndProduct:
        state_ = Outside;
        out.Acted = true;
        break;
    case TIndexTag::Version:
        if (state_ < InProduct) break;
        if (state_ >= InVersion) {
            Commit();
            out.Committed = true;
        }
        current_->VersionText = "Version " + std::string(CutValue(parts.Value));
        state_ = InVersion;
        out.Acted = true;
        break;
    case TIndexTag::EndVersion:
        if (state_ < InVersion) break;
        Commit();
        out.Committed = true;
        state_ = InProduct;
        out.Acted = true;
        break;
    case TIndexTag::Description:
        if (state_ < InVersion) break;
        e->DescLines = std::make_unique<TStringList>();
        e->DescLines->Add(std::string(LeftTrimmedValue(parts.Value)));
        state_ = InDescription;
        out.Acted = true;
        break;
    case TIndexTag::EndDescription:
        if (state_ != InDescription) break;
        state_ = InVersion;
        out.Acted = true;
        break;
    case TIndexTag::ReleaseDate:
        if (state_ != InVersion) break;
        e->ReleaseDate = std::string(parts.Value);
        out.Acted = true;
        break;
    case TIndexTag::Path:
        if (state_ != InVersion) break;
        e->FilePath = std::string(TrimmedValue(parts.Value));
        out.Acted = true;
        break;
    case TIndexTag::Sha256:
        if (state_ == InDescription) {
            // A reader that predates the tag shows this line as text: so do we.
            e->DescLines->Add(std::string(parts.FromKeyWord));
            out.DescLine = true;
            break;
        }
        if (state_ != InVersion) break;
        e->Sha256 = std::string(TrimmedValue(parts.Value));
        out.Acted = true;
        break;
    case TIndexTag::None:
        // Inside a description every other line is text, an empty one too.
        // Elsewhere it is ignored, bracketed words of unknown tags included.
        if (state_ == InDescription) {
            e->DescLines->Add(std::string(parts.FromKeyWord));
            out.DescLine = true;
        }
        break;
    }
    return out;
}

int TVersionIndexParser::Finish() {
    current_.reset();  // an entry still open is not listed
    state_ = Outside;
    return commits_;
}

bool ParseVersionIndex(TIndexContext& ctx, TIndexFile& file) {
    TVersionIndexParser parser(ctx.ModelName, ctx.CurrentEntry, ctx.VersionList);
    parser.Start();
    TIndexLineBuffer buffer;
    while (auto line = ReadIndexLine(buffer, file)) parser.Line(*line);
    file.Close();
    return parser.Finish() > 0;
}

bool ParseVersionIndex(TIndexContext& ctx, const std::string& indexFile, TIndexFileAfterReading after) {
    TIndexFile file;
    if (!file.Open(indexFile)) {
        ctx.Messages.ShowIndexMessage(IndexOpenErrorText);
        return false;
    }
    const bool listed = ParseVersionIndex(ctx, file);
    if (after == TIndexFileAfterReading::Delete) std::remove(indexFile.c_str());
    return listed;
}
