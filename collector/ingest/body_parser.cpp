// The body is read on its raw bytes (the structural characters are ASCII in
// Windows-1251 too); texts are decoded field by field once the split is known.
//
//   process=P&exitcode=E&separator=S&OS=O&files=F*&modules=M*[&verdict=V*[&failexitcode=X]]
//
// P, F and M are entries of eight fields, V of three, joined by the byte S;
// every F, M and V entry ends in a line feed. Fields are not escaped (only "+"
// is sent as "%2B"), so "&", "=" and piece names may stand inside them: the
// head is found by the separator count of P, the later pieces only at line
// starts. Every step is one pass over the body, so a hostile body costs time
// in proportion to its length.
#include "collector/ingest/body_parser.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "collector/ingest/cp1251.h"
#include "collector/ingest/user_names.h"

namespace collector {
namespace {

constexpr std::string_view kProcess = "process=";
constexpr std::string_view kExitCode = "&exitcode=";
constexpr std::string_view kSeparatorPiece = "&separator=";
constexpr std::string_view kOs = "&OS=";
constexpr std::string_view kFiles = "&files=";
constexpr std::string_view kModules = "&modules=";
constexpr std::string_view kVerdict = "&verdict=";
constexpr std::string_view kFailExitCode = "&failexitcode=";

std::string UnescapePlus(std::string_view body) {
    std::string raw;
    raw.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body.compare(i, 3, "%2B") == 0) {
            raw += '+';
            i += 2;
        } else {
            raw += body[i];
        }
    }
    return raw;
}

// The parts between the marks; n marks give n + 1 parts.
std::vector<std::string_view> Split(std::string_view text, char mark) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    for (std::size_t next; (next = text.find(mark, at)) != std::string_view::npos; at = next + 1)
        parts.push_back(text.substr(at, next - at));
    parts.push_back(text.substr(at));
    return parts;
}

