// Reads another process's parameters block through NtQueryInformationProcess
// and ReadProcessMemory; every copy is bounded by our buffer and the process's.
#include "diag/process_parameters.h"

#include <algorithm>
#include <cstring>

#include "base/system_library.h"
#include "watch/debuggee.h"

namespace {

constexpr ULONG kProcessBasicInformation = 0;
constexpr std::size_t kPebBytes = 712;
constexpr std::size_t kPebProcessParameters = 0x20;
constexpr std::size_t kParametersLength = 0x04;
constexpr std::size_t kParametersFlags = 0x08;
constexpr std::size_t kParametersEnvironment = 0x80;
constexpr std::size_t kParametersEnvironmentSize = 0x3F0;  // since Windows Vista
constexpr std::size_t kMaximumLengthAfterLength = 2;
constexpr std::size_t kBufferAfterLength = 8;
constexpr ULONG kParametersNormalized = 1;

struct BasicInformation {
    LONG exitStatus;
    void* pebBaseAddress;
    ULONG_PTR affinityMask;
    LONG basePriority;
    ULONG_PTR uniqueProcessId;
    ULONG_PTR inheritedFromUniqueProcessId;
};
static_assert(sizeof(BasicInformation) == 48, "PROCESS_BASIC_INFORMATION on x64");

using NtQueryInformationProcessFn = LONG NTAPI(HANDLE, ULONG, void*, ULONG, ULONG*);

template <class T>
T FieldAt(const ProcessParameters& parameters, std::size_t offset) {
    T value;
    std::memcpy(&value, parameters.head.data() + offset, sizeof(T));
    return value;
}

// Looked up on every call, as ntdll might lack it.
NtQueryInformationProcessFn* FindNtQueryInformationProcess() {
    return NtdllProc<NtQueryInformationProcessFn>("NtQueryInformationProcess");
}

}  // namespace

bool ReadPebPointer(HANDLE process, std::size_t pebField, ULONG_PTR& value) {
    NtQueryInformationProcessFn* queryInformation = FindNtQueryInformationProcess();
    if (!queryInformation) return false;
    BasicInformation basic = {};
    if (queryInformation(process, kProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) return false;
    unsigned char peb[kPebBytes] = {};
    if (pebField + sizeof(value) > sizeof(peb)) return false;
    if (!ReadWhole(process, reinterpret_cast<ULONG_PTR>(basic.pebBaseAddress), peb, sizeof(peb))) return false;
    std::memcpy(&value, peb + pebField, sizeof(value));
    return true;
}

bool ReadProcessParameters(HANDLE process, ProcessParameters& parameters) {
    return ReadPebPointer(process, kPebProcessParameters, parameters.address) &&
           ReadWhole(process, parameters.address, parameters.head.data(), parameters.head.size());
}

RemoteText CountedString(const ProcessParameters& parameters, std::size_t stringField) {
    RemoteText text;
    text.claimedBytes = FieldAt<USHORT>(parameters, stringField);
    text.bytes = std::min(FieldAt<USHORT>(parameters, stringField),
                          FieldAt<USHORT>(parameters, stringField + kMaximumLengthAfterLength));
    // A block that is not yet normalised holds offsets from its own start instead of addresses.
    const ULONG_PTR buffer = FieldAt<ULONG_PTR>(parameters, stringField + kBufferAfterLength);
    if (FieldAt<ULONG>(parameters, kParametersFlags) & kParametersNormalized) {
        text.address = buffer;
    } else if (buffer) {
        text.address = parameters.address + buffer;
    }
    return text;
}

std::wstring ReadCountedString(HANDLE process, const ProcessParameters& parameters, std::size_t stringField,
                               std::size_t maxChars) {
    const RemoteText remote = CountedString(parameters, stringField);
    std::wstring text(std::min(remote.bytes / sizeof(wchar_t), maxChars), L'\0');
    if (text.empty() || !remote.address || !ReadWhole(process, remote.address, text.data(), text.size() * sizeof(wchar_t))) {
        return {};
    }
    return text;
}

std::wstring ReadEnvironment(HANDLE process, const ProcessParameters& parameters, std::size_t maxChars) {
    const ULONG_PTR address = FieldAt<ULONG_PTR>(parameters, kParametersEnvironment);
    if (!address) return {};
    std::size_t limitBytes = maxChars * sizeof(wchar_t);
    ULONG_PTR recorded = 0;
    if (FieldAt<ULONG>(parameters, kParametersLength) >= kParametersEnvironmentSize + sizeof(recorded) &&
        ReadWhole(process, parameters.address + kParametersEnvironmentSize, &recorded, sizeof(recorded)) &&
        recorded != 0) {
        limitBytes = std::min<std::size_t>(limitBytes, recorded);
    }
    // Up to the first unreadable page, so that one past the block ends the
    // read instead of failing all of it.
    std::string bytes = ReadUpToUnreadable(process, address, limitBytes & ~std::size_t{1});
    std::wstring block(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(block.data(), bytes.data(), block.size() * sizeof(wchar_t));
    for (std::size_t i = 1; i < block.size(); ++i) {
        if (block[i] == L'\0' && block[i - 1] == L'\0') return block.substr(0, i + 1);
    }
    return block;
}
