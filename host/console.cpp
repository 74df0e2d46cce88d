// The host console: its own commands and the dispatch of typed lines to the
// longest matching registered command.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/media.h"
#include "host/registry.h"

namespace corvane {

namespace {

// What a handler may answer besides null (success).
char* const kShowUsage = reinterpret_cast<char*>(1);
char* const kFailure = reinterpret_cast<char*>(2);

std::vector<std::string> split_words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

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
        // "help WORDS": the usage of the command those words name.
        std::string wanted;
        for (int i = 1; i < a->argc; ++i) wanted += (i > 1 ? " " : "") + std::string(a->argv[i]);
        for (cvn_cli_entry* x : entries) {
            if (wanted == x->command) {
                cvn_cli(a->fd, "%s", x->usage ? x->usage : "");
                return nullptr;
            }
        }
        cvn_cli(a->fd, "No such command '%s'.\n", wanted.c_str());
        return kFailure;
    }
    for (cvn_cli_entry* x : entries) cvn_cli(a->fd, "%25.25s  %s\n", x->command, x->summary ? x->summary : "");
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
    media_file in, out;
    std::string error;
    out.format = format_of_path(out_path);
    if (out.format.empty()) return answer(a, false, out_path + ": unknown extension (use .raw, .sln, .wav or .g729)");
    if (!read_media(in_path, in, error)) return answer(a, false, error);
    conversion_report r;
    if (!convert_media(in, out, r, error)) return answer(a, false, error);
    if (!write_media(out_path, out, error)) return answer(a, false, error);

    const double duration = double(r.samples) / 8000.0;
    cvn_cli(a->fd, "Converted %s (%s) to %s (%s) with %s\n", in_path.c_str(), in.format.c_str(), out_path.c_str(),
            out.format.c_str(), r.translator.c_str());
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
    const comparison c = compare_audio(ref.samples, test.samples);
    cvn_cli(a->fd, "Compared %s with %s: %.2f s, delay %d samples (%.1f ms)\n", a->argv[2], a->argv[3],
            double(c.samples) / 8000.0, c.delay, c.delay / 8.0);
    cvn_cli(a->fd, "  level %.1f dBov -> %.1f dBov (%+.2f dB)\n", c.reference_level, c.test_level,
            c.test_level - c.reference_level);
    cvn_cli(a->fd, "  SNR %.2f dB, segmental SNR %.2f dB\n", c.snr, c.segmental_snr);
    return nullptr;
}

cvn_cli_entry host_commands[] = {
    {"help", "Display help list, or specific help on a command", "Usage: help [WORDS]\n       Lists the commands, or shows the usage of one.\n", handle_help, nullptr, 0},
    {"module show", "List loaded modules", "Usage: module show\n", handle_module, nullptr, 0},
    {"module load", "Load a module", "Usage: module load PATH.so\n       Loads a shared object and its load entry.\n", handle_module, nullptr, 0},
    {"module unload", "Unload a module", "Usage: module unload NAME\n", handle_module, nullptr, 0},
    {"module reload", "Reload a module's configuration", "Usage: module reload NAME\n", handle_module, nullptr, 0},
    {"core show translation", "Display translation cost table", "Usage: core show translation\n       Lists the registered translators with their measured cost.\n", handle_show_translation, nullptr, 0},
    {"file convert", "Convert an audio file through the translators", "Usage: file convert IN OUT\n       Converts between .raw/.sln (16-bit 8 kHz slin), .wav (8 kHz mono 16-bit)\n       and .g729 (payloads back to back) in 20 ms host frames.\n", handle_file_convert, nullptr, 0},
    {"file compare", "Compare two audio files", "Usage: file compare REFERENCE TEST\n       Aligns TEST to REFERENCE and prints levels and SNR.\n", handle_file_compare, nullptr, 0},
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

int execute(int fd, const std::string& line) {
    register_host_commands();
    const std::vector<std::string> words = split_words(line);
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
