// The static import check on files really on disk: the built targets (a DLL
// found nowhere behind an existing one, a DLL lacking an imported name and
// ordinal, a 32-bit DLL beside a 64-bit program, a delay-loaded DLL found
// nowhere), programs that start (Wine's
// own system DLLs walked without a false finding), crafted images with import
// and forwarder loops, and the rules under which nothing may be named; and the
// loader search read from a new process.
#include "modules/import_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/handles.h"
#include "tests/support/crafted_image.h"
#include "tests/support/diag_registry.h"
#include "tests/support/test_files.h"

namespace {

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return full;
}

std::wstring Target(const std::wstring& name) { return FullPath(TargetPath(name)); }

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// One line per problem: kind, module, importer, function, and whether a delay-load table named it.
std::vector<std::wstring> Lines(const std::vector<ImportProblem>& problems) {
    static const wchar_t* const kKinds[] = {L"dll_not_found", L"import_not_found", L"bad_image_format"};
    std::vector<std::wstring> lines;
    for (const ImportProblem& problem : problems) {
        lines.push_back(std::wstring(kKinds[static_cast<int>(problem.kind)]) + L";" + problem.module + L";" +
                        problem.importer + L";" + problem.function + (problem.delayLoad ? L";delay" : L""));
    }
    return lines;
}

// The search of a process started from the targets' folder with this PATH.
struct StartedSearch {
    LoaderSearch search;
    std::wstring currentFolder;
};

StartedSearch SearchOfNewProcess(const std::wstring& program, const std::wstring& path) {
    StartedSearch started;
    started.currentFolder = MakeTempFolder(L"import-check-cwd");
    std::wstring environment;
    for (const std::wstring& entry : {std::wstring(L"SOMETHING=before"), L"PATH=" + path, std::wstring(L"OTHER=after")}) {
        environment += entry;
        environment.push_back(L'\0');
    }
    environment.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + program + L"\"";
    EXPECT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                               started.currentFolder.c_str(), &startup, &process));
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    started.search = ReadLoaderSearch(processHandle.get(), program);
    TerminateProcess(processHandle.get(), 0);
    WaitForSingleObject(processHandle.get(), INFINITE);
    return started;
}

LoaderSearch SearchIn(const std::wstring& folder) {
    wchar_t system[MAX_PATH] = {};
    wchar_t windows[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    LoaderSearch search;
    search.imageFolder = folder;
    search.systemFolder = system;
    search.windowsFolder = windows;
    search.currentFolder = folder;
    search.machine = IMAGE_FILE_MACHINE_AMD64;
    search.parametersRead = true;
    return search;
}

PeImportedFunction ByName(const std::string& name) { return {name, 0, false}; }

}  // namespace

TEST(LoaderSearch, ReadFromANewProcessWithItsOwnFolderPathAndKnownDlls) {
    SavedHklmValue known(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs", L"korvane_probe");
    known.SetText(L"Korvane_Known.DLL");
    const std::wstring program = Target(L"imports_missing_dll.exe");
    const StartedSearch started = SearchOfNewProcess(program, L"C:\\korvane-first;;\"C:\\korvane quoted\";C:\\last");
    const LoaderSearch& search = started.search;
    EXPECT_TRUE(search.parametersRead);
    EXPECT_EQ(FolderOf(program), search.imageFolder);
    EXPECT_EQ(0, _wcsicmp(started.currentFolder.c_str(), search.currentFolder.c_str())) << search.currentFolder;
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\korvane-first", L"C:\\korvane quoted", L"C:\\last"}), search.pathFolders);
    EXPECT_EQ(0, _wcsicmp(L"C:\\windows\\system32", search.systemFolder.c_str())) << search.systemFolder;
    EXPECT_EQ(0, _wcsicmp(L"C:\\windows", search.windowsFolder.c_str())) << search.windowsFolder;
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, search.machine);
    EXPECT_EQ(std::vector<std::wstring>{L"korvane_known.dll"}, search.knownDlls);
}

