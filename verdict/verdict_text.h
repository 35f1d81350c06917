// How the verdict speaks: the Russian line of each finding, its upload entry,
// and the descriptions of the exit statuses a failed start ends with.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "verdict/findings.h"
#include "verdict/status_text.h"

// kind in the upload's words: dll_init_failed, dll_not_found, ...
std::string_view FindingKindName(FindingKind kind);

// The log's (and the tree view's) line of a finding, its paths as they stand in it.
// A refused initialisation's line goes on with what its thread showed, if anything.
std::wstring FindingLine(const Finding& finding);

// "kind;module;detail" with the separator given: detail is the code as "0x%X",
// the missing function for import_not_found, the importer for dll_not_found.
// dll_init_failed's code is followed by what its thread showed, as
// " error=0x5 status=0xC0000135 notloaded=\"name\" output=\"text\"" (each part only when seen).
std::wstring FindingUploadEntry(const Finding& finding, std::string_view separator);
// The same three fields, not joined.
std::vector<std::wstring> FindingUploadFields(const Finding& finding);
