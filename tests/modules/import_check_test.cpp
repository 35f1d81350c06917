// The static import check on files really on disk: the built targets (a DLL
// found nowhere behind an existing one, a DLL lacking an imported name and
// ordinal, a 32-bit DLL beside a 64-bit program, a delay-loaded DLL found
// nowhere, which no start loads), programs that start (Wine's
// own system DLLs walked without a false finding), crafted images with import
// and forwarder loops, names the loader finds in ways of its own (paths, .NET
// images, the \KnownDlls directory), hostile files, and the rules under which
// nothing may be named; the loader search read from a new process; API sets
// as a crafted schema and a real run's maps them; a 32-bit process on folders
// laid out as a 64-bit machine holds them.
#include "modules/import_check.h"

#include <gtest/gtest.h>

#include <winternl.h>

#include <string>
#include <thread>
#include <vector>

#include "base/handles.h"
#include "tests/support/crafted_api_sets.h"
#include "tests/support/crafted_image.h"
#include "tests/support/diag_registry.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"

namespace {

std::wstring Target(const std::wstring& name) { return FullPath(TargetPath(name)); }

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// One line per problem: kind, module, importer, function.
std::vector<std::wstring> Lines(const std::vector<ImportProblem>& problems) {
    static const wchar_t* const kKinds[] = {L"dll_not_found", L"import_not_found", L"bad_image_format"};
    std::vector<std::wstring> lines;
    for (const ImportProblem& problem : problems) {
        lines.push_back(std::wstring(kKinds[static_cast<int>(problem.kind)]) + L";" + problem.module + L";" +
                        problem.importer + L";" + problem.function);
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
PeImportedFunction ByOrdinal(std::uint16_t ordinal) { return {"", ordinal, true}; }

// A section in the \KnownDlls object directory, as Windows' session manager
// makes one for each known DLL (Wine makes none), while the handles are open.
std::vector<UniqueHandle> KnownDllsSection(std::wstring dllName) {
    using CreateDirectoryFn = NTSTATUS NTAPI(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*);
    using CreateSectionFn = NTSTATUS NTAPI(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, LARGE_INTEGER*, ULONG, ULONG, HANDLE);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto* createDirectory =
        reinterpret_cast<CreateDirectoryFn*>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateDirectoryObject")));
    auto* createSection =
        reinterpret_cast<CreateSectionFn*>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateSection")));
    std::wstring directoryName = L"\\KnownDlls";
    const USHORT directoryBytes = static_cast<USHORT>(directoryName.size() * 2);
    UNICODE_STRING name = {directoryBytes, directoryBytes, directoryName.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE directory = nullptr;
    HANDLE section = nullptr;
    EXPECT_LE(0, createDirectory(&directory, STANDARD_RIGHTS_REQUIRED | 0xF, &attributes));
    const USHORT dllBytes = static_cast<USHORT>(dllName.size() * 2);
    name = {dllBytes, dllBytes, dllName.data()};
    attributes.RootDirectory = directory;
    LARGE_INTEGER size = {{4096, 0}};
    EXPECT_LE(0, createSection(&section, SECTION_ALL_ACCESS, &attributes, &size, PAGE_READWRITE, SEC_COMMIT, nullptr));
    std::vector<UniqueHandle> handles;
    handles.emplace_back(section);
    handles.emplace_back(directory);
    return handles;
}

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
    EXPECT_EQ(L"", search.nativeSystemFolder) << "a 64-bit process";
    // Wine's map, as the process's loader holds it.
    ASSERT_TRUE(search.apiSets.has_value());
    EXPECT_EQ(6u, search.apiSets->version);
    const ApiSetResolution crt = ResolveApiSet(*search.apiSets, "api-ms-win-crt-runtime-l1-1-0.dll", u"");
    EXPECT_EQ(ApiSetAnswer::Hosted, crt.answer);
    EXPECT_EQ(u"ucrtbase.dll", crt.host);
    EXPECT_EQ(ApiSetAnswer::NotASet, ResolveApiSet(*search.apiSets, "api-ms-win-korvane-absent-l1-1-0.dll", u"").answer);
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
    // A delay-loaded DLL found nowhere is no cause of a failed start.
    EXPECT_EQ(std::vector<std::wstring>{}, Lines(FindImportProblems(Target(L"imports_delay_missing.exe"), search)));
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
                                         L"import_not_found;" + folder + L"b.dll;" + folder + L"image.exe;#5"}),
              Lines(FindImportProblems(folder + L"image.exe", search)));

