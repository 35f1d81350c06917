// The static import check: what the loader would fail to find for a process,
// read from the image files as they are on disk. The image walk itself is
// pure code over bytes (modules/pe_image.h); this is the file-system side.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "modules/api_set_schema.h"
#include "verdict/records.h"

// Where the loader looks for the DLLs of one process, in its order.
struct LoaderSearch {
    std::wstring imageFolder;
    std::wstring systemFolder;
    std::wstring windowsFolder;
    std::wstring currentFolder;
    std::vector<std::wstring> pathFolders;
    // Known DLLs, lower case: the \KnownDlls object directory's sections (the
    // 32-bit one for a 32-bit process) and the names of the KnownDLLs key.
    std::vector<std::wstring> knownDlls;
    std::uint16_t machine = 0;            // IMAGE_FILE_MACHINE_* of the process
    // A WOW64 process: the native system folder, which it reaches redirected
    // to systemFolder (its PATH and current folder are taken so); else empty.
    std::wstring nativeSystemFolder;
    // The process's API set schema; without it every api-ms-win-*/ext-ms-*
    // name counts as present (whether the machine has it is not known).
    std::optional<ApiSetSchema> apiSets;
    // The current folder and PATH were read: without them a DLL that the fixed
    // folders lack is never named missing (it may lie on the PATH).
    bool parametersRead = false;
};

// Read at the process's creation event, while its parameters (current folder,
// PATH) are still readable and before it could change its API set map; on a
// failed read the fields stay empty.
LoaderSearch ReadLoaderSearch(HANDLE process, const std::wstring& imagePath);

// Every problem, in the order the walk finds them; empty when every import
// resolves or when a rule cannot be decided (then nothing is named).
std::vector<ImportProblem> FindImportProblems(const std::wstring& imagePath, const LoaderSearch& search);

// A folder as a 32-bit process on 64-bit Windows reaches it through file-system
// redirection: the system folder and what lies under it is the WOW64 system
// folder (but for the folders exempt from redirection), and the Windows
// folder's Sysnative is the native system folder. Other folders are unchanged.
std::wstring FolderSeenBy32BitProcess(const std::wstring& folder, const std::wstring& systemFolder,
                                      const std::wstring& wow64SystemFolder, const std::wstring& windowsFolder);
