#include "tools/cli/commands.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include <sys/stat.h>

#include "tools/cli/codec_handles.h"
#include "tools/cli/comparison.h"
#include "tools/cli/json.h"
#include "tools/cli/tool_error.h"

namespace g729::tool {

namespace {

constexpr double kSecondsPerFrame = double(kFrame) / kCodecRate;

std::mutex stdout_lines; // a batch's per-file results on standard output
// Whether info has printed a text block yet: the next stands apart from it
// by a blank line. Its JSON is one object a line; dump's lines describe
// themselves.
bool info_block_printed = false;

std::string where(const stream_fault& fault, file_format format) {
    if (format == file_format::g729)
        return "at byte offset " + std::to_string(fault.byte_offset) + ": " + fault.problem;
    return "at frame " + std::to_string(fault.frame) + " (byte offset " + std::to_string(fault.byte_offset) + "): " +
           fault.problem;
}

void clipping_notice(reporter& report, const std::string& name, std::size_t clipped, const char* where_from) {
    if (clipped > 0) report.notice(name, plural(clipped, "sample", "samples") + " beyond the 16-bit range saturated" + where_from);
}

std::string decibels(double db) {
    if (std::isinf(db)) return "inf dB (identical)";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f dB", db);
    return text;
}

// Prints a block of text on standard output at once; throws when standard
// output refuses it.
void print_block(const std::string& text, std::FILE* stream = stdout) {
    const std::lock_guard<std::mutex> lock(stdout_lines);
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0)
        throw tool_error(stream == stdout ? "standard output" : "standard error", std::string("cannot write: ") + std::strerror(errno));
}

std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format_text(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

} // namespace

std::string describe(const stream_fault& fault, file_format format) { return "malformed " + where(fault, format); }

bool decode_coded_frame(g729a_decoder* decoder, const coded_frame& frame, int16_t* pcm, const command_options& options) {
    const bool missing = frame.kind == frame_kind::untransmitted || (frame.bad && !options.decode_bad_frames);
    if (missing)
        g729a_decode(decoder, nullptr, 0, pcm, kFrame);
    else
        g729a_decode(decoder, frame.bytes.data(), std::size_t(frame.size()), pcm, kFrame);
    return missing;
}

bool probably_misaligned(const stream_counts& counts) {
    return counts.parity_errors >= 2 && counts.parity_errors * 10 > counts.speech;
}

std::string misaligned_text(const stream_counts& counts) {
    return "probably misaligned or holding SID frames in mid-stream: " + std::to_string(counts.parity_errors) + " of " +
           plural(counts.speech, "speech frame", "speech frames") +
           " fail the pitch parity check (.g729 cannot mark where a 2-byte SID frame sits; a .bit file or the packet "
           "capture keeps frame boundaries)";
}

coded_input::coded_input(const operand& in, file_format format)
    : file_(open_input(in)), name_(input_name(in)),
      reader_(
          [this](uint8_t* data, std::size_t size) {
              const std::size_t n = std::fread(data, 1, size, file_);
              if (n < size && std::ferror(file_)) throw tool_error(name_, std::string("cannot read: ") + std::strerror(errno));
              return n;
          },
          format == file_format::bit) {
    struct stat st;
    if (fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
}

coded_input::~coded_input() {
    if (file_ != stdin) std::fclose(file_);
}

double coded_input::fraction_done() const {
    return size_ > 0 ? double(reader_.bytes_read()) / double(size_) : -1.0;
}

// --- the commands ------------------------------------------------------------

file_result encode_file(const file_job& job, const command_options& options, reporter& report) {
    // .g729 has no framing of its own: it cannot mark a frame as not sent,
    // and a SID frame anywhere but at the end would be misread. Refused
    // before anything is read or written.
    if (options.dtx && job.out_format.kind != file_format::bit)
        throw tool_error(output_name(job.out), "--dtx needs the .bit format: .g729 cannot hold SID frames between "
                                               "speech frames nor frames that are not sent");
    audio_source source(job.in, job.in_format);
    if (!source.conversion().empty()) report.notice(input_name(job.in), source.conversion());
    output_file target(job.out);
    const encoder_handle encoder = make_encoder();
    if (options.dtx) g729a_encoder_set_dtx(encoder.get(), 1);

    file_result result;
    int16_t block[kFrame];
    std::vector<uint8_t> serial;
    for (;;) {
        const std::size_t n = source.read(block, kFrame);
        if (n == 0) break;
        // The last, partial frame is completed with silence.
        std::fill(block + n, block + kFrame, int16_t(0));
        uint8_t frame[kSpeechFrameBytes];
        const int length = g729a_encode(encoder.get(), block, kFrame, frame, sizeof frame);
        if (job.out_format.kind == file_format::bit) {
            serial.clear();
            append_bit_frame(serial, encoded_frame(frame, length));
            target.write(serial.data(), serial.size());
        } else {
            target.write(frame, kSpeechFrameBytes);
        }
        report.progress(source.fraction_done(), ++result.frames);
        if (n < std::size_t(kFrame)) break;
    }
    clipping_notice(report, input_name(job.in), source.clipped(), "");
    if (result.frames == 0) report.warning(input_name(job.in), "holds no audio; " + output_name(job.out) + " is empty");
    target.commit();
    result.audio_seconds = double(result.frames) * kSecondsPerFrame;
    return result;
}

file_result decode_file(const file_job& job, const command_options& options, reporter& report) {
    coded_input input(job.in, job.in_format.kind);
    output_file target(job.out);
    audio_sink sink(target, job.out_format, options.audio);
    const decoder_handle decoder = make_decoder();

    file_result result;
    stream_counts counts;
    coded_frame frame;
    int16_t samples[kFrame];
    while (input.reader().next(frame)) {
        count_frame(counts, frame);
        decode_coded_frame(decoder.get(), frame, samples, options);
        sink.write(samples, kFrame);
        report.progress(input.fraction_done(), ++result.frames);
    }
    const file_format format = job.in_format.kind;
    // A .g729 whose last frame is cut short still holds every frame before
    // it; those are kept, with a notice, unless --strict or there are none.
    // Any other fault keeps nothing: the temporary file goes.
    if (const auto& fault = input.reader().fault()) {
        if (format != file_format::g729 || options.strict || result.frames == 0)
            throw tool_error(input_name(job.in), describe(*fault, format));
        report.notice(input_name(job.in), describe(*fault, format) + "; decoded the " +
                                              plural(result.frames, "complete frame", "complete frames") + " before it");
    }
    if (counts.bad > 0)
        report.notice(input_name(job.in), plural(counts.bad, "frame", "frames") +
                                              (options.decode_bad_frames ? " marked bad, decoded as received"
                                                                         : " marked bad, concealed as missing"));
    if (counts.untransmitted > 0)
        report.notice(input_name(job.in), plural(counts.untransmitted, "frame", "frames") + " not transmitted, decoded as missing");
    if (format == file_format::g729 && probably_misaligned(counts)) report.notice(input_name(job.in), misaligned_text(counts));
    if (result.frames == 0) report.warning(input_name(job.in), "holds no audio; " + output_name(job.out) + " has none either");
    sink.finish();
    clipping_notice(report, output_name(job.out), sink.clipped(), " by the resampler");
    target.commit();
    result.audio_seconds = double(result.frames) * kSecondsPerFrame;
    return result;
}

file_result roundtrip_file(const file_job& job, const command_options& options, reporter& report) {
    audio_source source(job.in, job.in_format);
    if (!source.conversion().empty()) report.notice(input_name(job.in), source.conversion());
    output_file target(job.out);
    audio_sink sink(target, job.out_format, options.audio);
    const encoder_handle encoder = make_encoder();
    const decoder_handle decoder = make_decoder();
    aligned_comparison comparison;

    file_result result;
    int16_t block[kFrame];
    int16_t decoded[kFrame];
    for (;;) {
        const std::size_t n = source.read(block, kFrame);
        if (n == 0) break;
        // Only real input is compared; the padding of the last frame is not.
        comparison.add_input(block, n);
        std::fill(block + n, block + kFrame, int16_t(0));
        uint8_t frame[kSpeechFrameBytes];
        const int length = g729a_encode(encoder.get(), block, kFrame, frame, sizeof frame);
        g729a_decode(decoder.get(), frame, std::size_t(length), decoded, kFrame);
        comparison.add_output(decoded, kFrame);
        sink.write(decoded, kFrame);
        report.progress(source.fraction_done(), ++result.frames);
        if (n < std::size_t(kFrame)) break;
    }
    clipping_notice(report, input_name(job.in), source.clipped(), "");
    if (result.frames == 0) report.warning(input_name(job.in), "holds no audio; nothing to compare");
    sink.finish();
    target.commit();

    const comparison_result r = comparison.result();
    // In a batch, whose figures these are.
    std::string text = options.batch ? "file:             " + input_name(job.in) + "\n" : std::string();
    text += format_text("compared:         %zu samples (output delayed by %d samples)\n", r.samples, kCodecDelay);
    text += "SNR:              " + (r.snr_defined ? decibels(r.snr_db) : std::string("n/a (silent input)")) + "\n";
    if (r.segments > 0)
        text += "segmental SNR:    " + decibels(r.segmental_snr_db) + " over " + plural(r.segments, "segment", "segments") + "\n";
    else
        text += format_text("segmental SNR:    n/a (no segment above %.0f dBFS)\n", kSilentSegmentDb);
    text += "level difference: " + (r.level_defined ? decibels(r.level_difference_db) : std::string("n/a (silent input or output)")) + "\n";
    // The decoded audio may be on standard output; the figures then go to
    // standard error so that they do not corrupt it.
    print_block(text, job.out.is_std() ? stderr : stdout);
    result.audio_seconds = double(result.frames) * kSecondsPerFrame;
    return result;
}

file_result info_file(const file_job& job, const command_options& options, reporter& report) {
    const file_format format = job.in_format.kind;
    coded_input input(job.in, format);
    stream_counts counts;
    std::size_t bits = 0;
    coded_frame frame;
    while (input.reader().next(frame)) {
        count_frame(counts, frame);
        bits += std::size_t(frame.kind == frame_kind::untransmitted ? 0 : frame.bits);
    }
    const auto& fault = input.reader().fault();
    // Untransmitted and bad frames are decoded as missing: every frame is 10 ms.
    const double span = double(counts.frames) * kSecondsPerFrame;
    const double decoded = span;
    const bool misaligned = format == file_format::g729 && probably_misaligned(counts);
    const double bit_rate = span > 0.0 ? double(bits) / span : 0.0;
    const double parity_rate = counts.speech > 0 ? double(counts.parity_errors) / double(counts.speech) : 0.0;
    const std::string format_text_name = format == file_format::g729 ? ".g729 (frames back to back)" : ".bit (serial bitstream)";

    std::string text;
    if (options.json) {
        text = "{\"file\": " + json_string(input_name(job.in)) + ", \"format\": \"" + format_name(format) + "\"";
        text += ", \"frames\": " + std::to_string(counts.frames);
        text += ", \"frame_types\": {\"speech\": " + std::to_string(counts.speech) + ", \"sid\": " + std::to_string(counts.sid) +
                ", \"untransmitted\": " + std::to_string(counts.untransmitted) + "}";
        auto fraction = [&](std::size_t n) {
            return format_text("%.4f", counts.frames > 0 ? double(n) / double(counts.frames) : 0.0);
        };
        text += ", \"frame_shares\": {\"speech\": " + fraction(counts.speech) + ", \"sid\": " + fraction(counts.sid) +
                ", \"untransmitted\": " + fraction(counts.untransmitted) + "}";
        text += ", \"speech_frames\": " + std::to_string(counts.speech) + ", \"sid_frames\": " + std::to_string(counts.sid) +
                ", \"untransmitted_frames\": " + std::to_string(counts.untransmitted);
        text += ", \"bad_frames\": " + std::to_string(counts.bad) + ", \"pitch_parity_errors\": " + std::to_string(counts.parity_errors);
        text += format_text(", \"parity_error_rate\": %.6g, \"duration_seconds\": %.2f, \"bit_rate\": %.1f", parity_rate,
                            decoded, bit_rate);
        text += std::string(", \"probably_misaligned\": ") + (misaligned ? "true" : "false");
        if (fault)
            text += ", \"malformed\": {\"frame\": " + std::to_string(fault->frame) + ", \"byte_offset\": " +
                    std::to_string(fault->byte_offset) + ", \"problem\": " + json_string(fault->problem) + "}";
        else
            text += ", \"malformed\": null";
        text += "}\n";
    } else {
        text = "file:                 " + input_name(job.in) + "\n";
        text += "format:               " + format_text_name + "\n";
        text += "frames:               " + std::to_string(counts.frames) + "\n";
        // With silence suppression the shares say how much was not sent.
        auto share = [&](std::size_t n) {
            return counts.frames > 0 ? format_text(" (%.1f%%)", 100.0 * double(n) / double(counts.frames)) : std::string();
        };
        text += "speech frames:        " + std::to_string(counts.speech) + share(counts.speech) + "\n";
        text += "SID frames:           " + std::to_string(counts.sid) + share(counts.sid) + "\n";
        text += "untransmitted frames: " + std::to_string(counts.untransmitted) + share(counts.untransmitted) + "\n";
        text += "bad frames:           " + std::to_string(counts.bad) + "\n";
        text += "pitch parity errors:  " + std::to_string(counts.parity_errors) +
                (counts.speech > 0 ? format_text(" (%.2f%% of speech frames)", 100.0 * parity_rate) : std::string()) + "\n";
        text += format_text("duration:             %.2f s\n", decoded);
        text += format_text("bit rate:             %.0f bit/s\n", bit_rate);
        text += "malformed:            " + (fault ? where(*fault, format) : std::string("no")) + "\n";
        if (misaligned) text += "warning:              " + misaligned_text(counts) + "\n";
        if (info_block_printed) text = "\n" + text;
        info_block_printed = true;
    }
    print_block(text);
    if (fault) throw tool_error(input_name(job.in), describe(*fault, format));
    if (counts.frames == 0) report.warning(input_name(job.in), "holds no frames");
    return file_result{counts.frames, decoded};
}

namespace {

std::string lag_text(int lag, int fraction) {
    if (fraction == 0) return std::to_string(lag);
    return std::to_string(lag) + (fraction > 0 ? "+1/3" : "-1/3");
}

} // namespace

std::string frame_text(const coded_frame& frame) {
    g729a_frame_info info{};
    if (frame.kind != frame_kind::untransmitted) g729a_frame_inspect(frame.bytes.data(), std::size_t(frame.size()), &info);
    switch (frame.kind) {
    case frame_kind::speech:
        return format_text("speech lsp=%d,%d,%d,%d lag=%s,%s parity=%s gain=%d/%d,%d/%d", info.lsp_predictor, info.lsp_first,
                           info.lsp_second_low, info.lsp_second_high, lag_text(info.pitch_lag[0], info.pitch_fraction[0]).c_str(),
                           lag_text(info.pitch_lag[1], info.pitch_fraction[1]).c_str(), info.parity_error ? "error" : "ok",
                           info.gain_first[0], info.gain_second[0], info.gain_first[1], info.gain_second[1]);
    case frame_kind::sid:
        return format_text("sid lsf=%d,%d,%d energy_index=%d", info.sid_predictor, info.sid_lsf_first, info.sid_lsf_second,
                           info.sid_energy);
    case frame_kind::untransmitted: break;
    }
    return "untransmitted";
}

std::string energy_text(const int16_t* pcm) {
    double energy = 0.0;
    for (int i = 0; i < kFrame; ++i) energy += double(pcm[i]) * double(pcm[i]);
    if (energy == 0.0) return "-inf";
    return format_text("%.1f", 10.0 * std::log10(energy / kFrame / (32768.0 * 32768.0)));
}

std::string dump_header(const std::string& name) {
    return "# " + name +
           ": one line per 10 ms frame: index, start time (s), type, then the coded parameters\n"
           "# speech: lsp=L0,L1,L2,L3 lag=T1,T2 (fractions in thirds) parity=ok|error gain=GA1/GB1,GA2/GB2\n"
           "# sid: lsf=predictor,first,second energy_index=E; then bad, concealed (decoded as missing)\n"
           "# and for every frame the energy of its decoded audio, dBFS\n";
}

file_result dump_file(const file_job& job, const command_options& options, reporter&) {
    const file_format format = job.in_format.kind;
    coded_input input(job.in, format);
    const decoder_handle decoder = make_decoder();
    std::FILE* out = stdout;
    std::fputs(dump_header(input_name(job.in)).c_str(), out);
    file_result result;
    coded_frame frame;
    int16_t pcm[kFrame];
    while (input.reader().next(frame)) {
        const std::size_t index = input.reader().frames() - 1;
        std::string line = format_text("%6zu %9.2f ", index, double(index) * kSecondsPerFrame) + frame_text(frame);
        if (frame.bad) line += " bad";
        if (decode_coded_frame(decoder.get(), frame, pcm, options)) line += " concealed";
        line += " energy=" + energy_text(pcm);
        ++result.frames;
        line += "\n";
        if (std::fputs(line.c_str(), out) < 0) throw tool_error("standard output", std::string("cannot write: ") + std::strerror(errno));
    }
    if (std::fflush(out) != 0) throw tool_error("standard output", std::string("cannot write: ") + std::strerror(errno));
    if (const auto& fault = input.reader().fault()) throw tool_error(input_name(job.in), describe(*fault, format));
    result.audio_seconds = double(result.frames) * kSecondsPerFrame;
    return result;
}

file_result convert_file(const file_job& job, const command_options&, reporter& report) {
    coded_input input(job.in, job.in_format.kind);
    output_file target(job.out);
    const bool to_bit = job.out_format.kind == file_format::bit;
    stream_counts counts;
    std::vector<uint8_t> bytes;
    coded_frame frame;
    // .g729 holds a SID frame only at its end: one is held back until the
    // next transmitted frame shows whether anything follows it.
    std::optional<std::size_t> sid_at;
    while (input.reader().next(frame)) {
        const std::size_t index = input.reader().frames() - 1;
        count_frame(counts, frame);
        bytes.clear();
        if (to_bit) {
            append_bit_frame(bytes, frame);
        } else {
            if (frame.kind == frame_kind::untransmitted) continue;
            if (sid_at)
                throw tool_error(input_name(job.in), "frame " + std::to_string(*sid_at) +
                                                         " is a SID frame followed by more frames; .g729 holds a SID frame "
                                                         "only at the end");
            if (frame.kind == frame_kind::sid) sid_at = index;
            append_g729_frame(bytes, frame);
        }
        target.write(bytes.data(), bytes.size());
    }
    if (const auto& fault = input.reader().fault()) throw tool_error(input_name(job.in), describe(*fault, job.in_format.kind));
    if (!to_bit) {
        if (counts.untransmitted > 0)
            report.notice(input_name(job.in), plural(counts.untransmitted, "untransmitted frame", "untransmitted frames") +
                                                  " left out (.g729 cannot mark them)");
        if (counts.bad > 0)
            report.notice(input_name(job.in), plural(counts.bad, "bad-frame mark", "bad-frame marks") + " lost (.g729 cannot carry them)");
    }
    if (counts.frames == 0) report.warning(input_name(job.in), "holds no frames; " + output_name(job.out) + " is empty");
    target.commit();
    return file_result{counts.frames, double(counts.frames) * kSecondsPerFrame};
}

// --- running them -------------------------------------------------------------

namespace {

bool timed(const std::string& command) { return command != "info" && command != "convert"; }

} // namespace

int run_single(const std::string& command, file_command work, const file_job& job, const command_options& options) {
    reporter report(options.quiet || (command == "info" && options.json) || command == "dump", command);
    const file_result r = work(job, options, report);
    report.summary(r.frames, r.audio_seconds, timed(command));
    return 0;
}

void separate_blocks(const std::string& command, const command_options& options) {
    if (command != "info" || options.json) return;
    if (info_block_printed) print_block("\n");
    info_block_printed = true;
}

int run_one_of_several(const std::string& command, file_command work, const file_job& job, const command_options& options) {
    reporter report(options.quiet || (command == "info" && options.json) || command == "dump", command, false);
    std::string problem = job.problem;
    if (problem.empty()) {
        try {
            const file_result r = work(job, options, report);
            report.line(command + ": " + input_name(job.in) + ": " + plural(r.frames, "frame", "frames") +
                        format_text(", %.2f s of audio", r.audio_seconds));
            return 0;
        } catch (const tool_error& e) {
            problem = e.file + ": " + e.what();
        } catch (const std::bad_alloc&) {
            problem = input_name(job.in) + ": out of memory";
        }
    }
    report.failure(problem);
    return 1;
}

int run_batch(const std::string& command, file_command work, const std::vector<file_job>& jobs, const command_options& options) {
    reporter overall(options.quiet, command, false);
    unsigned workers = options.jobs > 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min<unsigned>(workers, unsigned(jobs.size()));

    std::vector<std::string> failures(jobs.size());
    std::vector<char> failed(jobs.size(), 0);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> total_frames{0};
    std::mutex seconds_lock;
    double total_seconds = 0.0;

    command_options batch_options = options;
    batch_options.batch = true;
    auto worker = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= jobs.size()) return;
            const file_job& job = jobs[i];
            reporter report(options.quiet, command, false);
            std::string problem = job.problem;
            if (problem.empty()) {
                try {
                    const file_result r = work(job, batch_options, report);
                    total_frames += r.frames;
                    {
                        const std::lock_guard<std::mutex> lock(seconds_lock);
                        total_seconds += r.audio_seconds;
                    }
                    report.line(command + ": " + input_name(job.in) + " -> " + output_name(job.out) + ": " +
                                plural(r.frames, "frame", "frames") + format_text(", %.2f s of audio", r.audio_seconds));
                    continue;
                } catch (const tool_error& e) {
                    problem = e.file + ": " + e.what();
                } catch (const usage_error& e) {
                    problem = input_name(job.in) + ": " + e.what();
                } catch (const std::bad_alloc&) {
                    problem = input_name(job.in) + ": out of memory";
                }
            }
            failed[i] = 1;
            failures[i] = problem;
            report.failure(problem);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; ++t) threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads) t.join();

    const std::size_t failed_count = std::size_t(std::count(failed.begin(), failed.end(), 1));
    std::string summary = command + ": " + plural(jobs.size(), "file", "files") + ", " + std::to_string(jobs.size() - failed_count) +
                          " done, " + std::to_string(failed_count) + " failed; " + plural(total_frames, "frame", "frames") +
                          format_text(", %.2f s of audio in %.2f s on %s", total_seconds, overall.elapsed(),
                                      plural(workers, "thread", "threads").c_str());
    if (failed_count == 0) {
        overall.line(summary);
        return 0;
    }
    // Every failure again, together, where the eye lands last.
    std::string text = "g729a: " + summary + "\n";
    for (std::size_t i = 0; i < jobs.size(); ++i)
        if (failed[i]) text += "g729a:   failed: " + failures[i] + "\n";
    std::fputs(text.c_str(), stderr);
    return 1;
}

} // namespace g729::tool
