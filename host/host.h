// The minimal Corvane host: loads modules, keeps their translators and
// console commands, drives translation steps and runs console commands.
// It offers the host operations of host/corvane.h and knows nothing of any
// particular module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/corvane.h"

namespace corvane {

// ---- logger -------------------------------------------------------------

struct log_entry {
    int level;
    std::string file;
    int line;
    std::string function;
    std::string message;
};

// Log lines go to standard error unless echo is off; the last lines are
// also kept for inspection.
void set_log_echo(bool echo);
// The lines logged since the last call, oldest first.
std::vector<log_entry> take_log();

// ---- modules ------------------------------------------------------------

// dlopens the shared object, which registers itself from its constructor,
// and calls its load entry. On failure nothing stays loaded. A name without
// a slash is looked up as find_module_file does; loading a module that is
// loaded already is refused with its name.
bool load_module(const std::string& name, std::string& error);
// Where modules are looked for: the current directory, the directory of the
// running executable (the build tree) and ../lib/corvane/modules beside it
// (an installed host).
std::vector<std::string> module_directories();
// The file a module name stands for: a path with a slash as given; a bare
// name ("codec_g729a") or file name ("codec_g729a.so") in the first of
// module_directories() that holds it.
bool find_module_file(const std::string& name, std::string& path, std::string& error);
bool unload_module(const std::string& name, std::string& error);
bool reload_module(const std::string& name, std::string& error);
std::vector<const cvn_module_info*> loaded_modules();

// ---- translators --------------------------------------------------------

std::vector<cvn_translator*> translators();
// The registered translator from format src to format dst, or null.
cvn_translator* find_translator(const std::string& src, const std::string& dst);

// One translation step: the private area (zeroed, of the declared size) and
// the output buffer belong to it, as in a call leg.
class translation_step {
public:
    explicit translation_step(cvn_translator* t);
    ~translation_step();
    translation_step(const translation_step&) = delete;
    translation_step& operator=(const translation_step&) = delete;

    int framein(cvn_frame* f);
    // The translator's own frame-out, or the host's standard one.
    cvn_frame* frameout();
    cvn_trans_pvt& pvt() { return pvt_; }
    cvn_translator* translator() const { return pvt_.t; }

private:
    cvn_trans_pvt pvt_;
};

// ---- formats ------------------------------------------------------------

cvn_format* format_by_name(const std::string& name);

// ---- console ------------------------------------------------------------

// Runs one console line, writing its answer to fd. Returns 0 when a command
// ran successfully, 1 otherwise (unknown command, failure, usage shown).
int execute(int fd, const std::string& line);
// Runs one console line and returns what it printed.
std::string execute(const std::string& line, int* status = nullptr);
// True once "exit" or "quit" has run.
bool exit_requested();
// The words of a console line; double or single quotes keep spaces in a
// word ("file convert 'my file.raw' out.g729"), a backslash escapes the
// next character.
std::vector<std::string> split_words(const std::string& line);
// The same, with how the line ends: inside a word (the last one is being
// typed) and inside a quote (the quote character, or 0). execute() refuses a
// line that ends inside a quote.
struct split_result {
    std::vector<std::string> words;
    bool open_word = false;
    char open_quote = 0;
};
split_result split_line(const std::string& line);
// Tab completion: the words that can stand where the last word of line (the
// text before the cursor) is being typed, sorted. For "core sh" that is
// {"show"}; after "help " the command words themselves; after "file
// convert " the names in the current folder (folders with a slash); after
// "module load " the modules in the module directories, after "module
// unload " the loaded ones.
std::vector<std::string> complete_command(const std::string& line);
// What Tab does at the end of line: insert the rest of the word being typed
// as far as every choice agrees, escaped for the console (with a blank, and
// the closing quote, once the word is complete); when that is nothing, the
// editor lists `choices`.
struct completion {
    std::vector<std::string> choices;
    std::string insert;
};
completion complete_line(const std::string& line);

// Ctrl-C at the interactive console while a command runs: the SIGINT
// handler requests a cancel, and long commands (file convert) look between
// frames and stop, leaving their output as it was. A cancel requested
// before a command starts stops it at its first frame, so a Ctrl-C that
// comes just after Enter is not lost; clear_cancel() forgets one left over
// (the interactive console calls it at each prompt).
void request_cancel();
bool cancel_requested();
void clear_cancel();

} // namespace corvane
