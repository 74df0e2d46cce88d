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
#include "tools/capture/commands.h"
#include "tools/capture/network_report.h"
#include "tools/plot/plot_command.h"
#include "tools/cli/commands.h"
#include "tools/cli/standard_input.h"
#include "tools/cli/text.h"
#include "tools/cli/tool_error.h"

namespace g729::tool {
namespace {

constexpr const char* kGeneralHelp =
    "Usage: g729a COMMAND [OPTIONS] FILES\n"
    "\n"
    "Commands:\n"
    "  encode IN OUT     code audio as G.729A: IN any audio (.wav, .flac, .mp3, .raw/.sln,\n"
    "                    .sln16, .ulaw, .alaw, .gsm, ...); OUT .g729 or .bit\n"
    "  decode IN OUT     decode IN .g729 or .bit into OUT audio (.wav, .raw, .ulaw, .flac, ...),\n"
    "                    or the G.729 RTP streams of a packet capture (.pcap, .pcapng)\n"
    "  roundtrip IN OUT  encode and decode IN, write OUT, compare the two\n"
    "  info IN...        count the frames of .g729 or .bit files and check them, or list\n"
    "                    the RTP streams of a packet capture\n"
    "  dump IN...        one line per frame: type, coded parameters, decoded energy\n"
    "  plot IN OUT       draw IN (.g729, .bit or a capture) as .png, .svg or .pdf: level,\n"
    "                    lost, late and concealed frames, DTX, arrival jitter\n"
    "  convert IN OUT    rewrite .g729 as .bit or the other way round, without decoding\n"
    "  encode|decode|roundtrip|convert IN... -d DIR | --to FMT   many files at once\n"
    "\n"
    "Options:\n"
    "  -q, --quiet       no notices, progress bar or summary line\n"
    "  -t, --format FMT  the format of the file named next (overrides its extension;\n"
    "                    needed for '-' but for a capture, a .bit stream or audio with\n"
    "                    a header, known by their first bytes): g729, bit, raw/sln,\n"
    "                    sln16, ulaw, alaw, gsm, wav, or a libsndfile extension (flac,\n"
    "                    aiff, ogg, mp3, ...)\n"
    "  -d, --directory DIR  write each output into DIR (made if need be), named after\n"
    "                    its input\n"
    "  --to FMT          the output format of a batch (default: g729 for encode, wav\n"
    "                    for decode and roundtrip, the other coded format for convert)\n"
    "  -j, --jobs N      files worked on at once in a batch (default: one per core)\n"
    "  -y, --force       roundtrip/convert: replace an existing OUT (it is of the kind\n"
    "                    IN is, so most likely a second input matched by a glob)\n"
    "  -r, --rate HZ     decode/roundtrip: write audio at HZ (resampled from 8000;\n"
    "                    headerless formats have their one rate: .raw 8000, .sln16 16000)\n"
    "  --float           decode/roundtrip: 32-bit float samples (.wav, .flac is 16-bit)\n"
    "  --json            info: one JSON object\n"
    "  --strict          decode: input cut short is an error, not a warning\n"
    "  --dtx             encode: silence suppression (SID and untransmitted frames;\n"
    "                    .bit output only)\n"
    "  --bad-frames=decode  decode: .bit frames marked bad are decoded as received,\n"
    "                    not concealed\n"
    "  --jitter-buffer MS|adaptive\n"
    "                    captures: decode, info and plot as a receiver with that buffer\n"
    "                    would have played the call (late packets concealed)\n"
    "  --pt N, --stream SSRC, --mix FILE, --max-gap S, --max-audio S, --max-files N\n"
    "                    packet captures (.pcap, .pcapng): see 'g729a decode --help'\n"
    "  --max-streams N   plot: the most streams of a capture in one picture (100)\n"
    "  -h, --help        this text; 'g729a COMMAND --help' details a command\n"
    "  --version         the module's version line\n"
    "\n"
    "Exit status: 0 done, 1 a file could not be read, written or understood (in a\n"
    "batch: any file), 2 bad usage. See man g729a.\n";

// A command on a packet capture: the files after the command word.
using capture_command = int (*)(const std::vector<std::string>& operands, const command_options& options);

struct command_entry {
    const char* name;
    file_command work;
    capture_command capture; // null: the command does not read captures
    bool writes; // takes OUT (or a batch)
    bool coded_in;
    bool coded_out;
    const char* help;
};

const command_entry kCommands[] = {
    {"encode", encode_file, nullptr, true, false, true,
     "Usage: g729a encode [OPTIONS] IN OUT\n"
     "       g729a encode [OPTIONS] IN... (-d DIR | --to g729|bit)\n"
     "\n"
     "Codes IN as G.729 Annex A, one 10-byte frame per 10 ms.\n"
     "IN:  any file libsndfile reads, whatever its name (.wav, .flac, .mp3, .aiff, ...;\n"
     "     any rate from 1 to 768 kHz, any channel count, integer or float samples), or\n"
     "     headerless: .raw/.sln (16-bit little-endian 8 kHz), .sln16 (the same at\n"
     "     16 kHz), .ulaw/.mulaw/.pcmu, .alaw/.pcma (G.711, 8 kHz), .gsm (GSM 06.10).\n"
     "     Other rates are resampled to 8 kHz and channels mixed to mono, with a\n"
     "     notice. A last partial frame is padded with silence.\n"
     "OUT: .g729 (10-byte frames back to back) or .bit (serial bitstream, 16-bit word\n"
     "     per bit, as in the standard's test vectors).\n"
     "  --dtx  silence suppression: in pauses the background noise is described in\n"
     "         SID frames, sent when it changes, and other frames are not sent.\n"
     "         Only .bit can hold that (it marks each frame speech, SID or not\n"
     "         transmitted); --dtx with a .g729 output is refused.\n"
     "'-' reads standard input (libsndfile finds the format from its header, or give\n"
     "-t) or writes .g729 to standard output (-t bit for .bit).\n"},
    {"decode", decode_file, decode_capture, true, true, false,
     "Usage: g729a decode [OPTIONS] [--strict] [--bad-frames=decode] IN OUT\n"
     "       g729a decode [OPTIONS] IN... (-d DIR | --to FMT)\n"
     "       g729a decode [-q] [--strict] [-r HZ] [--float] [--pt N] [--stream SSRC] [--mix FILE]\n"
     "                    [--max-gap S] [--max-audio S] [--max-files N] CAPTURE [OUT]\n"
     "\n"
     "Decodes IN into mono audio, 8 kHz unless --rate says otherwise.\n"
     "IN:  .g729, read as one payload: 10-byte speech frames, and one 2-byte SID frame\n"
     "     at the very end. A last frame cut short is left out with a warning\n"
     "     (--strict: an error). Or .bit: speech and SID frames are decoded; frames not\n"
     "     transmitted are decoded as missing (comfort noise after a SID frame,\n"
     "     concealment after speech), and so are frames marked bad unless\n"
     "     --bad-frames=decode decodes them as received. Every frame is 10 ms.\n"
     "OUT: .wav, .raw/.sln, .sln16, .ulaw, .alaw, .gsm or any format libsndfile writes\n"
     "     (.flac, .aiff, .au, .ogg, .mp3, ...).\n"
     "  -r, --rate HZ  resample the output to HZ (1000 to 768000) in a format with a\n"
     "                 header; headerless formats have their one rate (.raw 8000,\n"
     "                 .sln16 16000)\n"
     "  --float        32-bit float samples, where the format has them\n"
     "Memory stays the same however long the stream.\n"
     "\n"
     "CAPTURE: a .pcap or .pcapng file holding RTP of G.729 (payload type 18, a type\n"
     "     that SDP in the capture maps to G729, or --pt N). Each stream is rebuilt in\n"
     "     sequence order; lost packets and DTX silences become missing frames, so\n"
     "     the audio keeps the call's timeline.\n"
     "OUT: a directory (made if need be) that gets one .wav per stream, named\n"
     "     SRC_PORT-DST_PORT_SSRC.wav; or a .wav/.raw/.sln file for the one stream\n"
     "     chosen with --stream SSRC (hexadecimal, as info shows it) or the only one.\n"
     "--mix FILE: both directions of the call as one stereo .wav, aligned on capture\n"
     "     time (left: the direction that starts first); OUT may then be left out.\n"
     "Limits, against captures made to fill a disk: --max-gap S, the longest gap\n"
     "     filled (default 3600 s; longer ones are shortened, with a notice);\n"
     "     --max-audio S, the audio a run writes (default 600 s plus twenty times what\n"
     "     the packets carry); --max-files N (default 1000). Nothing is written when a\n"
     "     limit refuses the run, and a failed or interrupted run leaves OUT as it was.\n"
     "IN '-' is standard input, known by its first bytes: a capture or a .bit stream;\n"
     "     frames back to back (.g729) need -t g729. Several captures with -d DIR are\n"
     "     decoded each into a folder of its own in DIR, named after it (a name of\n"
     "     dots alone, such as ..pcap, gives __pcap: no folder is DIR or above it).\n"},
    {"roundtrip", roundtrip_file, nullptr, true, false, false,
     "Usage: g729a roundtrip [OPTIONS] [-y] IN OUT\n"
     "\n"
     "Encodes and decodes IN (as encode reads it), writes the decoded audio to OUT\n"
     "(as decode writes it) and prints how it compares with the input: overall SNR,\n"
     "segmental SNR (10 ms segments, silent ones skipped, each bounded to -10..35 dB)\n"
     "and the output level relative to the input. The output is compared 40 samples\n"
     "(5 ms, the encoder's look-ahead) later than the input.\n"
     "The figures go to standard output, or to standard error when OUT is '-'.\n"
     "An existing OUT is audio, as IN is, and likely a second input matched by a glob:\n"
     "it is replaced only with -y (--force).\n"},
    {"info", info_file, info_capture, false, true, false,
     "Usage: g729a info [-q] [--json] [-t g729|bit] IN...\n"
     "       g729a info [-q] [--json] [--pt N] CAPTURE\n"
     "\n"
     "Describes IN (.g729 or .bit): frames, speech frames, SID frames, untransmitted\n"
     "frames, frames marked bad, frames whose first pitch index fails its parity check,\n"
     "duration, bit rate, and where the file is malformed if it is (exit status 1\n"
     "then). Frames are numbered from 0. --json prints the same as one JSON object.\n"
     "Several files are described in turn (JSON: one object a line); any that fails\n"
     "is named and makes the exit status 1.\n"
     "A .g729 whose frames fail the parity check too often is flagged as probably\n"
     "misaligned.\n"
     "\n"
     "CAPTURE (.pcap, .pcapng): the RTP streams found, with SSRC, addresses, payload\n"
     "type, packets, frames, losses, duplicates, reordering, DTX gaps, capture times\n"
     "and duration, and the packets skipped; --json gives the same as JSON.\n"},
    {"dump", dump_file, dump_capture, false, true, false,
     "Usage: g729a dump [-t g729|bit] IN...\n"
     "       g729a dump [--stream SSRC] [--jitter-buffer MS|adaptive] [--max-audio S]\n"
     "                  CAPTURE\n"
     "\n"
     "Prints one line per frame of IN (.g729 or .bit): index, start time, type, the\n"
     "coded parameters (LSP indices, pitch lags with their thirds, the parity check,\n"
     "gain indices; for SID frames the LSF and energy indices) and the energy of the\n"
     "decoded frame in dBFS. A malformed file is dumped up to the fault (exit 1).\n"
     "Several files are dumped in turn, each after its own header lines.\n"
     "CAPTURE (.pcap, .pcapng): every G.729 stream in turn (--stream SSRC: that one),\n"
     "     a line per 10 ms of its timeline; frames that did not arrive say why (lost,\n"
     "     late with --jitter-buffer, untransmitted, skipped) and how the decoder filled\n"
     "     them (concealed, comfort_noise). A capture whose streams would print more\n"
     "     audio than decode's limit (--max-audio S) is refused.\n"
     "'-' is standard input: a capture or a .bit stream by its first bytes, or -t g729.\n"},
    {"plot", nullptr, run_plot, true, true, false,
     "Usage: g729a plot [OPTIONS] [--max-streams N] IN OUT\n"
     "\n"
     "Draws IN on one time axis into OUT (.png, .svg or .pdf): the decoded level per\n"
     "20 ms and a band that marks what became of each 10 ms frame (lost, late, bad\n"
     "and concealed, SID, not transmitted), silences shaded.\n"
     "IN: .g729 or .bit, or a packet capture (.pcap, .pcapng): every G.729 stream,\n"
     "     both directions of a call stacked, each with its arrival delta and jitter\n"
     "     over time and its key figures (loss, jitter, E-model R and MOS).\n"
     "--jitter-buffer MS|adaptive, --pt N, --max-gap S: as for decode. --max-audio S:\n"
     "     the audio decoded to draw a capture, as decode's limit on what it writes.\n"
     "--max-streams N: the most streams of a capture drawn (default 100); a PNG is at\n"
     "     most 32767 pixels high (about 100 streams); .svg and .pdf take more.\n"
     "IN '-' is standard input: a capture or a .bit stream, known by its first bytes.\n"},
    {"convert", convert_file, nullptr, true, true, true,
     "Usage: g729a convert [OPTIONS] [-y] IN OUT\n"
     "\n"
     "Rewrites a coded stream between .g729 and .bit without decoding it. .g729 to\n"
     ".bit and back gives the same bytes. .g729 cannot mark untransmitted or bad\n"
     "frames (they are left out or unmarked, with a notice), and holds a SID frame\n"
     "only at its end. An existing OUT is coded, as IN is, and likely a second input\n"
     "matched by a glob: it is replaced only with -y (--force).\n"},
};

const command_entry* find_command(const std::string& name) {
    for (const command_entry& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

struct positional {
    std::string text;
    std::optional<format_id> format; // from a -t before it
};

struct parsed {
    std::vector<positional> operands;
    command_options options;
    bool help = false;
    bool version = false;
    std::string directory;
    std::optional<format_id> target;
    int given_rate = 0;
    bool rate_given = false;
    std::size_t formats_given = 0;
    std::size_t formats_unused = 0;
    std::optional<format_id> last_format;
    bool bad_frames_given = false;
    bool capture_limits_given = false;
    bool max_streams_given = false;
};

// The longest --max-gap or --max-audio: a year, far beyond any call, and
// small enough that sample counts of it cannot overflow.
constexpr long kMaxCaptureSeconds = 366L * 24 * 3600;

// usage_error when an option that only a capture takes was given.
void check_no_capture_options(const parsed& p) {
    if (!p.options.payload_types.empty() || !p.options.stream.empty() || !p.options.mix.empty() || p.capture_limits_given ||
        !p.options.jitter_buffer.empty())
        throw usage_error("--pt, --stream, --mix, --max-gap, --max-audio, --max-files and --jitter-buffer apply to packet captures "
                          "(.pcap, .pcapng) only");
}

unsigned number(const std::string& option, const std::string& value, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        throw usage_error(option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" + value +
                          "'");
    return unsigned(v);
}

format_id format_value(const std::string& option, const std::string& value) {
    const format_id f = format_from_name(value);
    if (f.kind == file_format::unknown)
        throw usage_error("unknown " + option + " '" + value +
                          "' (g729, bit, raw, sln16, ulaw, alaw, gsm, wav, or a libsndfile extension such as flac)");
    return f;
}

parsed parse(const std::vector<std::string>& args) {
    parsed p;
    std::vector<format_id> queued; // -t values waiting for their operand
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // --name=value, --name value and -n value, -nvalue.
        auto value = [&](const char* long_name, const char* short_name) -> std::optional<std::string> {
            const std::string l = long_name;
            if (a == l || (short_name && a == short_name)) {
                if (i + 1 == args.size()) throw usage_error(a + " needs a value");
                return args[++i];
            }
            if (a.rfind(l + "=", 0) == 0) return a.substr(l.size() + 1);
            if (short_name && a.size() > 2 && a.rfind(short_name, 0) == 0) return a.substr(2);
            return std::nullopt;
        };
        if (options_ended || a == "-" || a.empty() || a[0] != '-') {
            positional op{a, std::nullopt};
            if (!queued.empty()) {
                op.format = queued.front();
                queued.erase(queued.begin());
            }
            p.operands.push_back(op);
        } else if (a == "--") {
            options_ended = true;
        } else if (a == "-h" || a == "--help") {
            p.help = true;
        } else if (a == "--version") {
            p.version = true;
        } else if (a == "-q" || a == "--quiet") {
            p.options.quiet = true;
        } else if (a == "--json") {
            p.options.json = true;
        } else if (a == "--float") {
            p.options.audio.floating = true;
        } else if (a == "--strict") {
            p.options.strict = true;
        } else if (a == "--dtx") {
            p.options.dtx = true;
        } else if (a == "-y" || a == "--force") {
            p.options.force = true;
        } else if (auto v = value("--bad-frames", nullptr)) {
            if (*v != "decode" && *v != "conceal") throw usage_error("--bad-frames takes decode or conceal, not '" + *v + "'");
            p.options.decode_bad_frames = *v == "decode";
            p.bad_frames_given = true;
        } else if (auto v = value("--pt", nullptr)) {
            p.options.payload_types.push_back(int(number("--pt", *v, 0, 127)));
        } else if (auto v = value("--stream", nullptr)) {
            uint32_t ssrc = 0;
            if (!parse_ssrc(*v, ssrc)) throw usage_error("--stream takes an SSRC in hexadecimal, as info shows it, not '" + *v + "'");
            p.options.stream = *v;
        } else if (auto v = value("--mix", nullptr)) {
            if (v->empty()) throw usage_error("--mix needs a file name");
            p.options.mix = *v;
        } else if (auto v = value("--max-gap", nullptr)) {
            p.options.max_gap_seconds = number("--max-gap", *v, 1, kMaxCaptureSeconds);
            p.capture_limits_given = true;
        } else if (auto v = value("--max-audio", nullptr)) {
            p.options.max_audio_seconds = number("--max-audio", *v, 1, kMaxCaptureSeconds);
            p.capture_limits_given = true;
        } else if (auto v = value("--jitter-buffer", nullptr)) {
            std::string problem;
            if (!parse_jitter_buffer(*v, problem)) throw usage_error(problem);
            p.options.jitter_buffer = *v;
        } else if (auto v = value("--max-streams", nullptr)) {
            p.options.max_streams = number("--max-streams", *v, 1, 1000000);
            p.max_streams_given = true;
        } else if (auto v = value("--max-files", nullptr)) {
            p.options.max_files = number("--max-files", *v, 1, 1000000);
            p.capture_limits_given = true;
        } else if (auto v = value("--format", "-t")) {
            const format_id f = format_value("--format", *v);
            queued.push_back(f);
            p.last_format = f;
            ++p.formats_given;
        } else if (auto v = value("--directory", "-d")) {
            p.directory = *v;
        } else if (auto v = value("--to", nullptr)) {
            p.target = format_value("--to", *v);
        } else if (auto v = value("--jobs", "-j")) {
            p.options.jobs = number("--jobs", *v, 1, 256);
        } else if (auto v = value("--rate", "-r")) {
            p.options.audio.rate = int(number("--rate", *v, kMinSampleRate, kMaxSampleRate));
            p.rate_given = true;
        } else {
            throw usage_error("unknown option '" + a + "'");
        }
    }
    p.formats_unused = queued.size();
    p.options.formats_given = p.formats_given > 0;
    return p;
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

// info and dump: each file in turn, in the order given. One -t before the
// first file names them all. A packet capture among several is described by
// the capture commands in its turn.
int read_files(const command_entry& command, std::vector<positional>& files, const parsed& p) {
    const std::string name = command.name;
    if (p.options.strict) throw usage_error("--strict is for decode");
    if (p.formats_unused > 0) throw usage_error("--format given after the last file; it names the format of the file after it");
    if (p.options.json && name != "info") throw usage_error("--json is for info");
    if (p.rate_given || p.options.audio.floating) throw usage_error("--rate and --float are for decode and roundtrip");
    if (p.bad_frames_given) throw usage_error("--bad-frames is for decode");
    // Captures go to the command's capture side; '-' without -t may be one.
    std::vector<bool> capture(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].text == "-" && !files[i].format) {
            // Standard input is known by its first bytes, as a file is.
            switch (standard_input_kind()) {
            case input_kind::capture: capture[i] = true; break;
            case input_kind::bit: files[i].format = format_id(file_format::bit); break;
            case input_kind::other: throw tool_error("standard input", unknown_standard_input_text(name));
            }
            continue;
        }
        capture[i] = !files[i].format && is_capture_file(files[i].text);
    }
    if (std::find(capture.begin(), capture.end(), true) == capture.end())
        check_no_capture_options(p);
    else if (!command.capture)
        throw usage_error(name + " does not read packet captures; decode, info, dump and plot do");
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
    parsed p = parse(args);

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
    const std::string name = command->name;
    if (p.max_streams_given && name != "plot") throw usage_error("--max-streams is for plot");
    std::vector<positional> files(p.operands.begin() + 1, p.operands.end());
    if (!command->writes) {
        if (!p.directory.empty() || p.target) throw usage_error(name + " writes no files: -d and --to do not apply");
        if (files.empty()) throw usage_error(name + " needs at least one file, IN");
        if (p.options.force) throw usage_error("--force is for the commands that write files");
        return read_files(*command, files, p);
    }
    if (p.options.strict && name != "decode") throw usage_error("--strict is for decode");
    if (p.options.dtx && name != "encode") throw usage_error("--dtx is for encode");
    if (p.formats_unused > 0) throw usage_error("--format given after the last file; it names the format of the file after it");
    if (p.options.json && name != "info") throw usage_error("--json is for info");
    const bool audio_out = command->writes && !command->coded_out;
    if ((p.rate_given || p.options.audio.floating) && !audio_out) throw usage_error("--rate and --float are for decode and roundtrip");
    if (p.bad_frames_given && name != "decode") throw usage_error("--bad-frames is for decode");

    // plot draws any input it reads, a coded file or a capture, into a picture.
    if (!command->work) {
        if (!p.directory.empty() || p.target) throw usage_error(name + " writes one picture: -d and --to do not apply");
        if (p.formats_given > 0) throw usage_error(name + " knows its inputs by their names; --format does not apply");
        if (!p.options.stream.empty() || !p.options.mix.empty()) throw usage_error("--stream and --mix apply to decode");
        std::vector<std::string> operands;
        for (const positional& f : files) operands.push_back(f.text);
        const int status = command->capture(operands, p.options);
        finish_standard_output();
        return status;
    }

    // A packet capture: its streams found, rebuilt and decoded by the
    // command's capture side. '-' without -t, where a capture may come, is
    // read as one.
    // Standard input is known by its first bytes, as a file is: a capture,
    // or a .bit stream; anything else needs -t.
    if (command->capture && files.size() <= 2 && p.directory.empty() && !p.target && !files.empty() && !files[0].format &&
        files[0].text == "-") {
        switch (standard_input_kind()) {
        case input_kind::capture: break;
        case input_kind::bit: files[0].format = format_id(file_format::bit); break;
        case input_kind::other: throw tool_error("standard input", unknown_standard_input_text(name));
        }
    }
    const bool capture = files.size() <= 2 && p.directory.empty() && !p.target && !files.empty() && !files[0].format &&
                         (is_capture_file(files[0].text) || (files[0].text == "-" && command->capture));
    if (capture) {
        if (!command->capture) throw usage_error(name + " does not read packet captures; decode, info, dump and plot do");
        if (p.formats_given > 0) throw usage_error("--format does not apply to a packet capture, which is known by its header");
        if (p.bad_frames_given) throw usage_error("--bad-frames applies to .bit files; a capture has no frames marked bad");
        if (p.options.force) throw usage_error("--force is for roundtrip and convert; a capture decode replaces its own earlier files");
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
        if (p.formats_given > 0) throw usage_error("--format does not apply to a packet capture, which is known by its header");
        if (p.bad_frames_given) throw usage_error("--bad-frames applies to .bit files; a capture has no frames marked bad");
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
    check_no_capture_options(p);

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
            job.problem = f.text + ": a packet capture holds streams, not one file's frames: decode it on its own (g729a decode " +
                          f.text + " DIR)";
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
