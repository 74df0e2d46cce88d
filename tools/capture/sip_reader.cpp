#include "tools/capture/sip_reader.h"

#include <osipparser2/osip_parser.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "tools/capture/call.h"
#include "tools/common/shared_library.h"
#include "tools/common/text.h"

namespace g729::tool {

namespace {

// libosip2's parser, loaded when the first SIP message is seen. The struct
// fields it fills are read directly, as its header lays them out.
#define G729A_OSIP_FUNCTIONS(F)                                                                              \
    F(parser_init) F(osip_message_init) F(osip_message_parse) F(osip_message_free) F(osip_list_get) \
    F(osip_uri_to_str) F(osip_uri_param_get_byname) F(osip_free_func) F(osip_trace_initialize_func)          \
    F(osip_trace_disable_level)
G729A_FUNCTION_TABLE(osip_functions, G729A_OSIP_FUNCTIONS);

const osip_functions& osip() {
    static const osip_functions functions = [] {
        osip_functions f(shared_library(G729A_LIBOSIPPARSER2_SONAME, "G729A_LIBOSIPPARSER2", "reading SIP signalling"));
        f.parser_init();
        // The parser reports what it refuses on standard output, in the
        // middle of info's text or JSON: its trace goes nowhere.
        f.osip_trace_initialize_func(END_TRACE_LEVEL, [](const char*, int, osip_trace_level_t, const char*, va_list) {});
        for (int level = TRACE_LEVEL0; level < END_TRACE_LEVEL; ++level)
            f.osip_trace_disable_level(static_cast<osip_trace_level_t>(level));
        return f;
    }();
    return functions;
}

// What the library allocated, freed as its osip_free does.
void osip_release(void* p) {
    if (!p) return;
    osip_free_func_t* release = *osip().osip_free_func;
    if (release)
        release(p);
    else
        std::free(p);
}

// A string from the parser, cut to kMaxSipText bytes.
std::string kept(const char* s) { return s ? std::string(s, strnlen(s, kMaxSipText)) : std::string(); }

bool starts_with(const uint8_t* data, std::size_t size, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return size >= n && std::memcmp(data, prefix, n) == 0;
}

std::string from_text(const osip_from_t* from) {
    if (!from) return "";
    std::string text;
    if (from->displayname) text = kept(from->displayname) + " ";
    char* uri = nullptr;
    if (from->url && osip().osip_uri_to_str(from->url, &uri) == 0 && uri) {
        text += "<" + kept(uri) + ">";
        osip_release(uri);
    }
    return text.substr(0, kMaxSipText);
}

std::string tag_of(const osip_from_t* from) {
    if (!from) return "";
    osip_uri_param_t* tag = nullptr;
    // The list is the library's; it only reads it.
    if (osip().osip_uri_param_get_byname(const_cast<osip_list_t*>(&from->gen_params), const_cast<char*>("tag"), &tag) != 0 || !tag)
        return "";
    return kept(tag->gvalue);
}

// The figures of a call, in ms and s, from two capture times; none when
// the later time comes first (a capture whose clock went back).
std::optional<double> ms_between(int64_t from, int64_t to) {
    if (to < from) return std::nullopt;
    return double(saturating_sub(to, from)) / 1e6;
}

} // namespace

// One message as the calls need it.
struct sip_reader::message {
    bool request = false;
    std::string method;
    int status = 0;
    std::string reason;
    std::string call_id;
    std::string from, to;
    std::string from_tag, to_tag;
    bool has_sdp = false;
    std::string sdp;
    std::vector<sdp_media> media;
};

std::size_t blank_line_bytes(const uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && (data[i] == '\r' || data[i] == '\n')) ++i;
    return i;
}

bool looks_like_sip(const uint8_t* data, std::size_t size) {
    const std::size_t start = blank_line_bytes(data, size);
    data += start;
    size -= start;
    // Most packets are RTP, whose first byte (version 2) is no letter.
    if (size == 0 || data[0] < 'A' || data[0] > 'Z') return false;
    if (starts_with(data, size, "SIP/2.0 ")) return true;
    // A request line: a method token, a URI, the version.
    std::size_t end = 0;
    const std::size_t limit = std::min<std::size_t>(size, 1024);
    while (end < limit && data[end] != '\r' && data[end] != '\n') ++end;
    if (end == limit || end < 12) return false;
    std::size_t i = 0;
    while (i < end && data[i] >= 'A' && data[i] <= 'Z') ++i;
    return i > 0 && data[i] == ' ' && std::memcmp(data + end - 8, " SIP/2.0", 8) == 0;
}

