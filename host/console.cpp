// The host console: its own commands and the dispatch of typed lines to the
// longest matching registered command.
#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/media.h"
#include "host/registry.h"
#include "audio/comparison.h"

namespace corvane {

namespace {

// What a handler may answer besides null (success).
char* const kShowUsage = reinterpret_cast<char*>(1);
char* const kFailure = reinterpret_cast<char*>(2);

bool exit_flag = false;

// Set from the SIGINT handler: lock-free, so safe there.
std::atomic<bool> cancel_flag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the cancel flag is set from a signal handler");

char* answer(cvn_cli_args* a, bool ok, const std::string& error) {
    if (ok) return nullptr;
    cvn_cli(a->fd, "%s\n", error.c_str());
    return kFailure;
}

char* handle_help(cvn_cli_entry* e, int cmd, cvn_cli_args* a) {
    if (cmd == CVN_CLI_INIT || cmd == CVN_CLI_GENERATE) return nullptr;
    std::vector<cvn_cli_entry*> entries = console_entries();
    std::sort(entries.begin(), entries.end(),
              [](const cvn_cli_entry* x, const cvn_cli_entry* y) { return std::string(x->command) < y->command; });
    if (a->argc > 1) {
        // "help WORDS": the usage of the command those words name, or the
        // list of the commands that start with them.
        std::vector<std::string> wanted(a->argv + 1, a->argv + a->argc);
        std::string joined;
        for (const std::string& w : wanted) joined += (joined.empty() ? "" : " ") + w;
        std::vector<cvn_cli_entry*> starting;
        for (cvn_cli_entry* x : entries) {
            if (joined == x->command) {
                cvn_cli(a->fd, "%s", x->usage ? x->usage : "");
                return nullptr;
            }
            const std::vector<std::string> cw = split_words(x->command);
            if (cw.size() > wanted.size() && std::equal(wanted.begin(), wanted.end(), cw.begin())) starting.push_back(x);
        }
        if (starting.empty()) {
            cvn_cli(a->fd, "No such command '%s'.\n", joined.c_str());
            return kFailure;
        }
        entries = starting;
    }
    for (cvn_cli_entry* x : entries) cvn_cli(a->fd, "%25.25s  %s\n", x->command, x->summary ? x->summary : "");
    if (a->argc == 1) {
        cvn_cli(a->fd, "Tab completes commands, file names and module names; Ctrl-C drops the line, or\n"
                       "cancels a running file convert. 'help help' tells more, 'help WORDS' about a command.\n");
    }
    (void)e;
    return nullptr;
}

char* handle_module(cvn_cli_entry* e, int cmd, cvn_cli_args* a) {
    if (cmd == CVN_CLI_INIT || cmd == CVN_CLI_GENERATE) return nullptr;
    const std::string verb = e->command + 7; // after "module "
    if (verb == "show") {
        cvn_cli(a->fd, "%-25s %-55s %s\n", "Module", "Description", "Support Level");
        const auto modules = loaded_modules();
        for (const cvn_module_info* m : modules) {
            const char* level = m->support_level == CVN_MODULE_SUPPORT_CORE       ? "core"
                                : m->support_level == CVN_MODULE_SUPPORT_EXTENDED ? "extended"
                                : m->support_level == CVN_MODULE_SUPPORT_DEPRECATED ? "deprecated"
                                                                                  : "unknown";
            cvn_cli(a->fd, "%-25s %-55s %s\n", m->name, m->description, level);
        }
        cvn_cli(a->fd, "%zu modules loaded\n", modules.size());
        return nullptr;
    }
    if (a->argc != 3) return kShowUsage;
    std::string error;
    const std::string target = a->argv[2];
    bool ok;
    if (verb == "load") {
        ok = load_module(target, error);
        if (ok) cvn_cli(a->fd, "Loaded %s\n", target.c_str());
    } else if (verb == "unload") {
        ok = unload_module(target, error);
        if (ok) cvn_cli(a->fd, "Unloaded %s\n", target.c_str());
    } else {
        ok = reload_module(target, error);
        if (ok) cvn_cli(a->fd, "Reloaded %s\n", target.c_str());
    }
    return answer(a, ok, error);
}

char* handle_show_translation(cvn_cli_entry*, int cmd, cvn_cli_args* a) {
    if (cmd == CVN_CLI_INIT || cmd == CVN_CLI_GENERATE) return nullptr;
    cvn_cli(a->fd, "Translators (cost: microseconds of processor time per second of audio)\n");
    cvn_cli(a->fd, "%-12s %-6s    %-6s %10s %16s\n", "Name", "From", "To", "Cost", "Channels/core");
    for (const cvn_translator* t : translators()) {
        cvn_cli(a->fd, "%-12s %-6s -> %-6s %10d %16.0f\n", t->name, t->src_codec.name, t->dst_codec.name, t->cost,
                t->cost > 0 ? 1e6 / t->cost : 0.0);
    }
    return nullptr;
}

char* handle_file_convert(cvn_cli_entry*, int cmd, cvn_cli_args* a) {
    if (cmd == CVN_CLI_INIT || cmd == CVN_CLI_GENERATE) return nullptr;
    if (a->argc != 4) return kShowUsage;
    const std::string in_path = a->argv[2];
    const std::string out_path = a->argv[3];
    std::string error;
    conversion_report r;
    if (!convert_file(in_path, out_path, r, error)) return answer(a, false, error);

    const double duration = double(r.samples) / 8000.0;
    cvn_cli(a->fd, "Converted %s (%s) to %s (%s) with %s\n", in_path.c_str(), r.in_format.c_str(), out_path.c_str(),
            r.out_format.c_str(), r.translator.c_str());
    cvn_cli(a->fd, "  %.2f s of audio, %ld codec frames, %ld bytes of G.729, %d host frames\n", duration,
            r.codec_frames, r.bytes, r.frames_in);
    if (r.seconds > 0.0) {
        cvn_cli(a->fd, "  %.1f ms of processor time, %.0f times real time\n", r.seconds * 1e3, duration / r.seconds);
    }
    if (r.samples_held > 0) {
        cvn_cli(a->fd, "  %ld trailing samples (under one 10 ms frame) stayed in the encoder\n", r.samples_held);
    }
    if (r.frames_refused > 0) {
        cvn_cli(a->fd, "  %d host frames were refused by the translator (see the warnings)\n", r.frames_refused);
        return kFailure;
    }
    return nullptr;
}

char* handle_file_compare(cvn_cli_entry*, int cmd, cvn_cli_args* a) {
    if (cmd == CVN_CLI_INIT || cmd == CVN_CLI_GENERATE) return nullptr;
    if (a->argc != 4) return kShowUsage;
    media_file ref, test;
    std::string error;
    if (!read_media(a->argv[2], ref, error) || !read_media(a->argv[3], test, error)) return answer(a, false, error);
    if (ref.format != "slin" || test.format != "slin") return answer(a, false, "file compare needs two audio files");
    const audio::comparison_result c = audio::compare(ref.samples, test.samples);
    cvn_cli(a->fd, "Compared %s with %s: %.2f s, delay %d samples (%.1f ms)\n", a->argv[2], a->argv[3],
            double(c.samples) / 8000.0, c.delay, c.delay / 8.0);
    if (c.level_defined) {
        cvn_cli(a->fd, "  level %.1f dBFS -> %.1f dBFS (%+.2f dB)\n", c.reference_level_db, c.test_level_db,
                c.level_difference_db);
    } else {
        cvn_cli(a->fd, "  level: %s is silent\n", c.snr_defined ? "TEST" : "REFERENCE");
    }
    if (!c.snr_defined) {
        cvn_cli(a->fd, "  SNR n/a (silent reference)\n");
    } else if (std::isinf(c.snr_db)) {
        cvn_cli(a->fd, "  SNR infinite (identical), segmental SNR %.2f dB over %zu segments\n", c.segmental_snr_db,
                c.segments);
    } else if (c.segments > 0) {
        cvn_cli(a->fd, "  SNR %.2f dB, segmental SNR %.2f dB over %zu segments\n", c.snr_db, c.segmental_snr_db,
                c.segments);
    } else {
        cvn_cli(a->fd, "  SNR %.2f dB, segmental SNR n/a (no segment above %.0f dBFS)\n", c.snr_db,
                audio::kSilentSegmentDb);
    }
    const audio::speech_measures m = audio::compare_speech(ref.samples, test.samples, c.delay);
    if (m.frames > 0) {
        cvn_cli(a->fd, "  over %zu frames of speech: frame levels %.2f dB apart, log-spectral distance %.2f dB\n",
                m.frames, m.level_envelope_db, m.log_spectral_distance_db);
        // Measured on the bundled speech through G.729A, and on unrelated
        // audio of the same level, so a reader can place the figures.
        cvn_cli(a->fd,
                "  What these mean for a CELP codec such as G.729A: it rebuilds speech from its spectrum and pitch,\n"
                "  not its waveform, so SNR 0 to 6 dB and segmental SNR 0 to 4 dB are normal for its output. What it\n"
                "  keeps shows in the level (within 1 dB), the frame levels (1 to 2.5 dB apart) and the log-spectral\n"
                "  distance (8 to 10 dB); unrelated audio of the same level gives 7 to 16 dB and over 20 dB.\n");
    }
    return nullptr;
}

char* handle_exit(cvn_cli_entry*, int cmd, cvn_cli_args*) {
    if (cmd == CVN_CLI_INIT || cmd == CVN_CLI_GENERATE) return nullptr;
    exit_flag = true;
    return nullptr;
}

cvn_cli_entry host_commands[] = {
    {"help", "Display help list, or specific help on a command", "Usage: help [WORDS]\n       Lists the commands, or shows the usage of one.\n       Words are split at blanks; quotes ('...' or \"...\") or a backslash keep\n       a blank in a word. Tab completes command words, file names after\n       file convert and file compare, and module names after module load,\n       unload and reload. Ctrl-C drops the line being typed, or cancels a\n       running file convert.\n", handle_help, nullptr, 0},
    {"module show", "List loaded modules", "Usage: module show\n", handle_module, nullptr, 0},
    {"module load", "Load a module", "Usage: module load NAME\n       Loads a module by name (NAME or NAME.so, from the current directory or\n       the module directory), or from a path with a slash as given.\n", handle_module, nullptr, 0},
    {"module unload", "Unload a module", "Usage: module unload NAME\n", handle_module, nullptr, 0},
    {"module reload", "Reload a module's configuration", "Usage: module reload NAME\n", handle_module, nullptr, 0},
    {"core show translation", "Display translation cost table", "Usage: core show translation\n       Lists the registered translators with their measured cost.\n", handle_show_translation, nullptr, 0},
    {"file convert", "Convert an audio file through the translators", "Usage: file convert IN OUT\n       Converts between .raw/.sln (16-bit 8 kHz slin), .wav (8 kHz mono 16-bit)\n       and .g729 (payloads back to back) in 20 ms host frames.\n       Ctrl-C cancels it; OUT is then left as it was.\n", handle_file_convert, nullptr, 0},
    {"file compare", "Compare two audio files", "Usage: file compare REFERENCE TEST\n       Finds the delay of TEST behind REFERENCE (0 to 160 samples) and prints\n       levels, SNR and segmental SNR of the aligned signals.\n", handle_file_compare, nullptr, 0},
    {"exit", "Leave the console", "Usage: exit\n", handle_exit, nullptr, 0},
    {"quit", "Leave the console", "Usage: quit\n", handle_exit, nullptr, 0},
};

void register_host_commands() {
    static bool done = false;
    if (done) return;
    done = true;
    for (cvn_cli_entry& e : host_commands) {
        e.registered = 1;
        add_console_entry(&e);
    }
}

} // namespace

bool exit_requested() { return exit_flag; }

std::vector<std::string> split_words(const std::string& line) { return split_line(line).words; }

split_result split_line(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < line.size()) word += line[++i];
            else word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            in_word = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            in_word = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return split_result{words, in_word, quote};
}