TEST(ImportCheck, NamesEachProblemOfTheBuiltTargetsAndNothingElse) {
    const std::wstring targets = FolderOf(Target(L"imports_missing_dll.exe"));
    const LoaderSearch search = SearchOfNewProcess(Target(L"imports_missing_dll.exe"), L"C:\\windows").search;
    EXPECT_EQ(std::vector<std::wstring>{L"dll_not_found;imports_absent.dll;" + targets + L"\\imports_chain.dll;"},
              Lines(FindImportProblems(Target(L"imports_missing_dll.exe"), search)));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"import_not_found;" + targets + L"\\imports_lacking.dll;" + targets + L"\\imports_lacking.exe;#7",
                  L"import_not_found;" + targets + L"\\imports_lacking.dll;" + targets + L"\\imports_lacking.exe;LackingGone"}),
              Lines(FindImportProblems(Target(L"imports_lacking.exe"), search)));
    EXPECT_EQ(std::vector<std::wstring>{L"bad_image_format;" + targets + L"\\imports_machine.dll;" + targets +
                                        L"\\imports_wrong_machine.exe;"},
              Lines(FindImportProblems(Target(L"imports_wrong_machine.exe"), search)));
    // The delay-load table of a MinGW image has no zero descriptor after its one entry.
    EXPECT_EQ(std::vector<std::wstring>{L"dll_not_found;imports_delay_absent.dll;" + targets +
                                        L"\\imports_delay_missing.exe;;delay"},
              Lines(FindImportProblems(Target(L"imports_delay_missing.exe"), search)));
    // Programs that start: every DLL of theirs, Wine's own included, resolves and binds.
    EXPECT_EQ(std::vector<std::wstring>{}, Lines(FindImportProblems(Target(L"trace_basic.exe"), search)));
    EXPECT_EQ(std::vector<std::wstring>{}, Lines(FindImportProblems(FullPath(ZarUnderTestPath()), search)));
}

TEST(ImportCheck, ADllOnThePathIsFoundAndAnUnreadPathNamesNothingMissing) {
    const std::wstring program = Target(L"imports_missing_dll.exe");
    const LoaderSearch onPath = SearchOfNewProcess(program, L"C:\\windows;" + FolderOf(program) + L"\\not_placed").search;
    EXPECT_EQ(std::vector<std::wstring>{}, Lines(FindImportProblems(program, onPath)));
    LoaderSearch unread = onPath;
    unread.pathFolders.clear();
    unread.parametersRead = false;
    EXPECT_EQ(std::vector<std::wstring>{}, Lines(FindImportProblems(program, unread)));
}

// image.exe imports a.dll (F, G, H) and delay-loads gone_delay.dll; a.dll and
// b.dll import each other; F forwards a -> b -> a forever, G to an ordinal b
// lacks, H into an api set; b.dll imports nowhere.dll.
TEST(ImportCheck, ImportAndForwarderLoopsEndAndTheWalkGoesOnInItsOrder) {
    const std::wstring folder = MakeTempFolder(L"import-check-loops");
    CraftedImage image;
    image.imports = {{"a.dll", false, {ByName("F"), ByName("G"), ByName("H")}, true},
                     {"gone_delay.dll", true, {ByName("Later")}, true}};
    CraftedImage a;
    a.imports = {{"B.DLL", false, {ByName("F")}, true}};
    a.exports = {{"F", "b.F"}, {"G", "b.#5"}, {"H", "api-ms-win-core-korvane-l1-1-0.H"}};
    CraftedImage b;
    b.imports = {{"a.dll", false, {ByName("F")}, true}, {"nowhere.dll", false, {ByName("X")}, true}};
    b.exports = {{"F", "a.F"}};
    WriteFileBytes(folder + L"image.exe", BuildImage(image));
    WriteFileBytes(folder + L"a.dll", BuildImage(a));
    WriteFileBytes(folder + L"b.dll", BuildImage(b));
    const LoaderSearch search = SearchIn(folder);
    EXPECT_EQ((std::vector<std::wstring>{L"dll_not_found;nowhere.dll;" + folder + L"b.dll;",
                                         L"import_not_found;" + folder + L"b.dll;" + folder + L"image.exe;#5",
                                         L"dll_not_found;gone_delay.dll;" + folder + L"image.exe;;delay"}),
              Lines(FindImportProblems(folder + L"image.exe", search)));

    // A manifest naming the DLL, or a .local redirection: whether the loader finds it is not decided here.
    WriteFileBytes(folder + L"image.exe.manifest", "<assembly><file name=\"NoWhere.dll\"/></assembly>");
    EXPECT_EQ((std::vector<std::wstring>{L"import_not_found;" + folder + L"b.dll;" + folder + L"image.exe;#5",
                                         L"dll_not_found;gone_delay.dll;" + folder + L"image.exe;;delay"}),
              Lines(FindImportProblems(folder + L"image.exe", search)));
    DeleteFileW((folder + L"image.exe.manifest").c_str());
    ASSERT_TRUE(CreateDirectoryW((folder + L"image.exe.local").c_str(), nullptr));
    EXPECT_EQ(std::vector<std::wstring>{L"import_not_found;" + folder + L"b.dll;" + folder + L"image.exe;#5"},
              Lines(FindImportProblems(folder + L"image.exe", search)));
    RemoveDirectoryW((folder + L"image.exe.local").c_str());
}
