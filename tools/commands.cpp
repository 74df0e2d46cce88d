#include "tools/commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "tools/codec_handles.h"
#include "tools/coded_stream.h"
#include "tools/comparison.h"
#include "tools/progress.h"
#include "tools/tool_error.h"

namespace g729::tool {

namespace {

enum class role { audio_in, audio_out, coded };

bool fits(file_format format, role r) {
    switch (r) {
    case role::audio_in: return format == file_format::raw || format == file_format::wav || format == file_format::sndfile;
    case role::audio_out: return format == file_format::raw || format == file_format::wav;
    case role::coded: return format == file_format::g729 || format == file_format::bit;
    }
    return false;
}

const char* expected(role r) {
    switch (r) {
    case role::audio_in: return ".wav (or another audio file libsndfile reads), .raw or .sln";
    case role::audio_out: return ".wav, .raw or .sln";
    case role::coded: return ".g729 or .bit";
    }
    return "";
}

const char* expected_std(role r) { return r == role::coded ? "g729 or bit" : "raw or wav"; }

// The format of one operand: its extension, or for "-" the --format given
// for it (the first one for IN, the last one for OUT).
file_format resolve(const operand& op, role r, bool is_input, const command_options& options, const char* command) {
    if (op.is_std()) {
        const std::vector<file_format>& f = options.std_formats;
        if (f.empty())
            throw usage_error(std::string("'-' as ") + (is_input ? "IN" : "OUT") + " of " + command + " needs --format " +
                              expected_std(r));
        const file_format format = is_input ? f.front() : f.back();
        if (!fits(format, r))
            throw usage_error(std::string("--format ") + format_name(format) + " does not fit '-' as " +
                              (is_input ? "IN" : "OUT") + " of " + command + " (" + expected_std(r) + ")");
        return format;
    }
    const file_format format = format_from_extension(op.path);
    if (format == file_format::unknown)
        throw tool_error(op.path, std::string("unknown extension; ") + command + " " + (is_input ? "reads " : "writes ") +
                                      expected(r));
    if (!fits(format, r))
        throw tool_error(op.path, std::string("wrong kind of file; ") + command + " " + (is_input ? "reads " : "writes ") +
                                      expected(r));
    return format;
}

void check_format_count(const command_options& options, int std_operands) {
    const int given = int(options.std_formats.size());
    if (given == 0) return;
    if (std_operands == 0) throw usage_error("--format applies to '-' only, and no operand is '-'");
    if (given > std_operands) throw usage_error("--format given more often than '-' appears");
}

std::string describe(const stream_fault& fault, file_format format) {
    if (format == file_format::g729)
        return "malformed at byte offset " + std::to_string(fault.byte_offset) + ": " + fault.problem;
    return "malformed at frame " + std::to_string(fault.frame) + " (byte offset " + std::to_string(fault.byte_offset) +
           "): " + fault.problem;
}

coded_stream read_coded(const operand& in, file_format format) {
    const std::vector<uint8_t> bytes = read_whole(in);
    return format == file_format::g729 ? read_g729(bytes.data(), bytes.size()) : read_bit(bytes.data(), bytes.size());
}

coded_stream read_coded_or_fail(const operand& in, file_format format) {
    coded_stream stream = read_coded(in, format);
    if (stream.fault) throw tool_error(input_name(in), describe(*stream.fault, format));
    return stream;
}

std::string plural(std::size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

// Real speech fails the first pitch index's parity check on a few frames at
// most; bytes cut into frames at the wrong places fail it on about half. A
// .g729 with a SID frame in mid-stream is read that way from the SID on.
bool probably_misaligned(const stream_counts& counts) {
    return counts.parity_errors >= 2 && counts.parity_errors * 10 > counts.speech;
}

std::string misaligned_text(const stream_counts& counts) {
    return "probably misaligned or holding SID frames in mid-stream: " + std::to_string(counts.parity_errors) + " of " +
           plural(counts.speech, "speech frame", "speech frames") +
           " fail the pitch parity check (.g729 cannot mark where a 2-byte SID frame sits; a .bit file or the packet "
           "capture keeps frame boundaries)";
}

void clipping_notice(reporter& report, const operand& in, const audio_source& source) {
    if (source.clipped() > 0)
        report.notice(input_name(in), plural(source.clipped(), "sample", "samples") + " beyond the 16-bit range saturated");
}

std::string decibels(double db) {
    if (std::isinf(db)) return "inf dB (identical)";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f dB", db);
    return text;
}

} // namespace

int run_encode(const operand& in, const operand& out, const command_options& options) {
    check_format_count(options, int(in.is_std()) + int(out.is_std()));
    const file_format in_format = resolve(in, role::audio_in, true, options, "encode");
    const file_format out_format = resolve(out, role::coded, false, options, "encode");
    reporter report(options.quiet, "encode");

    audio_source source(in, in_format);
    if (!source.conversion().empty()) report.notice(input_name(in), source.conversion());
    output_file target(out);
    const encoder_handle encoder = make_encoder();

    std::size_t frames = 0;
    int16_t block[kFrame];
    std::vector<uint8_t> serial;
    for (;;) {
        const std::size_t n = source.read(block, kFrame);
        if (n == 0) break;
        // The last, partial frame is completed with silence.
        std::fill(block + n, block + kFrame, int16_t(0));
        uint8_t frame[kSpeechFrameBytes];
        g729a_encode(encoder.get(), block, kFrame, frame, sizeof frame);
        if (out_format == file_format::bit) {
            serial.clear();
            append_bit_frame(serial, speech_frame(frame));
            target.write(serial.data(), serial.size());
        } else {
            target.write(frame, kSpeechFrameBytes);
        }
        report.progress(source.fraction_done(), ++frames);
        if (n < std::size_t(kFrame)) break;
    }
    clipping_notice(report, in, source);
    target.commit();
    report.summary(frames);
    return 0;
}

int run_decode(const operand& in, const operand& out, const command_options& options) {
    check_format_count(options, int(in.is_std()) + int(out.is_std()));
    const file_format in_format = resolve(in, role::coded, true, options, "decode");
    const file_format out_format = resolve(out, role::audio_out, false, options, "decode");
    reporter report(options.quiet, "decode");

    // A .g729 whose last frame is cut short still holds every frame before
    // it; those are decoded, with a warning, unless --strict or there are none.
    const coded_stream stream = in_format == file_format::g729 && !options.strict ? read_coded(in, in_format)
                                                                                  : read_coded_or_fail(in, in_format);
    if (stream.fault && stream.frames.empty()) throw tool_error(input_name(in), describe(*stream.fault, in_format));
    output_file target(out);
    audio_sink sink(target, out_format);
    const decoder_handle decoder = make_decoder();

    std::size_t frames = 0;
    int16_t samples[kFrame];
    for (const coded_frame& frame : stream.frames) {
        // A frame that was not transmitted, or (unless asked otherwise) one
        // marked bad, is decoded as missing: the decoder fills its 10 ms from
        // what came before, and everything after it stays on time.
        const bool missing = frame.kind == frame_kind::untransmitted || (frame.bad && !options.decode_bad_frames);
        if (missing)
            g729a_decode(decoder.get(), nullptr, 0, samples, kFrame);
        else
            g729a_decode(decoder.get(), frame.bytes.data(), std::size_t(frame.size()), samples, kFrame);
        sink.write(samples, kFrame);
        ++frames;
        report.progress(double(frames) / double(stream.frames.size()), frames);
    }
    const stream_counts counts = count_frames(stream.frames);
    if (counts.bad > 0)
        report.notice(input_name(in), plural(counts.bad, "frame", "frames") +
                                          (options.decode_bad_frames ? " marked bad, decoded as received"
                                                                     : " marked bad, concealed as missing"));
    if (counts.untransmitted > 0)
        report.notice(input_name(in), plural(counts.untransmitted, "frame", "frames") + " not transmitted, decoded as missing");
    if (in_format == file_format::g729 && probably_misaligned(counts))
        report.notice(input_name(in), misaligned_text(counts));
    if (stream.fault)
        report.notice(input_name(in), describe(*stream.fault, in_format) + "; decoded the " +
                                          plural(stream.frames.size(), "complete frame", "complete frames") + " before it");
    sink.finish();
    target.commit();
    report.summary(frames);
    return 0;
}

int run_roundtrip(const operand& in, const operand& out, const command_options& options) {
    check_format_count(options, int(in.is_std()) + int(out.is_std()));
    const file_format in_format = resolve(in, role::audio_in, true, options, "roundtrip");
    const file_format out_format = resolve(out, role::audio_out, false, options, "roundtrip");
    reporter report(options.quiet, "roundtrip");

    audio_source source(in, in_format);
    if (!source.conversion().empty()) report.notice(input_name(in), source.conversion());
    output_file target(out);
    audio_sink sink(target, out_format);
    const encoder_handle encoder = make_encoder();
    const decoder_handle decoder = make_decoder();
    aligned_comparison comparison;

    std::size_t frames = 0;
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
        report.progress(source.fraction_done(), ++frames);
        if (n < std::size_t(kFrame)) break;
    }
    clipping_notice(report, in, source);
    sink.finish();
    target.commit();