namespace {

bool starts_with(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The names in the folder `partial` points into that continue it, with
// that folder in front as typed ("data/sp" gives "data/speech.raw") and a
// slash after each folder. Hidden names only when asked for with a dot.
// `keep` chooses among the files; folders are always offered.
std::vector<std::string> complete_path(const std::string& partial, bool (*keep)(const std::string& name)) {
    const size_t slash = partial.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : partial.substr(0, slash + 1);
    const std::string start = slash == std::string::npos ? partial : partial.substr(slash + 1);
    std::vector<std::string> out;
    DIR* d = opendir(folder.empty() ? "." : folder.c_str());
    if (d == nullptr) return out;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || !starts_with(name, start)) continue;
        if (name[0] == '.' && (start.empty() || start[0] != '.')) continue;
        struct stat st;
        const bool folder_entry = stat((folder + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        if (folder_entry) out.push_back(folder + name + "/");
        else if (keep(name)) out.push_back(folder + name);
    }
    closedir(d);
    return out;
}

bool any_file(const std::string&) { return true; }

// A module's shared object: NAME.so, and not a library's libNAME.so.
bool module_file(const std::string& name) { return ends_with(name, ".so") && !starts_with(name, "lib"); }

// Module names for module load: NAME for each NAME.so in the module
// directories, or paths when a slash is typed.
std::vector<std::string> complete_module_file(const std::string& partial) {
    if (partial.find('/') != std::string::npos) return complete_path(partial, module_file);
    std::vector<std::string> out;
    for (const std::string& dir : module_directories()) {
        DIR* d = opendir(dir.c_str());
        if (d == nullptr) continue;
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (module_file(name) && starts_with(name, partial)) out.push_back(name.substr(0, name.size() - 3));
        }
        closedir(d);
    }
    return out;
}

std::vector<std::string> complete_loaded_module(const std::string& partial) {
    std::vector<std::string> out;
    for (const cvn_module_info* m : loaded_modules())
        if (starts_with(m->name, partial)) out.push_back(m->name);
    return out;
}

// The host's commands that take names after their words, and how many.
struct argument_completion {
    const char* command;
    size_t arguments;
    std::vector<std::string> (*complete)(const std::string& partial);
};

std::vector<std::string> complete_file(const std::string& partial) { return complete_path(partial, any_file); }

const argument_completion kArgumentCompletions[] = {
    {"file convert", 2, complete_file},
    {"file compare", 2, complete_file},
    {"module load", 1, complete_module_file},
    {"module unload", 1, complete_loaded_module},
    {"module reload", 1, complete_loaded_module},
};

// What a word becomes on the line: blanks, quotes and backslashes escaped,
// or inside an open quote only what that quote needs.
std::string escape_word(const std::string& text, char open_quote) {
    std::string out;
    for (const char c : text) {
        if (open_quote == '\'') {
            out += c;
            continue;
        }
        const bool special = open_quote == '"' ? (c == '"' || c == '\\')
                                               : (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\');
        if (special) out += '\\';
        out += c;
    }
    return out;
}

} // namespace

std::vector<std::string> complete_command(const std::string& line) {
    register_host_commands();
    const split_result split = split_line(line);
    std::vector<std::string> words = split.words;
    std::string partial;
    if (split.open_word) {
        partial = words.back();
        words.pop_back();
    }
    if (!words.empty() && words.front() == "help") words.erase(words.begin());
    std::vector<std::string> out;
    // After a command's words come its arguments.
    for (const argument_completion& a : kArgumentCompletions) {
        const std::vector<std::string> cw = split_words(a.command);
        if (words.size() >= cw.size() && words.size() < cw.size() + a.arguments &&
            std::equal(cw.begin(), cw.end(), words.begin()) && split.words.front() != "help")
            out = a.complete(partial);
    }
    for (cvn_cli_entry* e : console_entries()) {
        const std::vector<std::string> cw = split_words(e->command);
        if (cw.size() <= words.size() || !std::equal(words.begin(), words.end(), cw.begin())) continue;
        const std::string& next = cw[words.size()];
        if (next.compare(0, partial.size(), partial) == 0) out.push_back(next);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

completion complete_line(const std::string& line) {
    completion c;
    c.choices = complete_command(line);
    if (c.choices.empty()) return c;
    const split_result split = split_line(line);
    const std::string partial = split.open_word ? split.words.back() : "";
    // As far as every choice agrees.
    std::string common = c.choices[0];
    for (const std::string& choice : c.choices) {
        size_t n = 0;
        while (n < common.size() && n < choice.size() && common[n] == choice[n]) ++n;
        common.resize(n);
    }
    if (common.size() > partial.size()) c.insert = escape_word(common.substr(partial.size()), split.open_quote);
    // A finished word gets its closing quote and a blank; a folder stays
    // open for the name inside it.
    if (c.choices.size() == 1 && !ends_with(common, "/")) {
        if (split.open_quote != 0) c.insert += split.open_quote;
        c.insert += ' ';
    }
    return c;
}

void request_cancel() { cancel_flag.store(true); }
bool cancel_requested() { return cancel_flag.load(); }
void clear_cancel() { cancel_flag.store(false); }

int execute(int fd, const std::string& line) {
    register_host_commands();
    const split_result split = split_line(line);
    const std::vector<std::string>& words = split.words;
    if (split.open_quote != 0) {
        cvn_cli(fd, "Unterminated %c quote: close it, or put a backslash before it to keep it in the word\n",
                split.open_quote);
        return 1;
    }
    if (words.empty()) return 0;
    cvn_cli_entry* best = nullptr;
    size_t best_words = 0;
    for (cvn_cli_entry* e : console_entries()) {
        const std::vector<std::string> cw = split_words(e->command);
        if (cw.size() > words.size() || cw.size() <= best_words) continue;
        if (std::equal(cw.begin(), cw.end(), words.begin())) {
            best = e;
            best_words = cw.size();
        }
    }
    if (best == nullptr) {
        cvn_cli(fd, "No such command '%s' (type 'help' for help)\n", line.c_str());
        return 1;
    }
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    cvn_cli_args args{fd, int(argv.size()), argv.data(), line.c_str()};
    char* result = best->handler(best, 0, &args);
    if (result == kShowUsage) {
        cvn_cli(fd, "%s", best->usage ? best->usage : "");
        return 1;
    }
    return result == nullptr ? 0 : 1;
}

std::string execute(const std::string& line, int* status) {
    const int fd = memfd_create("corvane-console", 0);
    if (fd < 0) {
        if (status) *status = 1;
        return "";
    }
    const int result = execute(fd, line);
    if (status) *status = result;
    std::string out;
    lseek(fd, 0, SEEK_SET);
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    close(fd);
    return out;
}

} // namespace corvane