    // A manifest naming the DLL, or a .local redirection: whether the loader finds it is not decided here.
    WriteFileBytes(folder + L"image.exe.manifest", "<assembly><file name=\"NoWhere.dll\"/></assembly>");
    EXPECT_EQ((std::vector<std::wstring>{L"import_not_found;" + folder + L"b.dll;" + folder + L"image.exe;#5"}),
              Lines(FindImportProblems(folder + L"image.exe", search)));
    DeleteFileW((folder + L"image.exe.manifest").c_str());
    ASSERT_TRUE(CreateDirectoryW((folder + L"image.exe.local").c_str(), nullptr));
    EXPECT_EQ(std::vector<std::wstring>{L"import_not_found;" + folder + L"b.dll;" + folder + L"image.exe;#5"},
              Lines(FindImportProblems(folder + L"image.exe", search)));
    RemoveDirectoryW((folder + L"image.exe.local").c_str());
}

// image.exe imports, each with F: sub\helper.dll (a path under its folder),
// sub/gone.dll (found nowhere), managed.dll (an IL-only .NET image built as
// 32-bit), x86only.dll (a .NET image requiring 32 bits) and korvane_known.dll,
// whose copy beside it lacks F while \KnownDlls holds it.
TEST(ImportCheck, NamesNothingTheLoaderFindsByPathInADotNetImageOrAmongTheKnownDlls) {
    const std::wstring folder = MakeTempFolder(L"import-check-loader-ways");
    MakeTempFolder(L"import-check-loader-ways\\sub");
    CraftedImage image;
    for (const char* dll : {"sub\\helper.dll", "sub/gone.dll", "managed.dll", "x86only.dll", "korvane_known.dll"})
        image.imports.push_back({dll, false, {ByName("F")}, true});
    CraftedImage exporter;
    exporter.exports = {{"F", ""}};
    CraftedImage dotNet = exporter;
    dotNet.machine = IMAGE_FILE_MACHINE_I386;
    dotNet.pe32Plus = false;
    dotNet.comFlags = 0x1;  // IL only
    CraftedImage dotNet32 = dotNet;
    dotNet32.comFlags = 0x3;  // IL only, 32 bits required
    CraftedImage knownCopy;
    knownCopy.exports = {{"G", ""}};
    WriteFileBytes(folder + L"image.exe", BuildImage(image));
    WriteFileBytes(folder + L"sub\\helper.dll", BuildImage(exporter));
    WriteFileBytes(folder + L"managed.dll", BuildImage(dotNet));
    WriteFileBytes(folder + L"x86only.dll", BuildImage(dotNet32));
    WriteFileBytes(folder + L"korvane_known.dll", BuildImage(knownCopy));
    const std::vector<UniqueHandle> known = KnownDllsSection(L"korvane_known.dll");
    const LoaderSearch search = ReadLoaderSearch(GetCurrentProcess(), folder + L"image.exe");
    EXPECT_EQ((std::vector<std::wstring>{L"dll_not_found;sub/gone.dll;" + folder + L"image.exe;",
                                         L"bad_image_format;" + folder + L"x86only.dll;" + folder + L"image.exe;"}),
              Lines(FindImportProblems(folder + L"image.exe", search)));
}

TEST(ImportCheck, PathFoldersOfA32BitProcessAreThoseFileSystemRedirectionShowsIt) {
    auto seen = [](const std::wstring& folder) {
        return FolderSeenBy32BitProcess(folder, L"C:\\windows\\system32", L"C:\\windows\\syswow64", L"C:\\windows");
    };
    EXPECT_EQ(L"C:\\windows\\syswow64\\", seen(L"c:\\windows\\system32\\"));
    EXPECT_EQ(L"C:\\windows\\syswow64\\Wbem", seen(L"C:\\WINDOWS\\system32\\Wbem"));
    // Exempt from redirection, or only alike.
    EXPECT_EQ(L"C:\\Windows\\System32\\drivers\\etc", seen(L"C:\\Windows\\System32\\drivers\\etc"));
    EXPECT_EQ(L"C:\\Windows\\System32Tools", seen(L"C:\\Windows\\System32Tools"));
    // The 64-bit system folder, as a 32-bit process names it.
    EXPECT_EQ(L"C:\\windows\\system32\\Wbem", seen(L"C:\\Windows\\sysnative\\Wbem"));
}

