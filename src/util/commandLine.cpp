// Command-line arguments as UTF-8.
#include "util/commandLine.h"

#if defined(_WIN32)
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

#if defined(_WIN32)

std::string toUtf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size - 1)); // without the terminating zero
    return result;
}

// The parsed wide command line, or nothing when the system cannot give it.
std::vector<std::string> wideArguments() {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {};
    }
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(toUtf8(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

#endif

} // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
#if defined(_WIN32)
    if (std::vector<std::string> arguments = wideArguments(); !arguments.empty()) {
        return arguments;
    }
#endif
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    return arguments;
}
