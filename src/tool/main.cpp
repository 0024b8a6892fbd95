// Entry point: chooses the mode from the command line and turns every failure that reaches it
// into its message on standard output and exit status 1; every failure but the usage text
// first says why on standard error.
#include "tool/failureReport.h"
#include "tool/messages.h"
#include "tool/modes.h"
#include "util/commandLine.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace {

void writeText(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void run(const std::vector<std::string>& argv) {
    const std::string usage = (argv.empty() ? std::string() : argv[0]) + messages::kUsageArguments;
    const int arguments = static_cast<int>(argv.size()) - 1;
    if (arguments < 3) {
        throw ToolFailure(usage, {}, {});
    }
    const std::string option = argv[1];
    if (option == "-f") {
        runModelMode(argv[2], argv[3]);
    } else if (option == "-i") {
        if (arguments < 4) {
            throw ToolFailure(usage, {}, {});
        }
        runImageMode(argv[2], argv[3], argv[4]);
    } else {
        throw ToolFailure(usage, {}, {});
    }
}

// The output path of a command line that got past the usage check.
std::string outputPath(const std::vector<std::string>& argv) {
    const std::size_t at = argv.size() > 1 && argv[1] == "-i" ? 4 : 3;
    return at < argv.size() ? argv[at] : std::string();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    try {
        arguments = utf8Arguments(argc, argv);
        run(arguments);
    } catch (const ToolFailure& failure) {
        if (!failure.path().empty()) {
            writeFailureLine(failure.path(), failure.reason());
        }
        writeText(failure.what());
        std::exit(1);
    } catch (const std::exception& error) {
        const bool memory = dynamic_cast<const std::bad_alloc*>(&error) != nullptr;
        writeFailureLine(outputPath(arguments), memory ? "Cannot allocate memory" : error.what());
        writeText(error.what());
        std::exit(1);
    } catch (...) {
        writeFailureLine(outputPath(arguments), "unexpected failure");
        writeText(messages::kUnexpected);
        std::exit(1);
    }
    std::fflush(stdout);
    return 0;
}