// A chain of DLLs deeper than any real one ends the walk without a finding
// past its end (the stack of a crafted chain of thousands would not hold);
// one exporting 65536 ordinals imported a million times is read in one pass.
TEST(ImportCheck, HostileFilesNeitherExhaustTheWalkNorMakeItQuadratic) {
    const std::wstring folder = MakeTempFolder(L"import-check-hostile");
    auto chain = [&](int length) {
        for (int link = 0; link < length; ++link) {
            CraftedImage dll;
            const std::string next = link + 1 < length ? "link" + std::to_string(link + 1) + ".dll" : "nowhere.dll";
            dll.imports = {{next, false, {ByName("F")}, true}};
            dll.exports = {{"F", ""}};
            WriteFileBytes(folder + L"link" + std::to_wstring(link) + L".dll", BuildImage(dll));
        }
        return FindImportProblems(folder + L"link0.dll", SearchIn(folder));
    };
    EXPECT_EQ(std::vector<std::wstring>{L"dll_not_found;nowhere.dll;" + folder + L"link9.dll;"}, Lines(chain(10)));
    EXPECT_EQ(std::vector<std::wstring>{}, Lines(chain(200)));

    CraftedImage exporter;
    exporter.exports.resize(0x10000);
    CraftedImage importer;
    importer.imports = {{"ordinals.dll", false, std::vector<PeImportedFunction>(1000000, ByOrdinal(0)), true}};
    WriteFileBytes(folder + L"ordinals.dll", BuildImage(exporter));
    WriteFileBytes(folder + L"ordinals.exe", BuildImage(importer));
    EXPECT_EQ(std::vector<std::wstring>{L"import_not_found;" + folder + L"ordinals.dll;" + folder + L"ordinals.exe;#0"},
              Lines(FindImportProblems(folder + L"ordinals.exe", SearchIn(folder))));
}

// image.exe imports, each with F (and G from the hosted set): a set without a
// host, a set whose host is found nowhere, a set hosted by host.dll beside it
// (asked by a later minor version), a set hosted for this importer alone, and
// a set that no schema holds and no folder has (the loader takes it as a file).
TEST(ImportCheck, AnApiSetIsPresentOnlyWhenTheSchemaHostsItInADllThatIsFound) {
    const std::wstring folder = MakeTempFolder(L"import-check-api-sets");
    CraftedImage image;
    for (const char* set : {"api-ms-win-korvane-nohost-l1-1-0.dll", "api-ms-win-korvane-gonehost-l1-1-0.dll",
                            "api-ms-win-korvane-host-l1-1-2.dll", "ext-ms-win-korvane-special-l1-1-0.dll",
                            "api-ms-win-korvane-unknown-l1-1-0.dll"})
        image.imports.push_back({set, false, {ByName("F")}, true});
    image.imports[2].functions.push_back(ByName("G"));
    CraftedImage host;
    host.exports = {{"F", ""}};
    WriteFileBytes(folder + L"image.exe", BuildImage(image));
    WriteFileBytes(folder + L"host.dll", BuildImage(host));
    LoaderSearch search = SearchIn(folder);
    search.apiSets = ReadApiSetSchema(BuildApiSetSchema(
        6, {{u"api-ms-win-korvane-nohost-l1-1-0", {}},
            {u"api-ms-win-korvane-gonehost-l1-1-0", {{u"", u"korvane_gone_host.dll"}}},
            {u"api-ms-win-korvane-host-l1-1-0", {{u"", u"host.dll"}}},
            {u"ext-ms-win-korvane-special-l1-1-0", {{u"", u""}, {u"IMAGE.EXE", u"host.dll"}}}}));
    ASSERT_TRUE(search.apiSets.has_value());
    EXPECT_EQ((std::vector<std::wstring>{L"dll_not_found;api-ms-win-korvane-nohost-l1-1-0.dll;" + folder + L"image.exe;",
                                         L"dll_not_found;api-ms-win-korvane-gonehost-l1-1-0.dll;" + folder + L"image.exe;",
                                         L"import_not_found;" + folder + L"host.dll;" + folder + L"image.exe;G",
                                         L"dll_not_found;api-ms-win-korvane-unknown-l1-1-0.dll;" + folder + L"image.exe;"}),
              Lines(FindImportProblems(folder + L"image.exe", search)));
    // Without the process's schema whether the machine has a set is not known: nothing is named.
    search.apiSets.reset();
    EXPECT_EQ(std::vector<std::wstring>{}, Lines(FindImportProblems(folder + L"image.exe", search)));
}

