// The g729a capture commands end to end over any capture: info (text and
// JSON) and decode into a new folder, into a folder that holds an earlier
// run's file, into one .wav, one stream with --stream, both directions with
// --mix, with --rate, --float and the capture limits, the outputs in a
// scratch folder whose files the process cannot grow past 32 MB
// (RLIMIT_FSIZE, with SIGXFSZ ignored, so an oversized write fails as a
// full disk does). Where decode writes a folder (modes 2 and 3), convert
// also writes the streams' frames as .bit into a folder of their own.
//
// Input: one selector byte, then the capture (.pcap or .pcapng bytes).
//   selector % 8   0 info, 1 info --json, 2 decode into a new folder,
//                  3 decode into a folder holding an earlier file,
//                  4 decode --stream 1234abcd into a folder, 5 decode --mix,
//                  6 decode --mix and a folder, 7 decode into one .wav
//   bit 3 --rate 16000, bit 4 --float, bit 5 the default limits on audio
//   (else --max-audio 20, to keep runs fast), bit 6 --max-gap 5,
//   bit 7 --max-files 1
//   the capture's length modulo 3: no jitter buffer, --jitter-buffer 40,
//   --jitter-buffer adaptive; info as text also draws the picture (plot),
//   and info --json also makes the report page, whose data (every string
//   from the capture) holds no '<' that could close its script.
//
// Every run either succeeds or throws the tool's errors; none leaves a
// temporary file or folder behind; a failed decode leaves the folder as it
// was (the earlier file intact, no new one) and makes no new folder.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tools/capture/capture_commands.h"
#include "tools/capture/jitter_buffer.h"
#include "tools/common/tool_error.h"
#include "tools/plot/plot_command.h"
#include "tools/plot/report_command.h"

