// corvane: the minimal host. Loads the modules named with -m, then runs the
// console commands given with -x, or reads commands from standard input.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

void usage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: corvane [-m MODULE.so]... [-x COMMAND]...\n"
                 "  -m MODULE.so  load a module (its library constructor registers it)\n"
                 "  -x COMMAND    run a console command; without -x, commands are read\n"
                 "                from standard input, one per line\n"
                 "Type 'help' at the console for the commands.\n");
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> modules, commands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-m" || arg == "-x") && i + 1 < argc) {
            (arg == "-m" ? modules : commands).push_back(argv[++i]);
        } else if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "corvane: unexpected argument '%s'\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    int failures = 0;
    for (const std::string& m : modules) {
        std::string error;
        if (!corvane::load_module(m, error)) {
            std::fprintf(stderr, "corvane: %s\n", error.c_str());
            return 1;
        }
    }
    if (!commands.empty()) {
        for (const std::string& c : commands) {
            std::printf("corvane> %s\n", c.c_str());
            std::fflush(stdout);
            failures += corvane::execute(STDOUT_FILENO, c);
        }
        return failures == 0 ? 0 : 1;
    }
    const bool interactive = isatty(STDIN_FILENO);
    std::string line;
    for (;;) {
        if (interactive) {
            std::printf("corvane> ");
            std::fflush(stdout);
        }
        if (!std::getline(std::cin, line)) break;
        if (line == "quit" || line == "exit") break;
        failures += corvane::execute(STDOUT_FILENO, line);
    }
    return failures == 0 ? 0 : 1;
}
