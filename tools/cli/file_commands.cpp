#include "tools/cli/file_commands.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "audio/comparison.h"
#include "tools/common/codec_handles.h"
#include "tools/common/json.h"
#include "tools/common/output_file.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/audio_sink.h"
#include "tools/formats/audio_source.h"
#include "tools/formats/coded_input.h"
#include "tools/formats/frame_text.h"

namespace g729::tool {

namespace {

constexpr double kSecondsPerFrame = double(kFrame) / kCodecRate;

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

} // namespace

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
    // The decoder's output lags the input by the encoder's look-ahead.
    audio::aligned_comparison comparison(G729A_ENCODER_DELAY);

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

    const audio::comparison_result r = comparison.result();
    // In a batch, whose figures these are.
    std::string text = options.batch ? "file:             " + input_name(job.in) + "\n" : std::string();
    text += format_text("compared:         %zu samples (output delayed by %d samples)\n", r.samples, G729A_ENCODER_DELAY);
    text += "SNR:              " + (r.snr_defined ? decibels(r.snr_db) : std::string("n/a (silent input)")) + "\n";
    if (r.segments > 0)
        text += "segmental SNR:    " + decibels(r.segmental_snr_db) + " over " + plural(r.segments, "segment", "segments") + "\n";
    else
        text += format_text("segmental SNR:    n/a (no segment above %.0f dBFS)\n", audio::kSilentSegmentDb);
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
        text = block_separator() + text;
    }
    print_block(text);
    if (fault) throw tool_error(input_name(job.in), describe(*fault, format));
    if (counts.frames == 0) report.warning(input_name(job.in), "holds no frames");
    return file_result{counts.frames, decoded};
}


file_result dump_file(const file_job& job, const command_options& options, reporter&) {
    const file_format format = job.in_format.kind;
    coded_input input(job.in, format);
    const decoder_handle decoder = make_decoder();
    write_standard_output(dump_header(input_name(job.in)));
    file_result result;
    coded_frame frame;
    int16_t pcm[kFrame];
    while (input.reader().next(frame)) {
        const std::size_t index = input.reader().frames() - 1;
        std::string line = frame_line_start(index) + frame_text(frame);
        if (frame.bad) line += " bad";
        if (decode_coded_frame(decoder.get(), frame, pcm, options)) line += " concealed";
        line += " energy=" + energy_text(pcm);
        ++result.frames;
        line += "\n";
        write_standard_output(line);
    }
    flush_standard_output();
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

} // namespace g729::tool