void sip_reader::read(uint64_t number, bool time_known, int64_t time_ns, const endpoint& source, const endpoint& destination,
                      const uint8_t* data, std::size_t size) {
    if (!time_known) {
        ++counts_.bad_time;
        return;
    }
    read_message(number, time_ns, source, destination, reinterpret_cast<const char*>(data), size);
}

bool sip_reader::read_tcp(uint64_t number, bool time_known, int64_t time_ns, const endpoint& source, const endpoint& destination,
                          const tcp_header& tcp, const uint8_t* data, std::size_t size, const sip_tcp_streams::message_fn& each) {
    const bool followed = tcp_.add(source, destination, tcp, data, size, [&](const uint8_t* message, std::size_t length) {
        read(number, time_known, time_ns, source, destination, message, length);
        if (each) each(message, length);
    });
    counts_.partial = tcp_.counts().partial;
    counts_.tcp_flows_dropped = tcp_.counts().flows_dropped;
    return followed;
}

void sip_reader::finish() {
    tcp_.finish();
    counts_.partial = tcp_.counts().partial;
    counts_.tcp_flows_dropped = tcp_.counts().flows_dropped;
}

void sip_reader::read_message(uint64_t number, int64_t time_ns, const endpoint& source, const endpoint& destination, const char* text,
                              std::size_t size) {
    const osip_functions& f = osip();
    osip_message_t* sip = nullptr;
    if (f.osip_message_init(&sip) != 0 || !sip) {
        ++counts_.unreadable;
        return;
    }
    message m;
    const bool parsed = f.osip_message_parse(sip, text, size) == 0;
    if (parsed) {
        m.request = sip->status_code == 0;
        m.status = sip->status_code;
        m.method = kept(m.request ? sip->sip_method : sip->cseq ? sip->cseq->method : nullptr);
        m.reason = kept(sip->reason_phrase);
        if (sip->call_id && sip->call_id->number)
            m.call_id = kept(sip->call_id->number) + (sip->call_id->host ? "@" + kept(sip->call_id->host) : "");
        m.call_id.resize(std::min(m.call_id.size(), kMaxSipText));
        m.from = from_text(sip->from);
        m.to = from_text(sip->to);
        m.from_tag = tag_of(sip->from);
        m.to_tag = tag_of(sip->to);
        // The first body that describes media (a multipart body may carry
        // others beside it).
        for (int i = 0; i < 4; ++i) {
            auto* body = static_cast<osip_body_t*>(f.osip_list_get(&sip->bodies, i));
            if (!body) break;
            if (!body->body) continue;
            std::vector<sdp_media> media = read_sdp_media(body->body, body->length);
            if (media.empty()) continue;
            m.has_sdp = true;
            m.sdp.assign(body->body, std::min(body->length, kMaxSdpBody));
            m.media = std::move(media);
            break;
        }
    }
    f.osip_message_free(sip);
    if (!parsed || (m.request && m.method.empty()) || (!m.request && (m.status < 100 || m.status > 699))) {
        ++counts_.unreadable;
        return;
    }
    ++counts_.messages;
    if (m.call_id.empty()) {
        ++counts_.without_call_id;
        return;
    }
    add(m, number, time_ns, source, destination);
}

