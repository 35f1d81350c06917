// Throws and catches, linked against the shared C++ runtime: imports
// libstdc++-6.dll and libgcc_s_seh-1.dll, both of which import libwinpthread-1.dll.
#include <stdexcept>
#include <string>

int main(int argc, char**) {
    try {
        if (argc > 0) throw std::runtime_error(std::string("thrown"));
    } catch (const std::exception& error) {
        return static_cast<int>(std::string(error.what()).size());
    }
    return 0;
}
