// The Windows version as the report names it: the OS line of the log and the
// bare version numbers of the upload.
#pragma once
#include <windows.h>

#include <string>

// One query of the system's extended version record and the name made from it.
struct OsDescription {
    OSVERSIONINFOEXW version{};
    std::wstring productName;
};

// Sets the product name from major/minor version, product type and (for 5.1) the suite mask.
void ComposeOsName(OsDescription& os);
// "Операционная система: <name> <service pack> (major.minor.build)\n", at most 999 characters.
std::wstring FormatOsLine(const OsDescription& os);
// "major.minor.build" of the running system, asked afresh on every call.
std::wstring GetOsVersionTriple();