void sip_reader::add(const message& m, uint64_t number, int64_t time_ns, const endpoint& source, const endpoint& destination) {
    auto found = by_call_id_.find(m.call_id);
    if (found == by_call_id_.end()) {
        // A call begins with an INVITE outside any dialog (no To tag): a
        // re-INVITE or a BYE of a call begun before the capture is no call
        // of its own.
        if (!(m.request && m.method == "INVITE" && m.to_tag.empty())) {
            ++counts_.outside_calls;
            return;
        }
        if (calls_.size() >= kMaxCalls) {
            ++counts_.calls_not_listed;
            return;
        }
        found = by_call_id_.emplace(m.call_id, calls_.size()).first;
        sip_call call;
        call.call_id = m.call_id;
        call.caller = m.from;
        call.callee = m.to;
        call.start_ns = time_ns;
        call.end = "no end seen";
        calls_.push_back(std::move(call));
        call_state state;
        state.caller_at = source;
        state.caller_tag = m.from_tag;
        states_.push_back(state);
    }
    sip_call& call = calls_[found->second];
    call_state& state = states_[found->second];

    // Who sent it: a request whose From tag is the caller's comes from the
    // caller, a response to one from the callee; without tags, by where
    // the first INVITE came from.
    bool from_caller = source == state.caller_at;
    if (!state.caller_tag.empty() && !m.from_tag.empty()) from_caller = (m.from_tag == state.caller_tag) == m.request;

    if (m.request && m.method == "INVITE") {
        if (!state.answered && state.error_end) {
            call.end = "no end seen";
            call.failed = state.error_end = false;
        }
    } else if (!m.request && m.method == "INVITE") {
        if (m.status >= 180 && m.status < 190 && !call.post_dial_delay_ms)
            call.post_dial_delay_ms = ms_between(call.start_ns, time_ns);
        if (m.status >= 200 && m.status < 300 && !state.answered) {
            state.answered = true;
            state.answered_ns = time_ns;
            call.setup_ms = ms_between(call.start_ns, time_ns);
            // A 200 that crossed a CANCEL: the call goes ahead.
            if (call.failed) {
                call.end = "no end seen";
                call.failed = state.error_end = false;
            }
        }
        if (m.status >= 300 && !state.answered && !state.bye && call.end == "no end seen") {
            call.end = std::to_string(m.status) + (m.reason.empty() ? "" : " " + m.reason);
            call.failed = state.error_end = true;
        }
    } else if (m.request && m.method == "ACK") {
        if (state.answered && !state.acked) {
            state.acked = true;
            state.ack_ns = time_ns;
        }
    } else if (m.request && m.method == "CANCEL") {
        if (!state.answered && !state.bye && (call.end == "no end seen" || state.error_end)) {
            call.end = "CANCEL";
            call.failed = true;
            state.error_end = false;
        }
    } else if (m.request && m.method == "BYE" && !state.bye) {
        state.bye = true;
        call.end = from_caller ? "BYE from caller" : "BYE from callee";
        call.failed = state.error_end = false;
        if (state.acked || state.answered) {
            const std::optional<double> ms = ms_between(state.acked ? state.ack_ns : state.answered_ns, time_ns);
            if (ms) call.duration_s = *ms / 1000.0;
        }
    }

    if (m.has_sdp) {
        if (call.offer.empty()) {
            call.offer = m.media;
            state.offer_from_caller = from_caller;
        } else if (call.answer.empty() && from_caller != state.offer_from_caller) {
            call.answer = m.media;
        }
    }

    if (call.messages.size() >= kMaxCallMessages || kept_ >= kMaxSipMessagesKept) {
        ++call.messages_not_listed;
        ++counts_.messages_not_listed;
        return;
    }
    ++kept_;
    sip_event e;
    e.number = number;
    e.time_ns = time_ns;
    e.source = source;
    e.destination = destination;
    e.request = m.request;
    e.method = m.method;
    e.status = m.status;
    e.reason = m.reason;
    e.from_caller = from_caller;
    e.has_sdp = m.has_sdp;
    e.sdp = m.sdp;
    e.media = m.media;
    call.messages.push_back(std::move(e));
}

std::vector<sip_call> sip_reader::take_calls() {
    std::vector<sip_call> calls = std::move(calls_);
    std::stable_sort(calls.begin(), calls.end(), [](const sip_call& a, const sip_call& b) { return a.start_ns < b.start_ns; });
    calls_.clear();
    states_.clear();
    by_call_id_.clear();
    return calls;
}

void group_streams(std::vector<sip_call>& calls, const std::vector<g729_stream>& streams) {
    // Where each call's media is received, from every SDP of it.
    std::map<endpoint, std::vector<std::size_t>> calls_at;
    for (std::size_t k = 0; k < calls.size(); ++k) {
        std::set<endpoint> ends;
        for (const sip_event& e : calls[k].messages)
            for (const sdp_media& m : e.media)
                if (m.has_address && m.receiver.port > 0) ends.insert(m.receiver);
        for (const std::vector<sdp_media>* described : {&calls[k].offer, &calls[k].answer})
            for (const sdp_media& m : *described)
                if (m.has_address && m.receiver.port > 0) ends.insert(m.receiver);
        for (const endpoint& e : ends) calls_at[e].push_back(k);
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
        std::set<std::size_t> candidates;
        for (const endpoint& e : {streams[i].key.destination, streams[i].key.source}) {
            const auto it = calls_at.find(e);
            if (it != calls_at.end()) candidates.insert(it->second.begin(), it->second.end());
        }
        if (candidates.empty()) continue;
        const int64_t begins = streams[i].rebuilt.stats.first_arrival_ns;
        std::size_t chosen = *candidates.begin();
        bool before = false;
        for (std::size_t k : candidates) {
            if (calls[k].start_ns <= begins && (!before || calls[k].start_ns >= calls[chosen].start_ns)) {
                chosen = k;
                before = true;
            } else if (!before && calls[k].start_ns < calls[chosen].start_ns) {
                chosen = k;
            }
        }
        calls[chosen].streams.push_back(i);
    }
}

} // namespace g729::tool
