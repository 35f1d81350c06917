// Korvane cannot be made to run someone else's code: copies of dbghelp.dll and
// version.dll planted beside zar.exe are never loaded, even when the DLL search
// is told to prefer them, while a program that imports them the ordinary way
// does load them; a notepad.exe planted there is never started for the log.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_files.h"
#include "tests/support/window_driver.h"

namespace {

constexpr DWORD kImporterExitTimeoutMs = 30000;
// Wine prefers its own copies of these DLLs. Told in its registry to prefer
// native ones for a program, it searches that program's folder first, as
// Windows does for DLLs that are not known DLLs.
class PlantedCopiesPreferred {
public:
    explicit PlantedCopiesPreferred(const std::wstring& programName)
        : key_(L"Software\\Wine\\AppDefaults\\" + programName + L"\\DllOverrides") {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr))
            return;
        const wchar_t kNativeFirst[] = L"native,builtin";
        for (const wchar_t* dll : {L"dbghelp", L"version"})
            RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeFirst), sizeof(kNativeFirst));
        RegCloseKey(key);
    }
    ~PlantedCopiesPreferred() { RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str()); }

private:
    std::wstring key_;
};

// A folder holding the program and the planted DLLs, and no marker yet.
std::wstring PlantBeside(const std::wstring& folderName, const std::wstring& program) {
    std::wstring folder = MakeTempFolder(folderName);
    std::wstring planted = TestProgramFolder() + L"..\\targets\\planted\\";
    CopyFileW((planted + L"version.dll").c_str(), (folder + L"version.dll").c_str(), FALSE);
    CopyFileW((planted + L"dbghelp.dll").c_str(), (folder + L"dbghelp.dll").c_str(), FALSE);
    std::wstring name = program.substr(program.find_last_of(L'\\') + 1);
    CopyFileW(program.c_str(), (folder + name).c_str(), FALSE);
    return folder;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(PlantedDlls, AProgramImportingThemTheOrdinaryWayLoadsThePlantedCopies) {
    std::wstring folder = PlantBeside(L"planted_unprotected", TargetPath(L"unprotected_imports.exe"));
    PlantedCopiesPreferred preferPlanted(L"unprotected_imports.exe");
    std::wstring program = folder + L"unprotected_imports.exe";
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, kImporterExitTimeoutMs));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(Exists(folder + L"version.dll.loaded"));
    EXPECT_TRUE(Exists(folder + L"dbghelp.dll.loaded"));
}

TEST(PlantedDlls, KorvaneNeverLoadsCopiesPlantedBesideItDuringAWholeRun) {
    std::wstring folder = PlantBeside(L"planted_korvane", ZarUnderTestPath());
    PlantedCopiesPreferred preferPlanted(L"zar.exe");
    ZarWindow zar(folder + L"zar.exe");
    ASSERT_TRUE(zar.Started());
    // A run that needs both: version resources of every module, and the symbol
    // handler for the exceptions of the target.
    ASSERT_TRUE(zar.ChooseFile(TargetPath(L"trace_basic.exe")));
    ASSERT_NE(nullptr, zar.WaitForLogInNotepad());

    std::vector<std::wstring> log = ReadLogLines(folder + L"zar.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(L"Korvane v1.0.2 by Ardelan", log.front());
    bool named = false;
    for (const std::wstring& line : log) named = named || line.find(L". Функция: ") != std::wstring::npos;
    EXPECT_TRUE(named) << "the system's symbol handler named no function";
    // The system's version.dll read the facts of the system's own modules.
    bool versioned = false;
    for (const std::wstring& line : log) {
        bool kernelRow = line.find(L"kernel32.dll - [") != std::wstring::npos;
        versioned = versioned || (kernelRow && line.find(L"; 10.0.") != std::wstring::npos);
    }
    EXPECT_TRUE(versioned) << "no version facts were read for kernel32.dll";
    EXPECT_FALSE(Exists(folder + L"version.dll.loaded"));
    EXPECT_FALSE(Exists(folder + L"dbghelp.dll.loaded"));
}

TEST(PlantedPrograms, NotepadPlantedBesideKorvaneIsNeverStartedForTheLog) {
    std::wstring folder = MakeTempFolder(L"planted_notepad");
    ASSERT_TRUE(CopyFileW(ZarUnderTestPath().c_str(), (folder + L"zar.exe").c_str(), FALSE));
    // Writes notepad.exe.mode beside itself when it runs.
    ASSERT_TRUE(CopyFileW(TargetPath(L"error_mode_probe.exe").c_str(), (folder + L"notepad.exe").c_str(), FALSE));
    ZarWindow zar(folder + L"zar.exe");
    ASSERT_TRUE(zar.Started());
    ASSERT_TRUE(zar.ChooseFile(TargetPath(L"trace_basic.exe")));
    EXPECT_NE(nullptr, zar.WaitForLogInNotepad()) << "the system's Notepad did not show the log";
    EXPECT_FALSE(Exists(folder + L"notepad.exe.mode")) << "the planted notepad.exe ran";
}

}  // namespace
