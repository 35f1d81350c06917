// Keys, dictionary values, raw rows and daily sums of a batch.
#include "collector/storage/batch_rows.h"

#include <algorithm>

#include "collector/storage/digest.h"
#include "collector/storage/text_keys.h"

namespace collector {

namespace {

std::string JoinKey(std::initializer_list<std::string_view> fields) {
    std::string key;
    for (std::string_view f : fields) {
        key += std::to_string(f.size());
        key += ':';
        key += f;
    }
    return key;
}

std::string IdList(const std::vector<std::int64_t>& ids) {
    std::string text;
    for (std::size_t k = 0; k < ids.size(); ++k) {
        if (k) text += ' ';
        text += std::to_string(ids[k]);
    }
    return text;
}

void Count(const ReportRow& row, std::int64_t os, const std::vector<std::int64_t>& present, Aggregates& a) {
    const std::int64_t day = DayOf(row.receivedAt);
    const bool started = row.groupId == 0;
    auto& version = a.versionDays[{row.programId, day}];
    ++version[0];
    version[1] += started;
    for (std::int64_t attribute : present) ++a.programAttributes[{row.programId, day, attribute}][started];
    if (started) return;
    auto& g = a.groupDays.try_emplace({row.groupId, day}, std::array<std::int64_t, 3>{0, row.receivedAt, row.receivedAt})
                  .first->second;
    ++g[0];
    g[1] = std::min(g[1], row.receivedAt);
    g[2] = std::max(g[2], row.receivedAt);
    ++a.groupOs[{row.groupId, day, os}];
    for (std::int64_t attribute : present) ++a.groupAttributes[{row.groupId, day, attribute}];
}

}  // namespace

std::string FileKey(const FileEntry& f) {
    return JoinKey({f.name, f.folder, f.size, f.productVersion, f.created, f.modified, f.description, f.company});
}
std::string ProgramKey(const Report& r) { return JoinKey({r.process.name, r.process.productVersion}); }
std::string GroupKeyText(const GroupKey& k) {
    return JoinKey({k.program, k.programVersion, std::to_string(k.exitCode), k.findingKind, k.findingModule});
}
std::string ModuleKey(const FileEntry& f) { return JoinKey({"module", FoldCase(f.name), f.productVersion}); }
std::string ImageKey(const FileEntry& f) { return JoinKey({"image", FoldCase(f.name)}); }
std::string OsKey(const Report& r) { return JoinKey({"os", r.os}); }
std::string OverflowKey(const std::string& dimension) { return JoinKey({"overflow", dimension}); }

SqlParams ProgramValues(const Report& r) {
    std::string name = CleanText(r.process.name), version = CleanText(r.process.productVersion);
    std::string digest = DigestOf({name, version});
    std::string key = SearchKey(name);
    return {digest, std::move(name), std::move(version), std::move(key)};
}

SqlParams GroupValues(const Report& r, std::int64_t programId) {
    const GroupKey k = SignatureOf(r);
    GroupKey c{CleanText(k.program), CleanText(k.programVersion), k.exitCode, CleanText(k.findingKind),
               CleanText(k.findingModule)};
    return {DigestOf({c.program, c.programVersion, std::to_string(c.exitCode), c.findingKind, c.findingModule}),
            programId, c.program, c.programVersion, std::int64_t{c.exitCode}, c.findingKind, c.findingModule};
}

SqlParams FileValues(const FileEntry& f, std::int64_t day) {
    std::string name = CleanText(f.name), folder = CleanText(f.folder), size = CleanText(f.size),
                version = CleanText(f.productVersion), created = CleanText(f.created),
                modified = CleanText(f.modified), description = CleanText(f.description),
                company = CleanText(f.company);
    std::string digest = DigestOf({name, folder, size, version, created, modified, description, company});
    std::string nameKey = SearchKey(name), companyKey = SearchKey(company);
    return {digest, name, folder, size, version, created, modified, description, company, nameKey, companyKey, day};
}

SqlParams AttributeValues(const std::string& dimension, const std::string& value) {
    std::string clean = CleanText(value);
    return {DigestOf({dimension, FoldCase(clean)}), dimension, clean};
}

ReportKeys KeysOf(const Report& r) {
    ReportKeys k;
    k.program = ProgramKey(r);
    if (!IsSuccess(r)) k.group = GroupKeyText(SignatureOf(r));
    k.process = FileKey(r.process);
    k.os = OsKey(r);
    for (const FileEntry& f : r.files) {
        k.images.push_back(FileKey(f));
        k.imageAttributes.push_back(ImageKey(f));
    }
    for (const FileEntry& f : r.modules) {
        k.modules.push_back(FileKey(f));
        k.moduleAttributes.push_back(ModuleKey(f));
    }
    return k;
}

BatchRows RowsOf(const std::vector<Report>& batch, const std::vector<ReportKeys>& keys,
                 const std::vector<std::int64_t>& reportIds, const IdOf& idOf) {
    BatchRows rows;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const Report& r = batch[i];
        const ReportKeys& k = keys[i];
        ReportRow row;
        row.id = reportIds.at(i);
        row.receivedAt = r.receivedAt;
        row.programId = idOf(Dictionary::Programs, k.program);
        row.groupId = k.group.empty() ? 0 : idOf(Dictionary::Groups, k.group);
        row.exitCode = r.exitCode;
        row.failExitCode = r.failExitCode ? std::int64_t{*r.failExitCode} : -1;
        row.os = CleanText(r.os);
        row.processFile = idOf(Dictionary::Files, k.process);
        std::vector<std::int64_t> present, files;
        present.reserve(k.images.size() + k.modules.size() + 1);
        const auto list = [&](const std::vector<std::string>& fileKeys, const std::vector<std::string>& attributes,
                              std::string& out) {
            files.clear();
            for (std::size_t f = 0; f < fileKeys.size(); ++f) {
                files.push_back(idOf(Dictionary::Files, fileKeys[f]));
                present.push_back(idOf(Dictionary::Attributes, attributes[f]));
            }
            out = IdList(files);
        };
        list(k.images, k.imageAttributes, row.imageFiles);
        list(k.modules, k.moduleAttributes, row.moduleFiles);
        for (std::size_t f = 0; f < r.verdict.size(); ++f) {
            const Finding& finding = r.verdict[f];
            rows.findings.push_back({row.id, r.receivedAt, static_cast<std::int64_t>(f), CleanText(finding.kind),
                                     CleanText(finding.module), CleanText(finding.detail)});
        }
        const std::int64_t os = idOf(Dictionary::Attributes, k.os);
        present.push_back(os);
        std::sort(present.begin(), present.end());
        present.erase(std::unique(present.begin(), present.end()), present.end());
        Count(row, os, present, rows.sums);
        rows.reports.push_back(std::move(row));
    }
    return rows;
}

}  // namespace collector
