// g729a: encode, decode, round-trip and inspect G.729A files from the shell.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "g729a.h"
#include "tools/capture/capture_commands.h"
#include "tools/capture/capture_input.h"
#include "tools/cli/file_commands.h"
#include "tools/cli/help.h"
#include "tools/cli/options.h"
#include "tools/common/output_file.h"
#include "tools/common/signals.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/audio_sink.h"
#include "tools/formats/standard_input.h"
#include "tools/plot/plot_command.h"
#include "tools/plot/report_command.h"

namespace g729::tool {
namespace {

// A command on the files after the command word, as they are.
using operands_command = int (*)(const std::vector<std::string>& operands, const command_options& options);

struct command_entry {
    const char* name;
    command_bit bit;          // in the option table
    file_command work;        // on one coded or audio file at a time (null: plot, report)
    operands_command capture; // on a packet capture (null: the command does not read captures)
    operands_command whole;   // on its operands as they are (plot, report: a picture or page of any input)
    bool writes; // takes OUT (or a batch)
    bool coded_in;
    bool coded_out;
    const char* help; // g729a COMMAND --help
};

const command_entry kCommands[] = {
    {"encode", for_encode, encode_file, nullptr, nullptr, true, false, true, kEncodeHelp},
    {"decode", for_decode, decode_file, decode_capture, nullptr, true, true, false, kDecodeHelp},
    {"roundtrip", for_roundtrip, roundtrip_file, nullptr, nullptr, true, false, false, kRoundtripHelp},
    {"info", for_info, info_file, info_capture, nullptr, false, true, false, kInfoHelp},
    {"dump", for_dump, dump_file, dump_capture, nullptr, false, true, false, kDumpHelp},
    {"plot", for_plot, nullptr, nullptr, run_plot, true, true, false, kPlotHelp},
    {"convert", for_convert, convert_file, convert_capture, nullptr, true, true, true, kConvertHelp},
    {"report", for_report, nullptr, nullptr, run_report, true, true, false, kReportHelp},
};

const command_entry* find_command(const std::string& name) {
    for (const command_entry& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

enum class side { in, out };

// The format of one file: -t, else its extension; '-' needs -t, except
// audio on standard input, which libsndfile may recognise by its header.
format_id resolve(const positional& op, side s, bool coded, const std::string& command) {
    const bool input = s == side::in;
    const char* which = input ? "IN" : "OUT";
    const std::string wanted = coded ? "g729 or bit" : "an audio format (wav, raw, ulaw, flac, ...)";
    if (op.format) {
        if (is_coded(op.format->kind) != coded)
            throw usage_error("--format " + format_name(*op.format) + " does not fit " + which + " of " + command + " (" + wanted + ")");
        return *op.format;
    }
    if (op.text == "-") {
        if (input && !coded) return format_id(file_format::sndfile);
        // encode writes frames back to back unless told to write .bit.
        if (!input && coded && command == "encode") return format_id(file_format::g729);
        throw usage_error(std::string("'-' as ") + which + " of " + command + " needs --format " + wanted);
    }
    const format_id f = format_id_from_extension(op.text);
    const std::string verb = input ? " reads " : " writes ";
    const std::string kinds = coded ? ".g729 or .bit" : ".wav, .raw, .sln16, .ulaw, .alaw, .gsm, .flac or another audio format";
    if (f.kind == file_format::unknown) {
        // Any other name is offered to libsndfile, which knows by the header.
        if (input && !coded) return format_id(file_format::sndfile);
        throw tool_error(op.text, "unknown extension; " + command + verb + kinds + " (or name the format with -t)");
    }
    if (is_coded(f.kind) != coded) throw tool_error(op.text, "wrong kind of file; " + command + verb + kinds);
    return f;
}

bool is_directory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The file a path names, by device and inode; nullopt when there is none.
std::optional<std::pair<dev_t, ino_t>> file_identity(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::make_pair(st.st_dev, st.st_ino);
}

bool same_file(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const auto ia = file_identity(a);
    return ia && ia == file_identity(b);
}

// Replacing an existing OUT of the kind IN is (audio for roundtrip, coded for
// convert) takes --force: such a file is more often a second input matched
// by a glob (convert *.g729) than an output to throw away. encode and decode
// replace their OUT freely: it is of the other kind, so it cannot be an
// input they were meant to read. Empty when the job may go ahead.
std::string replacement_problem(const file_job& job, const command_options& options) {
    if (options.force || job.out.is_std() || is_coded(job.in_format.kind) != is_coded(job.out_format.kind)) return "";
    struct stat st;
    if (stat(job.out.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
    return std::string("exists and holds ") + (is_coded(job.out_format.kind) ? "a coded stream" : "audio") +
           ", as IN does; not replaced without --force (-y)";
}

format_id default_target(const command_entry& c, const format_id& in) {
    if (c.coded_out) return format_id(c.coded_in && in.kind == file_format::bit ? file_format::g729 :
                                        c.coded_in ? file_format::bit : file_format::g729);
    return format_id(file_format::wav);
}

// The folder in -d DIR that a capture of a batch is decoded into: named
// after the capture without its extension. A name that would make that
// folder DIR itself or its parent ("..pcap", "...pcap"), or nothing at all,
// is named after the whole file instead, its dots made underscores
// ("..pcap" into "__pcap"), so that no capture's streams leave DIR.
std::string capture_folder_name(const std::string& capture) {
    const std::string stem = stem_of(capture);
    if (stem.find_first_not_of('.') != std::string::npos) return stem;
    std::string name = capture.substr(capture.find_last_of('/') + 1);
    std::replace(name.begin(), name.end(), '.', '_');
    return name.empty() ? "_" : name;
}

// Standard input without -t is known by its first bytes, as a file is:
// true for a capture; a .bit stream is given that format; anything else
// needs -t (tool_error).
bool standard_input_is_capture(positional& f, const std::string& command) {
    switch (standard_input_kind()) {
    case input_kind::capture: return true;
    case input_kind::bit: f.format = format_id(file_format::bit); return false;
    case input_kind::other: break;
    }
    throw tool_error("standard input", unknown_standard_input_text(command));
}

// info and dump: each file in turn, in the order given. One -t before the
// first file names them all. A packet capture among several is described by
// the capture commands in its turn.
int read_files(const command_entry& command, std::vector<positional>& files, const command_line& p) {
    const std::string name = command.name;
    if (p.formats_unused > 0) throw usage_error("--format given after the last file; it names the format of the file after it");
    // Captures go to the command's capture side; '-' without -t may be one.
    std::vector<bool> capture(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        capture[i] = files[i].text == "-" && !files[i].format ? standard_input_is_capture(files[i], name)
                                                               : !files[i].format && is_capture_file(files[i].text);
    const std::size_t captures = std::size_t(std::count(capture.begin(), capture.end(), true));
    if (captures > 0 && !command.capture) throw usage_error(name + " does not read packet captures; decode, info, dump, plot and convert do");
    refuse_options_not_for(p, captures == 0              ? operand_kinds::files
                              : captures == files.size() ? operand_kinds::captures
                                                         : operand_kinds::mixed);
    if (files.size() == 1 && capture[0]) {
        const int status = command.capture({files[0].text}, p.options);
        finish_standard_output();
        return status;
    }
    const bool shared_format = p.formats_given == 1 && files[0].format.has_value();
    if (files.size() == 1) {
        file_job job;
        job.in = operand{files[0].text};
        job.in_format = resolve(files[0], side::in, true, name);
        const int status = run_single(name, command.work, job, p.options);
        finish_standard_output();
        return status;
    }
    int status = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        positional& f = files[i];
        if (capture[i]) {
            separate_blocks(name, p.options);
            try {
                status |= command.capture({f.text}, p.options);
            } catch (const tool_error& e) {
                std::fprintf(stderr, "g729a: %s: %s\n", e.file.c_str(), e.what());
                status = 1;
            }
            continue;
        }
        if (shared_format) f.format = p.last_format;
        file_job job;
        job.in = operand{f.text};
        try {
            job.in_format = resolve(f, side::in, true, name);
        } catch (const tool_error& e) {
            job.problem = e.file + ": " + e.what();
        }
        status |= run_one_of_several(name, command.work, job, p.options);
    }
    finish_standard_output();
    return status;
}

int run(const std::vector<std::string>& args) {
    command_line p = parse_command_line(args);

    if (p.version && p.operands.empty() && !p.help) {
        // The tool's own version (the library it was built with), then the
        // line of the library it runs with, which may be newer.
        std::fputs("g729a " G729A_VERSION_STRING "\n", stdout);
        std::fputs(g729a_version_line(), stdout);
        finish_standard_output();
        return 0;
    }
    if (!p.operands.empty() && p.operands[0].text == "help") {
        p.operands.erase(p.operands.begin());
        p.help = true;
    }
    if (p.operands.empty()) {
        if (p.help) {
            std::fputs(kGeneralHelp, stdout);
            finish_standard_output();
            return 0;
        }
        throw usage_error("no command given");
    }
    if (p.operands[0].format) throw usage_error("--format goes before a file, not before the command");
    const command_entry* command = find_command(p.operands[0].text);
    if (!command) throw usage_error("unknown command '" + p.operands[0].text + "'");
    if (p.help) {
        std::fputs(command->help, stdout);
        finish_standard_output();
        return 0;
    }
    if (p.version) throw usage_error("--version takes no command");
    refuse_options_not_for(p, command->bit);
    settle_options(p, command->bit);
    const std::string name = command->name;
    std::vector<positional> files(p.operands.begin() + 1, p.operands.end());
    if (!command->writes) {
        if (files.empty()) throw usage_error(name + " needs at least one file, IN");
        return read_files(*command, files, p);
    }
    if (p.formats_unused > 0) throw usage_error("--format given after the last file; it names the format of the file after it");
    const bool audio_out = command->writes && !command->coded_out;

    // plot and report draw any input they read, a coded file or a capture,
    // into a picture or a page.
    if (command->whole) {
        refuse_options_not_for(p, !files.empty() && is_capture_file(files[0].text) ? operand_kinds::captures : operand_kinds::files);
        std::vector<std::string> operands;
        for (const positional& f : files) operands.push_back(f.text);
        const int status = command->whole(operands, p.options);
        finish_standard_output();
        return status;
    }

    // A packet capture: its streams found, rebuilt and decoded by the
    // command's capture side. '-' without -t, where a capture may come, is
    // read as one.
    const bool one_input = files.size() <= 2 && p.directory.empty() && !p.target && !files.empty() && !files[0].format;
    const bool capture = one_input && (files[0].text == "-" ? command->capture && standard_input_is_capture(files[0], name)
                                                            : is_capture_file(files[0].text));
    if (capture) {
        if (!command->capture) throw usage_error(name + " does not read packet captures; decode, info, dump, plot and convert do");
        refuse_options_not_for(p, operand_kinds::captures);
        std::vector<std::string> operands;
        for (const positional& f : files) operands.push_back(f.text);
        const int status = command->capture(operands, p.options);
        finish_standard_output();
        return status;
    }
    // Several captures with -d DIR: each into a folder of its own there,
    // named after it, one after the other, each all or nothing.
    const auto is_named_capture = [](const positional& f) { return !f.format && f.text != "-" && is_capture_file(f.text); };
    if (command->capture && !p.directory.empty() && !p.target && !files.empty() &&
        std::all_of(files.begin(), files.end(), is_named_capture)) {
        if (!p.options.mix.empty()) throw usage_error("--mix takes one capture, not a batch");
        refuse_options_not_for(p, operand_kinds::captures);
        std::set<std::string> outputs;
        for (const positional& f : files)
            if (!outputs.insert(capture_folder_name(f.text)).second)
                throw usage_error("two captures would both be decoded into " + p.directory + "/" + capture_folder_name(f.text));
        make_output_directory(p.directory);
        int status = 0;
        for (const positional& f : files) {
            try {
                command->capture({f.text, p.directory + (p.directory.back() == '/' ? "" : "/") + capture_folder_name(f.text)},
                                 p.options);
            } catch (const tool_error& e) {
                std::fprintf(stderr, "g729a: %s: %s\n", e.file.c_str(), e.what());
                status = 1;
            }
        }
        finish_standard_output();
        return status;
    }
    refuse_options_not_for(p, operand_kinds::files);

    // IN OUT, or IN... with the outputs named after the inputs: into -d DIR,
    // in --to FMT, or into OUT when OUT is a directory.
    bool batch = !p.directory.empty() || p.target.has_value();
    if (!batch && files.size() == 2 && files[1].text != "-" && !files[1].format && is_directory(files[1].text)) {
        p.directory = files[1].text;
        files.pop_back();
        batch = true;
    }
    if (!batch) {
        if (files.size() != 2)
            throw usage_error(name + " takes two files, IN and OUT (or several with -d DIR or --to FMT); got " +
                              std::to_string(files.size()));
        file_job job;
        job.in = operand{files[0].text};
        job.out = operand{files[1].text};
        job.in_format = resolve(files[0], side::in, command->coded_in, name);
        try {
            job.out_format = resolve(files[1], side::out, command->coded_out, name);
        } catch (const tool_error& e) {
            // "g729a encode a.wav b.wav" meant two inputs, most likely.
            const format_id as_input = format_id_from_extension(files[1].text);
            if (as_input.kind != file_format::unknown && is_coded(as_input.kind) == command->coded_in)
                throw tool_error(e.file, std::string(e.what()) + " (for several inputs give -d DIR or --to FMT)");
            throw;
        }
        if (!job.in.is_std() && !job.out.is_std() && same_file(job.in.path, job.out.path))
            throw usage_error("IN and OUT are the same file");
        if (audio_out) output_rate(job.out_format, p.options.audio);
        const std::string problem = replacement_problem(job, p.options);
        if (!problem.empty()) throw tool_error(job.out.path, problem + " (for several inputs give -d DIR or --to FMT)");
        const int status = run_single(name, command->work, job, p.options);
        finish_standard_output();
        return status;
    }

    if (files.empty()) throw usage_error(name + " needs at least one input file");
    if (p.target && is_coded(p.target->kind) != command->coded_out)
        throw usage_error("--to " + format_name(*p.target) + " does not fit the output of " + name);
    // One -t before the inputs of a batch names them all.
    const bool shared_format = p.formats_given == 1 && files[0].format.has_value();
    // No output of a batch replaces one of its inputs, --force or not: a
    // worker may not have read it yet.
    std::set<std::pair<dev_t, ino_t>> inputs;
    for (const positional& f : files) {
        if (f.text == "-") throw usage_error("'-' cannot be part of a batch");
        if (const auto id = file_identity(f.text)) inputs.insert(*id);
    }
    std::vector<file_job> jobs;
    std::set<std::string> outputs;
    for (positional& f : files) {
        if (shared_format) f.format = p.last_format;
        file_job job;
        job.in = operand{f.text};
        if (!f.format && is_capture_file(f.text)) {
            const std::string own = command->capture ? name : "decode";
            job.problem = f.text + ": a packet capture holds streams, not one file's frames: " + own + " it on its own (g729a " +
                          own + " " + f.text + " DIR)";
            jobs.push_back(job);
            continue;
        }
        try {
            job.in_format = resolve(f, side::in, command->coded_in, name);
        } catch (const tool_error& e) {
            job.problem = e.file + ": " + e.what();
            jobs.push_back(job);
            continue;
        }
        const format_id target = p.target ? *p.target : default_target(*command, job.in_format);
        const std::string dir = p.directory.empty() ? directory_of(f.text) : p.directory;
        job.out = operand{dir + (dir.back() == '/' ? "" : "/") + stem_of(f.text) + "." + format_extension(target)};
        job.out_format = target;
        if (same_file(job.in.path, job.out.path))
            throw usage_error(f.text + ": its output would be the file itself; give -d DIR or another --to");
        if (const auto id = file_identity(job.out.path); id && inputs.count(*id))
            throw usage_error(f.text + ": its output " + job.out.path + " is another input of this run");
        if (!outputs.insert(job.out.path).second) throw usage_error("two inputs would both be written to " + job.out.path);
        if (audio_out) output_rate(job.out_format, p.options.audio);
        const std::string problem = replacement_problem(job, p.options);
        if (!problem.empty()) job.problem = job.out.path + ": " + problem;
        jobs.push_back(job);
    }
    if (!p.directory.empty()) make_output_directory(p.directory);
    const int status = run_batch(name, command->work, jobs, p.options);
    finish_standard_output();
    return status;
}

} // namespace
} // namespace g729::tool

int main(int argc, char** argv) {
    using namespace g729::tool;
    remove_temporary_files_on_signals();
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const usage_error& e) {
        std::fprintf(stderr, "g729a: %s\nTry 'g729a --help'.\n", e.what());
        return 2;
    } catch (const tool_error& e) {
        std::fprintf(stderr, "g729a: %s: %s\n", e.file.c_str(), e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "g729a: out of memory\n");
        return 1;
    }
}
