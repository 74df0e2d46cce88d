// g729a: encode, decode, round-trip and inspect G.729A files from the shell.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "g729a.h"
#include "tools/capture_commands.h"
#include "tools/commands.h"
#include "tools/tool_error.h"

namespace g729::tool {
namespace {

constexpr const char* kGeneralHelp =
    "Usage: g729a COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Commands:\n"
    "  encode IN OUT     code audio as G.729A: IN .wav (any file libsndfile reads), .raw or .sln;\n"
    "                    OUT .g729 or .bit\n"
    "  decode IN OUT     decode IN .g729 or .bit into OUT .wav, .raw or .sln; or the G.729\n"
    "                    RTP streams of a packet capture (.pcap, .pcapng) into OUT\n"
    "  roundtrip IN OUT  encode and decode IN, write OUT, compare the two\n"
    "  info IN           count the frames of a .g729 or .bit file and check it, or list\n"
    "                    the RTP streams of a packet capture\n"
    "  convert IN OUT    rewrite .g729 as .bit or the other way round, without decoding\n"
    "\n"
    "Options:\n"
    "  -q, --quiet       no notices, progress bar or summary line\n"
    "  --format FMT      format of '-' (standard input or output): raw, wav, g729 or bit;\n"
    "                    when IN and OUT are both '-', give it twice: IN's, then OUT's\n"
    "  --strict          decode: input cut short is an error, not a warning\n"
    "  --bad-frames=decode  decode: .bit frames marked bad are decoded as received,\n"
    "                    not concealed\n"
    "  --json, --pt N, --stream SSRC, --mix FILE\n"
    "                    packet captures: see 'g729a info --help', 'g729a decode --help'\n"
    "  -h, --help        this text; 'g729a COMMAND --help' details a command\n"
    "  --version         the module's version line\n"
    "\n"
    ".raw and .sln are headerless 16-bit little-endian samples, 8 kHz, mono.\n"
    "Exit status: 0 done, 1 a file could not be read, written or understood, 2 bad usage.\n";

struct command_entry {
    const char* name;
    int operands;
    const char* help;
};

const command_entry kCommands[] = {
    {"encode", 2,
     "Usage: g729a encode [-q] [--format FMT] IN OUT\n"
     "\n"
     "Codes IN as G.729 Annex A, one 10-byte frame per 10 ms.\n"
     "IN:  any audio file libsndfile reads (.wav, .flac, .aiff, ...; any rate, any\n"
     "     channel count, integer or float samples), or .raw/.sln (16-bit little-endian,\n"
     "     8 kHz, mono). Other rates are resampled to 8 kHz and channels mixed to mono,\n"
     "     with a notice. A last partial frame is padded with silence.\n"
     "OUT: .g729 (10-byte frames back to back) or .bit (serial bitstream, 16-bit word\n"
     "     per bit, as in the standard's test vectors).\n"
     "'-' reads standard input or writes standard output; --format raw|wav for IN,\n"
     "g729|bit for OUT.\n"},
    {"decode", 2,
     "Usage: g729a decode [-q] [--format FMT] [--strict] [--bad-frames=decode] IN OUT\n"
     "       g729a decode [-q] [--strict] [--pt N] [--stream SSRC] [--mix FILE] CAPTURE [OUT]\n"
     "\n"
     "Decodes IN into 8 kHz mono 16-bit audio.\n"
     "IN:  .g729, read as one payload: 10-byte speech frames, and one 2-byte SID frame\n"
     "     at the very end. A last frame cut short is left out with a warning\n"
     "     (--strict: an error). Or .bit: speech and SID frames are decoded; frames not\n"
     "     transmitted are decoded as missing (comfort noise after a SID frame,\n"
     "     concealment after speech), and so are frames marked bad unless\n"
     "     --bad-frames=decode decodes them as received. Every frame is 10 ms.\n"
     "OUT: .wav, .raw or .sln.\n"
     "'-' reads standard input or writes standard output; --format g729|bit for IN,\n"
     "raw|wav for OUT.\n"
     "\n"
     "CAPTURE: a .pcap or .pcapng file holding RTP of G.729 (payload type 18, a type\n"
     "     that SDP in the capture maps to G729, or --pt N). Each stream is rebuilt in\n"
     "     sequence order; lost packets and DTX silences become missing frames, so\n"
     "     the audio keeps the call's timeline.\n"
     "OUT: a directory (made if need be) that gets one .wav per stream, named\n"
     "     SRC_PORT-DST_PORT_SSRC.wav; or a .wav/.raw/.sln file for the one stream\n"
     "     chosen with --stream SSRC (hexadecimal, as info shows it) or the only one.\n"
     "--mix FILE: both directions of the call as one stereo .wav, aligned on capture\n"
     "     time (left: the direction that starts first); OUT may then be left out.\n"},
    {"roundtrip", 2,
     "Usage: g729a roundtrip [-q] [--format FMT] IN OUT\n"
     "\n"
     "Encodes and decodes IN (as encode reads it), writes the decoded audio to OUT\n"
     "(.wav, .raw or .sln) and prints how it compares with the input: overall SNR,\n"
     "segmental SNR (10 ms segments, silent ones skipped, each bounded to -10..35 dB)\n"
     "and the output level relative to the input. The output is compared 40 samples\n"
     "(5 ms, the encoder's look-ahead) later than the input.\n"
     "The figures go to standard output, or to standard error when OUT is '-'.\n"},
    {"info", 1,
     "Usage: g729a info [-q] [--format FMT] IN\n"
     "       g729a info [-q] [--json] [--pt N] CAPTURE\n"
     "\n"
     "Describes IN (.g729 or .bit): frames, speech frames, SID frames, untransmitted\n"
     "frames, frames marked bad, frames whose first pitch index fails its parity check,\n"
     "duration, and where the file is malformed if it is (exit status 1 then).\n"
     "Frames are numbered from 0. A .g729 whose frames fail the parity check too often\n"
     "is flagged as probably misaligned.\n"
     "\n"
     "CAPTURE (.pcap, .pcapng): the RTP streams found, with SSRC, addresses, payload\n"
     "type, packets, frames, losses, duplicates, reordering, DTX gaps, capture times\n"
     "and duration, and the packets skipped; --json gives the same as JSON.\n"},
    {"convert", 2,
     "Usage: g729a convert [-q] [--format FMT] IN OUT\n"
     "\n"
     "Rewrites a coded stream between .g729 and .bit without decoding it. .g729 to\n"
     ".bit and back gives the same bytes. .g729 cannot mark untransmitted or bad\n"
     "frames (they are left out or unmarked, with a notice), and holds a SID frame\n"
     "only at its end.\n"},
};

const command_entry* find_command(const std::string& name) {
    for (const command_entry& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

int run(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    command_options options;
    bool help = false;
    bool version = false;
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options_ended || a == "-" || a.empty() || a[0] != '-') {
            positional.push_back(a);
        } else if (a == "--") {
            options_ended = true;
        } else if (a == "-h" || a == "--help") {
            help = true;
        } else if (a == "--version") {
            version = true;
        } else if (a == "-q" || a == "--quiet") {
            options.quiet = true;
        } else if (a == "--strict") {
            options.strict = true;
        } else if (a == "--json") {
            options.json = true;
        } else if (take_valued_option(args, i, options)) {
        } else if (a == "--format" || a.rfind("--format=", 0) == 0) {
            std::string value;
            if (a == "--format") {
                if (i + 1 == args.size()) throw usage_error("--format needs a value: raw, wav, g729 or bit");
                value = args[++i];
            } else {
                value = a.substr(std::strlen("--format="));
            }
            const file_format format = format_from_name(value);
            if (format == file_format::unknown) throw usage_error("unknown --format '" + value + "' (raw, wav, g729 or bit)");
            options.std_formats.push_back(format);
        } else {
            throw usage_error("unknown option '" + a + "'");
        }
    }

    if (version && positional.empty() && !help) {
        std::fputs(g729a_version_line(), stdout);
        return 0;
    }
    if (!positional.empty() && positional[0] == "help") {
        positional.erase(positional.begin());
        help = true;
    }
    if (positional.empty()) {
        if (help) {
            std::fputs(kGeneralHelp, stdout);
            return 0;
        }
        throw usage_error("no command given");
    }
    const command_entry* command = find_command(positional[0]);
    if (!command) throw usage_error("unknown command '" + positional[0] + "'");
    if (help) {
        std::fputs(command->help, stdout);
        return 0;
    }
    if (version) throw usage_error("--version takes no command");
    if (positional.size() > 1 && is_capture_file(positional[1]))
        return run_capture_command(positional[0], std::vector<std::string>(positional.begin() + 1, positional.end()), options);
    check_no_capture_options(options);
    const int operands = int(positional.size()) - 1;
    if (operands != command->operands)
        throw usage_error(std::string(command->name) + (command->operands == 1 ? " takes one file, IN" : " takes two files, IN and OUT") +
                          "; got " + std::to_string(operands));

    const std::string name = command->name;
    const operand in{positional[1]};
    if (name == "info") return run_info(in, options);
    const operand out{positional[2]};
    if (!in.is_std() && !out.is_std() && in.path == out.path)
        throw usage_error("IN and OUT are the same file");
    if (name == "encode") return run_encode(in, out, options);
    if (name == "decode") return run_decode(in, out, options);
    if (name == "roundtrip") return run_roundtrip(in, out, options);
    return run_convert(in, out, options);
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
