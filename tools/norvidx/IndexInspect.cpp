#include "IndexInspect.h"

#include <algorithm>
#include <map>
#include <memory>

// ---- JSON ----

std::string JsonString(std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

std::string VersionsJson(const TVersionEntries& list) {
    std::string out = "[";
    bool first = true;
    for (const auto& item : list.Items) {
        const VersionInfo& e = *item.Entry;
        out += first ? "\n" : ",\n";
        first = false;
        out += "  {\"version_text\": " + JsonString(e.VersionText);
        out += ", \"release_date\": " + JsonString(e.ReleaseDate);
        out += ", \"path\": " + JsonString(e.FilePath);
        out += ", \"sha256\": " + JsonString(e.Sha256);
        out += ", \"description\": ";
        if (!e.DescLines) {
            out += "null";
        } else {
            out += "[";
            for (int i = 0; i < e.DescLines->Count(); ++i) {
                if (i) out += ", ";
                out += JsonString((*e.DescLines)[i]);
            }
            out += "]";
        }
        out += "}";
    }
    out += first ? "]\n" : "\n]\n";
    return out;
}

// ---- lint ----

namespace {

class TDiscardedVersions : public TVersionListSink {
public:
    void Clear() override {}
    void Add(const std::string&, std::unique_ptr<VersionInfo>) override {}
};

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Follows the reader's state machine for one board and reports what the
// reader loses there: versions never committed, locations and dates inside an
// unclosed description, and fields a listed version takes over from an
// abandoned entry.
class TBoardCheck {
public:
    TBoardCheck(std::string model, std::vector<TIndexWarning>& out)
        : parser_(std::move(model), current_, list_), out_(out) {
        parser_.Start();
    }

    void Line(int lineNo, std::string_view line) {
        const auto o = parser_.Line(line);
        if (o.Comment) return;
        if (o.Committed) {
            ReportInherited();
            for (int& l : fieldLine_) l = 0;
        }
        switch (o.Tag) {
        case TIndexTag::Product:
        case TIndexTag::EndProduct:
            if (o.Before >= TVersionIndexParser::InVersion) {
                Warn(openLine_, Quoted(openText_) + " is never listed: its block ends at line " + std::to_string(lineNo) +
                                    " before \"<~version>\"");
                pending_ = false;
            }
            break;
        case TIndexTag::Version:
            if (!o.Acted) break;
            pending_ = false;
            if (o.Before == TVersionIndexParser::InProduct) {
                for (int f = 0; f < kFields; ++f) {
                    inherited_[f] = fieldLine_[f];
                    if (fieldLine_[f]) pending_ = true;
                }
            }
            openLine_ = lineNo;
            openText_ = current_->VersionText;
            break;
        case TIndexTag::ReleaseDate:
        case TIndexTag::Path:
            if (o.Acted) {
                Set(o.Tag == TIndexTag::Path ? kPath : kDate, lineNo);
            } else if (o.Before == TVersionIndexParser::InDescription) {
                Warn(lineNo, Quoted(IndexTagName(o.Tag)) +
                                 " inside a description that is not closed with \"<~description>\": ignored");
            }
            break;
        case TIndexTag::Description:
            if (o.Acted) Set(kDesc, lineNo);
            break;
        case TIndexTag::Sha256:
            if (o.Acted) {
                Set(kSha, lineNo);
                if (!IsSha256Text(current_->Sha256))
                    Warn(lineNo, "\"<sha256>\" value is not 64 hex digits: the wizard refuses this version");
            } else if (o.Before == TVersionIndexParser::InDescription) {
                Warn(lineNo, "\"<sha256>\" inside a description: shown as description text, not a checksum");
            }
            break;
        default:
            break;
        }
    }

    void End(int lineNo) {
        if (parser_.GetState() >= TVersionIndexParser::InVersion)
            Warn(openLine_, Quoted(openText_) + " is never listed: the file ends at line " + std::to_string(lineNo) +
                                " before \"<~version>\"");
        parser_.Finish();
    }

private:
    enum { kDate, kPath, kDesc, kSha, kFields };

    void Set(int field, int lineNo) {
        fieldLine_[field] = lineNo;
        inherited_[field] = 0;
    }

    void ReportInherited() {
        if (!pending_) return;
        pending_ = false;
        static const char* const names[kFields] = {"<release-date>", "<path>", "<description>", "<sha256>"};
        std::string what;
        for (int f = 0; f < kFields; ++f) {
            if (!inherited_[f]) continue;
            if (!what.empty()) what += ", ";
            what += Quoted(names[f]) + " of line " + std::to_string(inherited_[f]);
        }
        if (!what.empty())
            Warn(openLine_, Quoted(openText_) + " is listed with " + what + ", left by an entry that was never listed");
    }

    void Warn(int lineNo, std::string text) { out_.push_back({lineNo, std::move(text)}); }

    std::unique_ptr<VersionInfo> current_;
    TDiscardedVersions list_;
    TVersionIndexParser parser_;
    std::vector<TIndexWarning>& out_;
    int openLine_ = 0;
    std::string openText_;
    int fieldLine_[kFields] = {};  // where the current entry's fields were set
    int inherited_[kFields] = {};  // of those, the ones the open version took over
    bool pending_ = false;
};

// Text written straight after a tag, with no separator: the reader does not
// see the tag at all.
const char* GluedTag(std::string_view keyWord) {
    if (keyWord.size() < 7 || keyWord[0] != '<') return nullptr;
    static const TIndexTag tags[] = {TIndexTag::Product,        TIndexTag::EndProduct, TIndexTag::Version,
                                     TIndexTag::EndVersion,     TIndexTag::Description, TIndexTag::EndDescription,
                                     TIndexTag::ReleaseDate,    TIndexTag::Path,        TIndexTag::Sha256};
    for (TIndexTag t : tags) {
        const std::string_view name = IndexTagName(t);
        if (keyWord.size() > name.size() && IndexTextEqual(keyWord.substr(0, name.size()), name)) return IndexTagName(t);
    }
    return nullptr;
}

}  // namespace

void LintVersionIndex(TIndexFile& file, const std::string* model, std::vector<TIndexWarning>& out) {
    std::vector<TIndexWarning> found;
    std::vector<std::unique_ptr<TBoardCheck>> boards;
    std::map<std::string, size_t> boardOf;  // model name in small letters -> its check
    if (model) boards.push_back(std::make_unique<TBoardCheck>(*model, found));

    // One line ahead, to tell a line cut at the buffer's end from a last line
    // without a line feed.
    TIndexLineBuffer buffers[2];
    int which = 0;
    auto line = ReadIndexLine(buffers[which], file);
    int lineNo = 1;
    int lastCut = 0;
    int lastLine = 1;
    while (line) {
        lastLine = lineNo;
        which ^= 1;
        const auto next = ReadIndexLine(buffers[which], file);
        const bool endsLine = line->back() == '\n';
        if (!endsLine && line->size() == IndexLineMax && next && lastCut != lineNo) {
            found.push_back({lineNo, "longer than 255 characters: the rest is read as a line of its own"});
            lastCut = lineNo;
        }
        if (!IsIndexComment(*line)) {
            const TIndexLineParts parts = SplitIndexLine(*line);
            if (parts.KeyWord.size() >= 2 && parts.KeyWord[0] == '-' && parts.KeyWord[1] == '-')
                found.push_back({lineNo, "indented comment: only \"--\" at the very start of a line makes a comment"});
            if (parts.Tag == TIndexTag::None) {
                if (const char* tag = GluedTag(parts.KeyWord))
                    found.push_back({lineNo, Quoted(parts.KeyWord) + ": a value glued to " + Quoted(tag) +
                                                 " without a blank; the line is not a tag"});
            }
            if (parts.Tag == TIndexTag::Product) {
                const std::string_view value = CutValue(parts.Value);
                if (!value.empty() && static_cast<unsigned char>(value.back()) <= ' ')
                    found.push_back({lineNo, "\"<product>\" value ends with blanks: it matches only a model name "
                                             "that ends with the same blanks"});
                if (!model && boardOf.emplace(Lower(value), boards.size()).second)
                    boards.push_back(std::make_unique<TBoardCheck>(std::string(value), found));
            }
        }
        for (auto& b : boards) b->Line(lineNo, *line);
        if (endsLine) ++lineNo;
        line = next;
    }
    for (auto& b : boards) b->End(lastLine);
    if (file.TextAfterCtrlZ())
        found.push_back({lineNo, "Ctrl-Z ends the file here: the text after it is never read"});
    file.Close();

    std::stable_sort(found.begin(), found.end(),
                     [](const TIndexWarning& a, const TIndexWarning& b) { return a.Line < b.Line; });
    out.insert(out.end(), found.begin(), found.end());
}

bool LintVersionIndex(const std::string& path, const std::string* model, std::vector<TIndexWarning>& out) {
    TIndexFile file;
    if (!file.Open(path)) return false;
    LintVersionIndex(file, model, out);
    return true;
}