namespace {

using namespace g729::tool;

constexpr rlim_t kScratchFileBytes = rlim_t(32) << 20;
const char kEarlier[] = "an earlier run's output";

void remove_tree(const std::string& path);

std::string scratch() {
    // Never destroyed: the exit handler that removes it runs after the
    // destructors of statics made later.
    static const std::string& dir = *new std::string([] {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/capture_commands_fuzz-XXXXXX";
        std::vector<char> buffer(templ.begin(), templ.end());
        buffer.push_back('\0');
        FUZZ_CHECK(mkdtemp(buffer.data()) != nullptr);
        // The size limit on every file written, and its signal turned into
        // a write error; info's report goes nowhere.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{kScratchFileBytes, kScratchFileBytes};
        FUZZ_CHECK(setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const int null = open("/dev/null", O_WRONLY);
        FUZZ_CHECK(null >= 0 && dup2(null, STDOUT_FILENO) == STDOUT_FILENO);
        close(null);
        std::atexit([] { remove_tree(scratch()); });
        return std::string(buffer.data());
    }());
    return dir;
}

// The names in a folder and what each plain file holds.
std::map<std::string, std::string> listing(const std::string& dir) {
    std::map<std::string, std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string bytes;
        if (FILE* f = std::fopen((dir + "/" + name).c_str(), "rb")) {
            if (name == "keep.wav") {
                char buffer[64];
                bytes.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
            }
            std::fclose(f);
        }
        out[name] = bytes;
    }
    closedir(d);
    return out;
}

void remove_tree(const std::string& path) {
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") remove_tree(path + "/" + name);
        }
        closedir(d);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

bool no_temporaries(const std::string& dir) {
    for (const auto& [name, bytes] : listing(dir))
        if (name.find(".tmp-") != std::string::npos) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t selector = 0;
    if (!g729_fuzz::take_selector(data, size, selector)) return 0;
    const std::string dir = scratch();
    const std::string in = dir + "/in.pcap";
    {
        FILE* f = std::fopen(in.c_str(), "wb");
        FUZZ_CHECK(f != nullptr);
        FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
        FUZZ_CHECK(std::fclose(f) == 0);
    }
    const std::string out = dir + "/out";
    const std::string mix = dir + "/mix.wav";
    const std::string bits = dir + "/bits";

    command_options options;
    options.quiet = true;
    if (selector & 0x08) options.audio.rate = 16000;
    if (selector & 0x10) options.audio.floating = true;
    if (!(selector & 0x20)) options.max_audio_seconds = 20;
    if (selector & 0x40) options.max_gap_seconds = 5;
    if (selector & 0x80) options.max_files = 1;
    const std::optional<jitter_buffer_setting> buffers[] = {std::nullopt, jitter_buffer_setting{false, 40.0},
                                                            jitter_buffer_setting{true, kAdaptiveMinDelayMs}};
    options.jitter_buffer = buffers[size % 3];
    const std::string picture = dir + "/call.png";
    const std::string page = dir + "/call.html";

    const int mode = selector % 8;
    std::vector<std::string> operands = {in};
    bool existing = false;
    switch (mode) {
    case 0: break;
    case 1: options.json = true; break;
    case 2: operands.push_back(out); break;
    case 3:
        existing = true;
        operands.push_back(out);
        break;
    case 4:
        options.stream = 0x1234abcd;
        operands.push_back(out);
        break;
    case 5: options.mix = mix; break;
    case 6:
        options.mix = mix;
        operands.push_back(out);
        break;
    default: operands.push_back(dir + "/one.wav"); break;
    }
    if (existing) {
        FUZZ_CHECK(mkdir(out.c_str(), 0777) == 0);
        FILE* f = std::fopen((out + "/keep.wav").c_str(), "wb");
        FUZZ_CHECK(f != nullptr && std::fputs(kEarlier, f) >= 0 && std::fclose(f) == 0);
    }
    const std::map<std::string, std::string> before = listing(dir);
    const std::map<std::string, std::string> before_out = listing(out);

    bool failed = false;
    try {
        if (mode <= 1) {
            info_capture(operands, options);
            if (mode == 0) run_plot({in, picture}, options);
            if (mode == 1) {
                run_report({in, page}, options);
                std::FILE* f = std::fopen(page.c_str(), "rb");
                FUZZ_CHECK(f != nullptr);
                std::string html;
                char chunk[65536];
                for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) html.append(chunk, n);
                std::fclose(f);
                const char* const kData = "id=\"report-data\">";
                const std::size_t from = html.find(kData);
                FUZZ_CHECK(from != std::string::npos);
                const std::size_t to = html.find("</script>", from);
                FUZZ_CHECK(to != std::string::npos && html.find('<', from + std::strlen(kData)) == to);
            }
        } else
            decode_capture(operands, options);
    } catch (const tool_error& e) {
        failed = true;
        FUZZ_CHECK(e.what()[0] != '\0' && !e.file.empty());
    } catch (const usage_error& e) {
        failed = true;
        FUZZ_CHECK(e.what()[0] != '\0');
    }
    std::fflush(stdout);
    if (mode == 2 || mode == 3) {
        // All or nothing too: a folder of .bit files, or none at all.
        bool converted = true;
        try {
            convert_capture({in, bits}, options);
        } catch (const tool_error& e) {
            converted = false;
            FUZZ_CHECK(e.what()[0] != '\0' && !e.file.empty());
        }
        struct stat st;
        FUZZ_CHECK(converted == (stat(bits.c_str(), &st) == 0 && S_ISDIR(st.st_mode)));
        FUZZ_CHECK(no_temporaries(bits));
        remove_tree(bits);
    }

    FUZZ_CHECK(no_temporaries(dir) && no_temporaries(out));
    if (failed) {
        // All or nothing: the scratch folder and the output folder as they were.
        FUZZ_CHECK(listing(dir) == before);
        FUZZ_CHECK(listing(out) == before_out);
    } else if (mode >= 2 && mode != 5 && mode != 7) {
        struct stat st;
        FUZZ_CHECK(stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        if (existing) FUZZ_CHECK(listing(out).at("keep.wav") == kEarlier);
    }
    remove_tree(out);
    unlink(mix.c_str());
    unlink((dir + "/one.wav").c_str());
    unlink(picture.c_str());
    unlink(page.c_str());
    unlink(in.c_str());
    return 0;
}