// The same, at the end of a real start under the debug loop: the set that
// Wine's schema lacks is sought as a file, found nowhere, and named.
TEST(ImportCheck, AnApiSetTheProcesssSchemaLacksIsNamedMissingAfterARealStart) {
    const std::wstring program = Target(L"imports_api_set_absent.exe");
    const WatchRun run = RunHeadless(program);
    EXPECT_EQ(0xC0000135u, run.lastExitCode);
    ASSERT_EQ(1u, run.processOutcomes.size());
    const std::vector<ImportProblem>& problems = run.processOutcomes[0].importProblems;
    ASSERT_EQ(1u, problems.size());
    EXPECT_EQ(ImportProblemKind::DllNotFound, problems[0].kind);
    EXPECT_EQ(0, _wcsicmp(L"api-ms-win-korvane-absent-l1-1-0.dll", problems[0].module.c_str())) << problems[0].module;
    EXPECT_EQ(0, _wcsicmp(program.c_str(), problems[0].importer.c_str())) << problems[0].importer;
}

// A 32-bit program and its DLLs (built by the i686 compiler) laid out as a
// 64-bit machine holds them: 64-bit DLLs in System32, 32-bit ones in SysWOW64,
// the program beside a DLL that imports one found nowhere and beside a 64-bit
// build of a DLL it imports. System32 on the PATH is SysWOW64 to the process.
TEST(ImportCheck, A32BitProcessIsResolvedAsTheWow64LoaderDoesOnALaidOutMachine) {
    const std::wstring root = MakeTempFolder(L"import-check-wow64");
    const std::wstring windows = root + L"Windows";
    MakeTempFolder(L"import-check-wow64\\Windows");
    const std::wstring system32 = MakeTempFolder(L"import-check-wow64\\Windows\\System32");
    const std::wstring syswow64 = MakeTempFolder(L"import-check-wow64\\Windows\\SysWOW64");
    const std::wstring app = MakeTempFolder(L"import-check-wow64\\App");
    auto place = [](const std::wstring& target, const std::wstring& to) {
        ASSERT_TRUE(CopyFileW(FullPath(TargetPath(target)).c_str(), to.c_str(), FALSE)) << target;
    };
    place(L"wow32\\wow32_program.exe", app + L"wow32_program.exe");
    place(L"wow32\\wow32_chain.dll", app + L"wow32_chain.dll");
    place(L"not_placed\\imports_machine.dll", app + L"imports_machine.dll");  // the x64 build
    place(L"wow32\\x64\\wow32_system.dll", system32 + L"wow32_system.dll");
    place(L"wow32\\wow32_system.dll", syswow64 + L"wow32_system.dll");
    LoaderSearch search;
    search.imageFolder = app.substr(0, app.size() - 1);
    search.systemFolder = syswow64.substr(0, syswow64.size() - 1);
    search.nativeSystemFolder = system32.substr(0, system32.size() - 1);
    search.windowsFolder = windows;
    search.currentFolder = search.imageFolder;
    search.pathFolders = {search.nativeSystemFolder};
    search.machine = IMAGE_FILE_MACHINE_I386;
    search.parametersRead = true;
    const std::wstring program = app + L"wow32_program.exe";
    const std::vector<std::wstring> found = {L"bad_image_format;" + app + L"imports_machine.dll;" + program + L";",
                                             L"dll_not_found;wow32_absent.dll;" + app + L"wow32_chain.dll;"};
    EXPECT_EQ(found, Lines(FindImportProblems(program, search)));

    // Found only in SysWOW64: without it, the 64-bit copy in System32 is never seen, not even through the PATH.
    ASSERT_TRUE(DeleteFileW((syswow64 + L"wow32_system.dll").c_str()));
    std::vector<std::wstring> missing = found;
    missing.push_back(L"dll_not_found;wow32_system.dll;" + program + L";");
    EXPECT_EQ(missing, Lines(FindImportProblems(program, search)));

    // A 64-bit DLL where the 32-bit one is needed.
    place(L"wow32\\x64\\wow32_system.dll", syswow64 + L"wow32_system.dll");
    std::vector<std::wstring> foreign = found;
    foreign.push_back(L"bad_image_format;" + syswow64 + L"wow32_system.dll;" + program + L";");
    EXPECT_EQ(foreign, Lines(FindImportProblems(program, search)));
}
