// corvane: the minimal host. Loads the modules named with -m, then runs the
// console commands given with -x, or reads commands from standard input: on
// a terminal with line editing, history, Tab completion of command words,
// file and module names, and Ctrl-C to cancel a long command; otherwise one
// command per line.
#ifdef CORVANE_WITH_LIBEDIT
#include <histedit.h>
#endif
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

void usage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: corvane [-m MODULE]... [-x COMMAND]...\n"
                 "  -m MODULE   load a module: a path, or a name (codec_g729a, codec_g729a.so)\n"
                 "              found in the current directory or the module directory\n"
                 "  -x COMMAND  run a console command; without -x, commands are read\n"
                 "              from standard input, one per line\n"
                 "Type 'help' at the console for the commands.\n");
}

#ifdef CORVANE_WITH_LIBEDIT
const char* prompt(EditLine*) { return "corvane> "; }

// Tab: completes the word under the cursor (a command word, a file or a
// module name), or lists the choices.
unsigned char complete_word(EditLine* el, int) {
    const LineInfo* li = el_line(el);
    const std::string before(li->buffer, size_t(li->cursor - li->buffer));
    const corvane::completion c = corvane::complete_line(before);
    if (c.choices.empty()) return CC_REFRESH_BEEP;
    if (!c.insert.empty()) {
        el_insertstr(el, c.insert.c_str());
        return CC_REFRESH;
    }
    std::string list = "\n";
    for (const std::string& choice : c.choices) list += choice + "  ";
    list += "\n";
    std::fputs(list.c_str(), stdout);
    std::fflush(stdout);
    return CC_REDISPLAY;
}

// Ctrl-C: the line typed so far is dropped and a fresh prompt shown. The
// terminal hands Ctrl-C to the editor as a key rather than as a signal
// (which could arrive outside the editor's read and be seen only at the
// next key).
unsigned char drop_line(EditLine* el, int) {
    const LineInfo* li = el_line(el);
    el_cursor(el, int(li->lastchar - li->cursor));
    el_deletestr(el, int(li->lastchar - li->buffer));
    std::fputs("^C\n", stdout);
    std::fflush(stdout);
    return CC_REDISPLAY;
}

void cancel_command(int) { corvane::request_cancel(); }

// The interactive console: Ctrl-C drops the line being typed, or cancels a
// long command while it runs; Ctrl-D on an empty line, "exit" or "quit"
// leave.
int interactive_console() {
    // While a command runs the terminal sends Ctrl-C as SIGINT.
    struct sigaction action {};
    action.sa_handler = cancel_command;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);

    EditLine* el = el_init("corvane", stdin, stdout, stderr);
    History* hist = history_init();
    HistEvent ev;
    history(hist, &ev, H_SETSIZE, 500);
    history(hist, &ev, H_SETUNIQUE, 1);
    el_set(el, EL_EDITOR, "emacs");
    el_set(el, EL_PROMPT, prompt);
    el_set(el, EL_HIST, history, hist);
    // The wide form keeps the two names as given; the narrow one copies
    // them and never frees the copies.
    el_wset(el, EL_ADDFN, L"corvane-complete", L"Complete a command word, file or module name", complete_word);
    el_set(el, EL_BIND, "^I", "corvane-complete", nullptr);
    el_wset(el, EL_ADDFN, L"corvane-drop-line", L"Drop the line", drop_line);
    el_set(el, EL_SETTY, "-d", "-isig", nullptr);
    el_set(el, EL_BIND, "^C", "corvane-drop-line", nullptr);
    el_source(el, nullptr); // the user's ~/.editrc, if any

    int failures = 0;
    for (;;) {
        // The editor takes the terminal before the prompt is shown: el_gets
        // alone writes the prompt first and only then turns off the
        // terminal's own Ctrl-C. A Ctrl-C typed in between, at a prompt
        // already written, would become SIGINT, and the terminal would
        // discard the keys typed ahead and the output it had not yet passed
        // on, the prompt among it: the editor would then wait behind an
        // empty line. Taken first, every key typed at a prompt, Ctrl-C too,
        // is the editor's.
        el_set(el, EL_PREP_TERM, 1);
        // A Ctrl-C that came after the last command had finished cancels
        // nothing; one typed from here on is the editor's until Enter, and
        // one that comes after Enter cancels the command it ends.
        corvane::clear_cancel();
        int count = 0;
        const char* text = el_gets(el, &count);
        if (text == nullptr || count <= 0) {
            if (count < 0 && errno == EINTR) continue;
            std::fputs("\n", stdout);
            break;
        }
        std::string line(text);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        history(hist, &ev, H_ENTER, line.c_str());
        failures += corvane::execute(STDOUT_FILENO, line);
        std::fflush(stdout);
        if (corvane::exit_requested()) break;
    }
    history_end(hist);
    el_end(el);
    return failures == 0 ? 0 : 1;
}
#endif

// Without the interactive console SIGINT and SIGTERM still stop the host,
// but at a frame boundary: a conversion under way is cancelled, so that its
// partial file goes and OUT stays as it was, and then the host dies of the
// signal. A signal ignored at start (nohup) stays ignored.
volatile sig_atomic_t stop_signal = 0;

void stop_at_frame_boundary(int sig) {
    stop_signal = sig;
    corvane::request_cancel();
}

void stop_cleanly_on_signals() {
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = stop_at_frame_boundary;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a read of the next command line returns at once.
        sigaction(sig, &action, nullptr);
    }
}

void die_if_stopped() {
    if (stop_signal == 0) return;
    std::fflush(stdout);
    signal(stop_signal, SIG_DFL);
    raise(stop_signal);
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
        stop_cleanly_on_signals();
        for (const std::string& c : commands) {
            die_if_stopped();
            std::printf("corvane> %s\n", c.c_str());
            std::fflush(stdout);
            failures += corvane::execute(STDOUT_FILENO, c);
            die_if_stopped();
            if (corvane::exit_requested()) break;
        }
        return failures == 0 ? 0 : 1;
    }
    // Typed at a terminal and shown on one: the editing console. Typed but
    // shown elsewhere (corvane | tee log): prompts, no editing.
    const bool typed = isatty(STDIN_FILENO);
#ifdef CORVANE_WITH_LIBEDIT
    if (typed && isatty(STDOUT_FILENO)) return interactive_console();
#endif
    stop_cleanly_on_signals();
    std::string line;
    for (;;) {
        if (typed) {
            std::printf("corvane> ");
            std::fflush(stdout);
        }
        if (!std::getline(std::cin, line)) break;
        if (line == "quit" || line == "exit") break;
        die_if_stopped();
        failures += corvane::execute(STDOUT_FILENO, line);
        die_if_stopped();
        if (corvane::exit_requested()) break;
    }
    die_if_stopped();
    return failures == 0 ? 0 : 1;
}
