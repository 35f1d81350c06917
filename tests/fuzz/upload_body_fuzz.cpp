// Fuzzes the report form: escaping turns exactly the "+" bytes into "%2B" and
// keeps every other byte in place, whatever the pieces of the body hold.
#include <cstdlib>
#include <string>
#include <vector>

#include "report/upload_body.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::string Bytes(FuzzInput& in, std::size_t maxBytes) {
    std::size_t count = in.Byte() % (maxBytes + 1);
    std::string bytes;
    for (std::size_t i = 0; i < count && !in.empty(); ++i) bytes.push_back(static_cast<char>(in.Byte()));
    return bytes;
}

void CheckEscaped(const std::string& raw, const std::string& escaped) {
    std::size_t at = 0;
    for (char byte : raw) {
        if (byte == '+') {
            Check(escaped.compare(at, 3, "%2B") == 0);
            at += 3;
        } else {
            Check(at < escaped.size() && escaped[at] == byte);
            ++at;
        }
    }
    Check(at == escaped.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    std::string process = Bytes(in, 64);
    std::uint32_t exitCode = in.Number();
    std::string os = Bytes(in, 20);
    std::vector<std::string> files(in.Byte() % 4), modules(in.Byte() % 4);
    for (std::string& line : files) line = Bytes(in, 64);
    for (std::string& line : modules) line = Bytes(in, 64);

    std::string body = BuildUploadBody(process, exitCode, os, files, modules);
    Check(body.compare(0, 8 + process.size(), "process=" + process) == 0);
    Check(body.back() == (modules.empty() ? '=' : '\n'));
    CheckEscaped(body, EscapePlus(body));
    return 0;
}
