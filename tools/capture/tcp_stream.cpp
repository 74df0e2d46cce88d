#include "tools/capture/tcp_stream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "tools/capture/sip_reader.h"
#include "tools/common/text.h"

namespace g729::tool {

namespace {

// Where the header ends (the blank line after it), from `data`; npos when
// the bytes hold no whole header.
std::size_t header_end(const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i + 1 < size; ++i) {
        if (data[i] != '\n') continue;
        if (data[i + 1] == '\n') return i + 2;
        if (i + 2 < size && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
    }
    return std::string::npos;
}

// The Content-Length (or its compact form l) of a header; 0 without one,
// -1 when it is no number a message could hold.
long content_length(const uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        std::size_t end = i;
        while (end < size && data[end] != '\n') ++end;
        const std::string line(reinterpret_cast<const char*>(data) + i, end - i);
        i = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = lower(line.substr(0, colon));
        name.erase(name.find_last_not_of(" \t") + 1);
        if (name != "content-length" && name != "l") continue;
        const std::size_t digits = line.find_first_not_of(" \t", colon + 1);
        if (digits == std::string::npos) return -1;
        long value = 0;
        std::size_t k = digits;
        for (; k < line.size() && line[k] >= '0' && line[k] <= '9'; ++k) {
            value = value * 10 + (line[k] - '0');
            if (value > 0xFFFFF) return -1;
        }
        return k == digits ? -1 : value;
    }
    return 0;
}

// The longest request line looks_like_sip reads.
constexpr std::size_t kFirstLineLimit = 1024;

} // namespace

long sip_message_length(const uint8_t* data, std::size_t size, std::size_t searched) {
    const std::size_t blank = blank_line_bytes(data, size);
    const uint8_t* m = data + blank;
    const std::size_t rest = size - blank;
    if (rest == 0) return 0;
    if (m[0] < 'A' || m[0] > 'Z') return -1;
    // Whether it is SIP shows once its first line is whole.
    const std::size_t look = std::min(rest, kFirstLineLimit);
    if (!std::memchr(m, '\n', look) && !std::memchr(m, '\r', look)) return rest < kFirstLineLimit ? 0 : -1;
    if (!looks_like_sip(m, rest)) return -1;
    // A header's end may lie across where the last search stopped.
    const std::size_t from = searched > 3 && searched - 3 < rest ? searched - 3 : 0;
    std::size_t header = header_end(m + from, rest - from);
    if (header == std::string::npos) return rest > kMaxTcpHeld ? -1 : 0;
    header += from;
    const long body = content_length(m, header);
    return body < 0 ? -1 : long(blank + header) + body;
}

bool sip_tcp_streams::add(const endpoint& source, const endpoint& destination, const tcp_header& tcp, const uint8_t* data,
                          std::size_t size, const message_fn& each) {
    const flow_key key{source, destination};
    auto it = flows_.find(key);
    if (it == flows_.end()) {
        if (tcp.syn || tcp.rst || !looks_like_sip(data, size)) return false;
        while (flows_.size() >= kMaxTcpFlows) {
            ++counts_.flows_dropped;
            drop(flows_.find(idle_.begin()->second));
        }
        it = flows_.emplace(key, flow{}).first;
        it->second.next = tcp.sequence;
    }
    flow& f = it->second;
    idle_.erase(f.used);
    f.used = ++clock_;
    idle_.emplace(f.used, key);
    if (tcp.rst) {
        drop(it);
        return true;
    }

    uint32_t sequence = tcp.sequence;
    if (tcp.syn) {
        // The connection opens again on the same ports: its bytes start
        // after the SYN. The same SYN sent again changes nothing.
        if (uint32_t(sequence + 1) != f.next) {
            lose_held(f);
            f.skip = 0;
            f.resync = false;
            f.next = sequence + 1;
        }
        ++sequence;
    }
    // Sequence numbers wrap at 2^32: what lies within 2^31 before the next
    // byte expected is behind it.
    const int32_t ahead = int32_t(sequence - f.next);
    if (ahead < 0) {
        const uint32_t behind = f.next - sequence;
        if (size <= behind) size = 0; // sent again: all of it taken already
        else {
            data += behind;
            size -= behind;
            sequence = f.next;
        }
    } else if (ahead > 0 && size > 0) {
        // A segment missing before this one: the message it held the
        // start or the middle of cannot be read. One that starts like SIP
        // here is read; otherwise nothing is until one does.
        if (!lose_held(f) && !f.resync && f.skip == 0 && !looks_like_sip(data, size)) ++counts_.partial;
        f.skip = 0;
        f.resync = true;
    }
    if (size > 0) {
        take(f, data, size, each);
        f.next = sequence + uint32_t(size);
    }
    while (held_total_ > kMaxTcpHeldTotal && flows_.size() > 1) {
        ++counts_.flows_dropped;
        drop(flows_.find(idle_.begin()->second));
    }
    // The sender has no more to say.
    if (tcp.fin) drop(flows_.find(key));
    return true;
}

void sip_tcp_streams::take(flow& f, const uint8_t* data, std::size_t size, const message_fn& each) {
    const std::size_t passed = std::min(f.skip, size);
    f.skip -= passed;
    data += passed;
    size -= passed;
    if (size == 0) return;
    if (f.resync) {
        if (!looks_like_sip(data, size)) return;
        f.resync = false;
    }
    f.held.insert(f.held.end(), data, data + size);
    held_total_ += size;

    // The held bytes may hold several messages, each its header and
    // Content-Length bytes of body, and end in part of one.
    const uint8_t* d = f.held.data();
    const std::size_t n = f.held.size();
    std::size_t at = 0;
    while (at < n) {
        at += blank_line_bytes(d + at, n - at);
        if (at == n) break;
        const std::size_t rest = n - at;
        // Held bytes of one message are searched for its header's end once
        // (a message sent a byte a segment would be searched again and
        // again): the search goes on where it stopped.
        const long length = sip_message_length(d + at, rest, at == 0 ? f.searched : 0);
        f.searched = 0;
        if (length < 0 || (length == 0 && rest > kMaxTcpHeld)) {
            // No SIP, or a header too long to hold: nothing is read until
            // a segment starts a message again.
            ++counts_.partial;
            f.resync = true;
            at = n;
        } else if (length == 0) {
            f.searched = rest;
            break;
        } else if (std::size_t(length) > rest) {
            if (std::size_t(length) > kMaxTcpHeld) {
                // Too long to hold: passed over, to read what follows it.
                ++counts_.partial;
                f.skip = std::size_t(length) - rest;
                at = n;
            }
            break;
        } else {
            each(d + at, std::size_t(length));
            at += std::size_t(length);
        }
    }
    f.held.erase(f.held.begin(), f.held.begin() + std::ptrdiff_t(at));
    held_total_ -= at;
    if (f.held.empty() && f.held.capacity() > 8192) std::vector<uint8_t>().swap(f.held);
}

// Drops the bytes held, counting the message they began; returns whether
// there was one.
bool sip_tcp_streams::lose_held(flow& f) {
    const bool message = blank_line_bytes(f.held.data(), f.held.size()) < f.held.size();
    if (message) ++counts_.partial;
    held_total_ -= f.held.size();
    std::vector<uint8_t>().swap(f.held);
    f.searched = 0;
    return message;
}

void sip_tcp_streams::drop(flow_map::iterator it) {
    lose_held(it->second);
    idle_.erase(it->second.used);
    flows_.erase(it);
}

void sip_tcp_streams::finish() {
    while (!flows_.empty()) drop(flows_.begin());
}

} // namespace g729::tool