bool IsBodySeparator(char byte) {
    for (char separator : kBodySeparators)
        if (byte == separator) return true;
    return false;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<std::uint32_t> ExitCodeOf(std::string_view digits) {
    std::uint32_t value = 0;
    if (!AllDigits(digits)) return std::nullopt;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// Major, minor and build number: "6.1.7601".
bool IsOsTriple(std::string_view text) {
    std::vector<std::string_view> parts = Split(text, '.');
    if (parts.size() != 3) return false;
    for (std::string_view part : parts)
        if (!AllDigits(part)) return false;
    return true;
}

// A refusal of a body that is read, but holds more than a report may.
struct OverLimits {
    std::string reason;
};

std::string Text(std::string_view bytes) {
    return DecodeWindows1251(bytes);
}

std::string PathText(std::string_view bytes) {
    return WithoutUserNames(DecodeWindows1251(bytes));
}

// The fields of one entry, or nothing when it has not `count` of them. A field
// longer than the limit makes the whole report too large.
std::optional<std::vector<std::string_view>> FieldsOf(std::string_view entry, char separator, std::size_t count,
                                                      const BodyLimits& limits) {
    std::vector<std::string_view> fields = Split(entry, separator);
    if (fields.size() != count) return std::nullopt;
    for (std::string_view field : fields)
        if (field.size() > limits.fieldBytes)
            throw OverLimits{"the report holds a field of " + std::to_string(field.size()) + " bytes (at most " +
                             std::to_string(limits.fieldBytes) + ")"};
    return fields;
}

std::optional<FileEntry> FileEntryOf(std::string_view entry, char separator, const BodyLimits& limits) {
    std::optional<std::vector<std::string_view>> f = FieldsOf(entry, separator, 8, limits);
    if (!f) return std::nullopt;
    const std::vector<std::string_view>& v = *f;
    return FileEntry{Text(v[0]), PathText(v[1]), Text(v[2]), Text(v[3]),
                     Text(v[4]), Text(v[5]),     Text(v[6]), Text(v[7])};
}

// The module is a folded path; the detail is a code, a function or, for a
// missing DLL, its importer's path.
std::optional<Finding> FindingOf(std::string_view entry, char separator, const BodyLimits& limits) {
    std::optional<std::vector<std::string_view>> f = FieldsOf(entry, separator, 3, limits);
    if (!f) return std::nullopt;
    return Finding{Text((*f)[0]), PathText((*f)[1]), PathText((*f)[2])};
}

struct Head {
    std::string_view process;
    char separator = ';';
    std::uint32_t exitCode = 0;
    std::string_view os;
    std::string_view rest;  // after "&files="
};

// The text between "&exitcode=" at `at` and "&files=", if it has the head's
// shape; P is not looked at. Reads at most a few dozen bytes.
std::optional<Head> HeadTailAt(std::string_view line, std::size_t at) {
    Head head;
    std::string_view rest = line.substr(at + kExitCode.size());
    std::size_t digitsEnd = rest.substr(0, 11).find('&');
    if (digitsEnd == std::string_view::npos) return std::nullopt;
    std::optional<std::uint32_t> code = ExitCodeOf(rest.substr(0, digitsEnd));
    rest.remove_prefix(digitsEnd);
    if (!code || !rest.starts_with(kSeparatorPiece) || rest.size() <= kSeparatorPiece.size()) return std::nullopt;
    head.separator = rest[kSeparatorPiece.size()];
    rest.remove_prefix(kSeparatorPiece.size() + 1);
    if (!IsBodySeparator(head.separator) || !rest.starts_with(kOs)) return std::nullopt;
    rest.remove_prefix(kOs.size());
    // Three numbers of at most ten digits and their two dots.
    std::size_t osEnd = rest.substr(0, 32 + kFiles.size()).find(kFiles);
    if (osEnd == std::string_view::npos || !IsOsTriple(rest.substr(0, osEnd))) return std::nullopt;
    head.exitCode = *code;
    head.os = rest.substr(0, osEnd);
    head.rest = rest.substr(osEnd + kFiles.size());
    return head;
}

// P holds exactly seven separators, and the head's own "&separator=" names
// one more of its kind: for one separator, at most one "&exitcode=" of the
// first line can end P. Counting every byte once on the way keeps the search
// linear; a body whose head reads two ways (two separators) is refused.
std::optional<Head> ReadHead(std::string_view body, std::string& reason) {
    if (!body.starts_with(kProcess)) return std::nullopt;
    const std::string_view firstLine = body.substr(0, body.find('\n'));
    std::array<std::size_t, 256> seen{};
    std::optional<Head> found;
    for (std::size_t at = kProcess.size(); at < firstLine.size(); ++at) {
        if (firstLine[at] == '&' && firstLine.compare(at, kExitCode.size(), kExitCode) == 0) {
            std::optional<Head> head = HeadTailAt(firstLine, at);
            if (head && seen[static_cast<unsigned char>(head->separator)] == 7) {
                if (found) {
                    reason = "the head can be read with two separators";
                    return std::nullopt;
                }
                head->process = firstLine.substr(kProcess.size(), at - kProcess.size());
                head->rest = body.substr(head->rest.data() - body.data());
                found = head;
            }
        }
        ++seen[static_cast<unsigned char>(firstLine[at])];
    }
    return found;
}

std::string EntryError(std::string_view piece, std::size_t index, std::size_t fields, char separator) {
    const std::string shown = separator == ';' || separator == '|' ? std::string(1, separator)
                                                                   : "\\x" + std::to_string(separator / 16) +
                                                                         "0123456789ABCDEF"[separator % 16];
    return "entry " + std::to_string(index + 1) + " of \"" + std::string(piece) + "\" is not " +
           std::to_string(fields) + " fields joined by \"" + shown +
           "\" (a field holds a separator or a line feed)";
}

// A piece with more entries than a report may hold.
void CheckCount(std::string_view piece, std::size_t count, std::size_t limit) {
    if (count > limit)
        throw OverLimits{"the report holds " + std::to_string(count) + " entries in \"" + std::string(piece) +
                         "\" (at most " + std::to_string(limit) + ")"};
}

// The entries after "&files=": each line ends in a line feed; "&modules=" and
// "&verdict=" open their pieces at the start of a line (or stand at the end,
// for an empty piece).
class TailReader {
public:
    // The last of the lines is what follows the last line feed.
    TailReader(std::string_view tail, char separator, const BodyLimits& limits, Report& report)
        : report_(report), separator_(separator), limits_(limits), lines_(Split(tail, '\n')) {}

    std::string Read() {
        std::optional<std::size_t> modulesAt = PieceStart(kModules, 0);
        if (!modulesAt) return reason_.empty() ? "no \"&modules=\" piece at the start of a line" : reason_;
        Strip(*modulesAt, kModules);
        // An empty "&modules=" is followed by "&verdict=" on the same line.
        std::optional<std::size_t> verdictAt = PieceStart(kVerdict, *modulesAt);
        if (!reason_.empty()) return reason_;
        if (verdictAt) Strip(*verdictAt, kVerdict);
        if (!lines_.back().empty()) return "the body ends inside an entry (no line feed after it)";
        std::size_t modulesEnd = verdictAt ? *verdictAt : lines_.size();
        if (!ReadFiles(0, *modulesAt, kFiles, report_.files)) return reason_;
        if (!ReadFiles(*modulesAt, modulesEnd, kModules, report_.modules)) return reason_;
        if (verdictAt && !ReadFindings(*verdictAt, lines_.size())) return reason_;
        return {};
    }

private:
    // The one line from `from` on that opens the piece; two would leave the
    // split to a guess (a file name may begin with "&modules=").
    std::optional<std::size_t> PieceStart(std::string_view piece, std::size_t from) {
        std::optional<std::size_t> found;
        for (std::size_t i = from; i < lines_.size(); ++i) {
            if (!lines_[i].starts_with(piece)) continue;
            if (found) {
                reason_ = "more than one line begins with \"" + std::string(piece) + "\"";
                return std::nullopt;
            }
            found = i;
        }
        return found;
    }

    void Strip(std::size_t line, std::string_view piece) {
        lines_[line].remove_prefix(piece.size());
    }

    // Lines [begin, end) of a piece; the last line of the body carries no
    // entry (it is empty or only the name of an empty piece).
    bool ReadFiles(std::size_t begin, std::size_t end, std::string_view piece, std::vector<FileEntry>& out) {
        end = std::min(end, lines_.size() - 1);
        CheckCount(piece, end - begin, piece == kFiles ? limits_.files : limits_.modules);
        out.reserve(end - begin);
        for (std::size_t i = begin; i < end; ++i) {
            std::optional<FileEntry> entry = FileEntryOf(lines_[i], separator_, limits_);
            if (!entry) {
                reason_ = EntryError(piece, i - begin, 8, separator_);
                return false;
            }
            out.push_back(std::move(*entry));
        }
        return true;
    }

    bool ReadFindings(std::size_t begin, std::size_t end) {
        end = std::min(end, lines_.size() - 1);
        CheckCount(kVerdict, end - begin, limits_.findings);
        for (std::size_t i = begin; i < end; ++i) {
            std::optional<Finding> finding = FindingOf(lines_[i], separator_, limits_);
            if (!finding) {
                reason_ = EntryError(kVerdict, i - begin, 3, separator_);
                return false;
            }
            report_.verdict.push_back(std::move(*finding));
        }
        return true;
    }

    Report& report_;
    char separator_;
    const BodyLimits& limits_;
    std::vector<std::string_view> lines_;
    std::string reason_;
};

// "&failexitcode=" follows the last finding's line feed and ends the body
// (a line feed after its digits is taken too).
std::optional<std::uint32_t> TakeFailExitCode(std::string_view& body) {
    std::string_view text = body.ends_with('\n') ? body.substr(0, body.size() - 1) : body;
    std::size_t at = text.rfind('\n');
    if (at == std::string_view::npos || !text.substr(at + 1).starts_with(kFailExitCode)) return std::nullopt;
    std::optional<std::uint32_t> code = ExitCodeOf(text.substr(at + 1 + kFailExitCode.size()));
    if (code) body = body.substr(0, at + 1);
    return code;
}

// Before the body is taken apart: every entry takes a line, so more lines
// than all pieces may hold make it too large whatever it is.
void CheckLineCount(std::string_view body, const BodyLimits& limits) {
    const std::size_t lines = static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n'));
    const std::size_t most = limits.files + limits.modules + limits.findings;
    if (lines > most)
        throw OverLimits{"the body holds " + std::to_string(lines) + " lines, more than the " +
                         std::to_string(most) + " entries a report may hold"};
}

ParsedBody Refused(BodyFault fault, std::string reason) {
    return {std::nullopt, fault, std::move(reason)};
}

ParsedBody Parse(std::string_view body, const BodyLimits& limits) {
    CheckLineCount(body, limits);
    const std::string raw = UnescapePlus(body);
    std::string_view rest = raw;
    std::optional<std::uint32_t> failExitCode = TakeFailExitCode(rest);
    std::string reason;
    std::optional<Head> head = ReadHead(rest, reason);
    if (!head)
        return Refused(BodyFault::Malformed,
                       !reason.empty() ? reason
                                       : "the body does not begin with \"process=\" (eight fields) \"&exitcode=\" "
                                         "(decimal) \"&separator=\" (one of \";|\", tab, 0x1F) \"&OS=\" "
                                         "(major.minor.build) \"&files=\"");
    Report report;
    report.process = *FileEntryOf(head->process, head->separator, limits);
    report.exitCode = head->exitCode;
    report.failExitCode = failExitCode;
    report.os = std::string(head->os);
    reason = TailReader(head->rest, head->separator, limits, report).Read();
    if (!reason.empty()) return Refused(BodyFault::Malformed, reason);
    return {std::move(report), BodyFault::None, {}};
}

}  // namespace

ParsedBody ParseUploadBody(std::string_view body, const BodyLimits& limits) {
    try {
        return Parse(body, limits);
    } catch (const OverLimits& over) {
        return Refused(BodyFault::OverLimits, over.reason);
    }
}

}  // namespace collector