    // The decoded audio may be on standard output; the figures then go to
    // standard error so that they do not corrupt it.
    std::FILE* text = out.is_std() ? stderr : stdout;
    const comparison_result r = comparison.result();
    std::fprintf(text, "compared:         %zu samples (output delayed by %d samples)\n", r.samples, kCodecDelay);
    std::fprintf(text, "SNR:              %s\n", r.snr_defined ? decibels(r.snr_db).c_str() : "n/a (silent input)");
    if (r.segments > 0)
        std::fprintf(text, "segmental SNR:    %s over %s\n", decibels(r.segmental_snr_db).c_str(),
                     plural(r.segments, "segment", "segments").c_str());
    else
        std::fprintf(text, "segmental SNR:    n/a (no segment above %.0f dBFS)\n", kSilentSegmentDb);
    std::fprintf(text, "level difference: %s\n",
                 r.level_defined ? decibels(r.level_difference_db).c_str() : "n/a (silent input or output)");
    std::fflush(text);
    report.summary(frames);
    return 0;
}

int run_info(const operand& in, const command_options& options) {
    check_format_count(options, int(in.is_std()));
    const file_format format = resolve(in, role::coded, true, options, "info");
    reporter report(options.quiet, "info");

    const coded_stream stream = read_coded(in, format);
    const stream_counts counts = count_frames(stream.frames);
    std::printf("file:                 %s\n", input_name(in).c_str());
    std::printf("format:               %s\n", format == file_format::g729 ? ".g729 (frames back to back)" : ".bit (serial bitstream)");
    std::printf("frames:               %zu\n", counts.frames);
    std::printf("speech frames:        %zu\n", counts.speech);
    std::printf("SID frames:           %zu\n", counts.sid);
    std::printf("untransmitted frames: %zu\n", counts.untransmitted);
    std::printf("bad frames:           %zu\n", counts.bad);
    std::printf("pitch parity errors:  %zu\n", counts.parity_errors);
    // Untransmitted and bad frames are decoded as missing: every frame is 10 ms.
    const double duration = double(counts.frames) * kFrame / kCodecRate;
    std::printf("duration:             %.2f s\n", duration);
    std::printf("malformed:            %s\n", stream.fault ? describe(*stream.fault, format).c_str() : "no");
    if (format == file_format::g729 && probably_misaligned(counts))
        std::printf("warning:              %s\n", misaligned_text(counts).c_str());
    std::fflush(stdout);
    if (stream.fault) throw tool_error(input_name(in), describe(*stream.fault, format));
    report.summary(counts.frames, duration);
    return 0;
}

int run_convert(const operand& in, const operand& out, const command_options& options) {
    check_format_count(options, int(in.is_std()) + int(out.is_std()));
    const file_format in_format = resolve(in, role::coded, true, options, "convert");
    const file_format out_format = resolve(out, role::coded, false, options, "convert");
    reporter report(options.quiet, "convert");

    const coded_stream stream = read_coded_or_fail(in, in_format);
    const stream_counts counts = count_frames(stream.frames);
    std::vector<uint8_t> bytes;
    if (out_format == file_format::bit) {
        for (const coded_frame& frame : stream.frames) append_bit_frame(bytes, frame);
    } else {
        if (const auto sid = first_unstorable_in_g729(stream.frames))
            throw tool_error(input_name(in), "frame " + std::to_string(*sid) +
                                                 " is a SID frame followed by more frames; .g729 holds a SID frame only "
                                                 "at the end");
        for (const coded_frame& frame : stream.frames) append_g729_frame(bytes, frame);
        if (counts.untransmitted > 0)
            report.notice(input_name(in), plural(counts.untransmitted, "untransmitted frame", "untransmitted frames") +
                                              " left out (.g729 cannot mark them)");
        if (counts.bad > 0)
            report.notice(input_name(in), plural(counts.bad, "bad-frame mark", "bad-frame marks") +
                                              " lost (.g729 cannot carry them)");
    }
    output_file target(out);
    target.write(bytes.data(), bytes.size());
    target.commit();
    report.summary(counts.frames);
    return 0;
}

} // namespace g729::tool
