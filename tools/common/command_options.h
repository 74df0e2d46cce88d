// What a command is asked to do: the command line's options, parsed and
// checked once (tools/cli/options.cpp), read by every room below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>
#include <string>

namespace g729::tool {

// How decoded audio is written: asked with --rate and --float, obeyed by
// the audio sink.
struct sink_options {
    // Samples per second written (resampled from 8 kHz); 0: the format's
    // own rate, 8 kHz for any that has none.
    int rate = 0;
    bool floating = false; // 32-bit float samples where the format has them
    int channels = 1;      // interleaved channels written (2 for a capture's --mix)
};

// The receiver's jitter buffer a capture is played through (--jitter-buffer).
struct jitter_buffer_setting {
    bool adaptive = false;
    double delay_ms = 0.0; // fixed buffers: the delay; adaptive ones: the delay they start with
};

// One end of the window plot draws (--from, --to), as given: seconds from
// the start, or a time of the capture's clock (a time of day, or a date and
// time), UTC.
struct time_bound {
    enum class kind { offset, time_of_day, date_time };
    kind of = kind::offset;
    double seconds = 0.0; // from the start; since midnight; since 1970
    std::string text;     // as given, for messages
};

struct command_options {
    bool quiet = false;
    bool json = false;  // info: one JSON object instead of text (captures too)
    bool packet_table = false; // info on a capture: every packet of each stream (--packets)
    sink_options audio; // decode, roundtrip: --rate, --float
    unsigned jobs = 0;  // files worked on at once in a batch; 0: one per core
    bool batch = false; // set by run_batch: one of several files
    bool formats_given = false; // any -t / --format on the command line
    // -y, --force: roundtrip and convert may replace an existing OUT (which
    // is of the kind they read, so most likely a second input).
    bool force = false;
    // decode: frames a .bit file marks bad are decoded as received
    // (--bad-frames=decode) instead of being concealed.
    bool decode_bad_frames = false;
    // decode: input cut short (a .g729 whose last frame is incomplete, a
    // capture whose last packet is) is an error instead of a warning.
    bool strict = false;
    // encode: silence suppression (--dtx): SID frames and untransmitted
    // frames in the pauses; needs the .bit format.
    bool dtx = false;
    // Packet captures: payload types taken as G.729 besides 18 (--pt), the
    // one stream to decode or dump (--stream SSRC) and the stereo file of
    // both directions (--mix FILE).
    std::vector<int> payload_types;
    std::optional<uint32_t> stream;
    std::string mix;
    // Packet captures: the longest gap filled with missing frames
    // (--max-gap), the audio (--max-audio; 0: ten minutes and twenty times
    // the audio the packets carry) and the files one decode may write
    // (--max-files).
    std::size_t max_gap_seconds = 3600;
    std::size_t max_audio_seconds = 0;
    std::size_t max_files = 1000;
    // Packet captures: the receiver's jitter buffer to model (--jitter-buffer
    // MS or adaptive); none: what the sender sent, every packet played.
    std::optional<jitter_buffer_setting> jitter_buffer;
    // Packet captures: the one-way (mouth to ear) delay the E-model assumes
    // (--one-way-delay MS), in place of the one put together from the
    // packets, the codec, the buffer and RTCP's round trips.
    std::optional<double> one_way_delay_ms;
    // plot and report: the streams of a capture drawn in one picture or
    // shown in one page (--max-streams).
    std::size_t max_streams = 100;
    // report: the calls (--max-calls) and the packets listed in the tables
    // (--max-packets) of one page; a browser lays out a table of 200,000
    // rows (two directions of an hour's call) in seconds.
    std::size_t max_calls = 100;
    std::size_t max_packets = 400000;
    // plot: the window drawn (--from, --to); none: all of it.
    std::optional<time_bound> from, to;
};

} // namespace g729::tool
