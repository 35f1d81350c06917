// Paths and file helpers shared by the tests.
#pragma once
#include <string>
#include <vector>

// The folder of the running test program, with a trailing backslash.
std::wstring TestProgramFolder();
// The path made absolute against the current folder.
std::wstring FullPath(const std::wstring& path);
// A test target (program or DLL) built into build/tests/targets.
std::wstring TargetPath(const std::wstring& fileName);
// zar.exe built for the tests (posting to the loopback listener).
std::wstring ZarUnderTestPath();
// The whole content of a file, or empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Windows-1251 bytes back to wide text.
std::wstring FromCp1251(const std::string& bytes);
// A log file's lines (CR LF line ends), decoded from Windows-1251.
std::vector<std::wstring> ReadLogLines(const std::wstring& path);
// A fresh empty folder under the system's temporary folder.
std::wstring MakeTempFolder(const std::wstring& name);
