// The body is read on its raw bytes (the structural characters are ASCII in
// Windows-1251 too); texts are decoded field by field once the split is known.
//
//   process=P&exitcode=E&separator=;&OS=O&files=F*&modules=M*[&verdict=V*[&failexitcode=X]]
//
// P, F and M are entries of eight fields, V of three, joined by ";"; every F,
// M and V entry ends in a line feed. Fields are not escaped (only "+" is sent
// as "%2B"), so "&", "=" and piece names may stand inside them: the head is
// found by the separator count of P, the later pieces only at line starts.
#include "collector/ingest/body_parser.h"

#include <charconv>
#include <vector>

#include "collector/ingest/cp1251.h"
#include "collector/ingest/user_names.h"

namespace collector {
namespace {

constexpr char kSeparator = ';';
constexpr std::string_view kProcess = "process=";
constexpr std::string_view kExitCode = "&exitcode=";
constexpr std::string_view kSeparatorPiece = "&separator=;";
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

std::vector<std::string_view> SplitFields(std::string_view entry) {
    return Split(entry, kSeparator);
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

std::string Text(std::string_view bytes) {
    return DecodeWindows1251(bytes);
}

std::string PathText(std::string_view bytes) {
    return WithoutUserNames(DecodeWindows1251(bytes));
}

std::optional<FileEntry> FileEntryOf(std::string_view entry) {
    std::vector<std::string_view> f = SplitFields(entry);
    if (f.size() != 8) return std::nullopt;
    return FileEntry{Text(f[0]), PathText(f[1]), Text(f[2]), Text(f[3]),
                     Text(f[4]), Text(f[5]),     Text(f[6]), Text(f[7])};
}

// The module is a folded path; the detail is a code, a function or, for a
// missing DLL, its importer's path.
std::optional<Finding> FindingOf(std::string_view entry) {
    std::vector<std::string_view> f = SplitFields(entry);
    if (f.size() != 3) return std::nullopt;
    return Finding{Text(f[0]), PathText(f[1]), PathText(f[2])};
}

struct Head {
    std::string_view process;
    std::uint32_t exitCode = 0;
    std::string_view os;
    std::string_view rest;  // after "&files="
};

// The head read with P ending at the "&exitcode=" at `at`, if it fits there.
std::optional<Head> HeadEndingAt(std::string_view body, std::size_t at) {
    Head head;
    head.process = body.substr(kProcess.size(), at - kProcess.size());
    if (SplitFields(head.process).size() != 8) return std::nullopt;
    std::string_view rest = body.substr(at + kExitCode.size());
    std::size_t digitsEnd = rest.find('&');
    if (digitsEnd == std::string_view::npos) return std::nullopt;
    std::optional<std::uint32_t> code = ExitCodeOf(rest.substr(0, digitsEnd));
    rest.remove_prefix(digitsEnd);
    if (!code || !rest.starts_with(kSeparatorPiece)) return std::nullopt;
    rest.remove_prefix(kSeparatorPiece.size());
    if (!rest.starts_with(kOs)) return std::nullopt;
    rest.remove_prefix(kOs.size());
    std::size_t osEnd = rest.find(kFiles);
    if (osEnd == std::string_view::npos || !IsOsTriple(rest.substr(0, osEnd))) return std::nullopt;
    head.exitCode = *code;
    head.os = rest.substr(0, osEnd);
    head.rest = rest.substr(osEnd + kFiles.size());
    return head;
}

// P holds exactly seven separators and the head's own "&separator=;" one more,
// so of the "&exitcode=" texts on the first line at most one can end P.
std::optional<Head> ReadHead(std::string_view body) {
    if (!body.starts_with(kProcess)) return std::nullopt;
    std::size_t lineEnd = body.find('\n');
    std::string_view firstLine = body.substr(0, lineEnd);
    for (std::size_t at = firstLine.find(kExitCode); at != std::string_view::npos;
         at = firstLine.find(kExitCode, at + 1)) {
        if (std::optional<Head> head = HeadEndingAt(body, at)) return head;
    }
    return std::nullopt;
}

std::string EntryError(std::string_view piece, std::size_t index, std::size_t fields) {
    return "entry " + std::to_string(index + 1) + " of \"" + std::string(piece) + "\" is not " +
           std::to_string(fields) + " fields joined by \";\" (a field holds a separator or a line feed)";
}

// The entries after "&files=": each line ends in a line feed; "&modules=" and
// "&verdict=" open their pieces at the start of a line (or stand at the end,
// for an empty piece).
class TailReader {
public:
    // The last of the lines is what follows the last line feed.
    TailReader(std::string_view tail, Report& report) : report_(report), lines_(Split(tail, '\n')) {}

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
        for (std::size_t i = begin; i < end; ++i) {
            std::optional<FileEntry> entry = FileEntryOf(lines_[i]);
            if (!entry) {
                reason_ = EntryError(piece, i - begin, 8);
                return false;
            }
            out.push_back(std::move(*entry));
        }
        return true;
    }

    bool ReadFindings(std::size_t begin, std::size_t end) {
        end = std::min(end, lines_.size() - 1);
        for (std::size_t i = begin; i < end; ++i) {
            std::optional<Finding> finding = FindingOf(lines_[i]);
            if (!finding) {
                reason_ = EntryError(kVerdict, i - begin, 3);
                return false;
            }
            report_.verdict.push_back(std::move(*finding));
        }
        return true;
    }

    Report& report_;
    std::vector<std::string_view> lines_;
    std::string reason_;
};

// "&failexitcode=" follows the last finding's line feed and ends the body.
std::optional<std::uint32_t> TakeFailExitCode(std::string_view& body) {
    std::size_t at = body.rfind('\n');
    if (at == std::string_view::npos || !body.substr(at + 1).starts_with(kFailExitCode)) return std::nullopt;
    std::optional<std::uint32_t> code = ExitCodeOf(body.substr(at + 1 + kFailExitCode.size()));
    if (code) body = body.substr(0, at + 1);
    return code;
}

}  // namespace

ParsedBody ParseUploadBody(std::string_view body) {
    const std::string raw = UnescapePlus(body);
    std::string_view rest = raw;
    std::optional<std::uint32_t> failExitCode = TakeFailExitCode(rest);
    std::optional<Head> head = ReadHead(rest);
    if (!head)
        return {std::nullopt,
                "the body does not begin with \"process=\" (eight fields) \"&exitcode=\" (decimal) "
                "\"&separator=;&OS=\" (major.minor.build) \"&files=\""};
    Report report;
    report.process = *FileEntryOf(head->process);
    report.exitCode = head->exitCode;
    report.failExitCode = failExitCode;
    report.os = std::string(head->os);
    std::string reason = TailReader(head->rest, report).Read();
    if (!reason.empty()) return {std::nullopt, reason};
    return {std::move(report), {}};
}

}  // namespace collector
