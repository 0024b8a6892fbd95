// Entry point: chooses the mode from the command line and turns every failure that reaches it
// into its message on standard output and exit status 1.
#include "tool/modes.h"
#include "util/commandLine.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void writeText(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void run(const std::vector<std::string>& argv) {
    const std::string usage = (argv.empty() ? std::string() : argv[0]) +
                              " <-f <qmFile>.qm | -i <srcImg>.bmp <finalImg>.bmp> <output>.jpg\n";
    const int arguments = static_cast<int>(argv.size()) - 1;
    if (arguments < 3) {
        throw std::runtime_error(usage);
    }
    const std::string option = argv[1];
    if (option == "-f") {
        runModelMode(argv[2], argv[3]);
    } else if (option == "-i") {
        if (arguments < 4) {
            throw std::runtime_error(usage);
        }
        runImageMode(argv[2], argv[3], argv[4]);
    } else {
        throw std::runtime_error(usage);
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        run(utf8Arguments(argc, argv));
    } catch (const std::exception& error) {
        writeText(error.what());
        std::exit(1);
    } catch (...) {
        writeText("Unexpected error\n");
        std::exit(1);
    }
    std::fflush(stdout);
    return 0;
}
