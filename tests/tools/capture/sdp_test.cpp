// The SDP reader on bodies written for each case: where a media's a=rtcp
// puts its RTCP (the port, on the address the attribute names or else the
// media's), and the attributes it leaves alone: out of range, garbled, at
// the session level, or without any address to go with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/capture/sdp.h"

namespace g729::tool {
namespace {

// Where each media description of `body` receives its RTCP by its a=rtcp,
// "" for one without.
std::vector<std::string> rtcp_of(const std::string& body) {
    std::vector<std::string> out;
    for (const sdp_media& m : read_sdp_media(body.data(), body.size())) out.push_back(m.has_rtcp ? m.rtcp.text() : "");
    return out;
}

const std::string kSession = "v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=-\r\nt=0 0\r\n";
const std::string kMedia = "m=audio 4000 RTP/AVP 18\r\na=rtpmap:18 G729/8000\r\n";

TEST(SdpRtcpAttribute, ThePortOnTheAddressItNamesOrElseTheMediasAndNothingGarbled) {
    struct Case {
        const char* name;
        std::string body;
        std::vector<std::string> rtcp;
    };
    const std::string c = "c=IN IP4 10.0.0.1\r\n";
    const auto with = [&](const std::string& attribute) { return kSession + kMedia + c + attribute + "\r\n"; };
    const Case cases[] = {
        {"port alone: the media's address", with("a=rtcp:4711"), {"10.0.0.1:4711"}},
        {"with an IPv4 address", with("a=rtcp:4711 IN IP4 10.0.0.9"), {"10.0.0.9:4711"}},
        {"with an IPv6 address", with("a=rtcp:4711 IN IP6 2001:db8::9"), {"[2001:db8::9]:4711"}},
        {"the lowest port", with("a=rtcp:1"), {"10.0.0.1:1"}},
        {"the highest port", with("a=rtcp:65535"), {"10.0.0.1:65535"}},
        {"spaces around the port", with("a=rtcp:  4711  "), {"10.0.0.1:4711"}},
        {"before the media's c= line", kSession + kMedia + "a=rtcp:4711\r\n" + c, {"10.0.0.1:4711"}},
        {"the session's c= for the media's", kSession + c + kMedia + "a=rtcp:4711\r\n", {"10.0.0.1:4711"}},
        {"no c= at all but an address of its own", kSession + kMedia + "a=rtcp:4711 IN IP4 10.0.0.9\r\n", {"10.0.0.9:4711"}},
        {"the first of two", with("a=rtcp:4711\r\na=rtcp:4811"), {"10.0.0.1:4711"}},
        {"a garbled one, then a valid one", with("a=rtcp:99999\r\na=rtcp:4811"), {"10.0.0.1:4811"}},
        {"each media its own", kSession + c + kMedia + "a=rtcp:4711\r\n" + kMedia + kMedia + "a=rtcp:4911\r\n",
         {"10.0.0.1:4711", "", "10.0.0.1:4911"}},
        {"port 0", with("a=rtcp:0"), {""}},
        {"port 65536", with("a=rtcp:65536"), {""}},
        {"a port that overflows an int", with("a=rtcp:99999999999999999999"), {""}},
        {"a negative port", with("a=rtcp:-4711"), {""}},
        {"a signed port", with("a=rtcp:+4711"), {""}},
        {"a port with garbage after it", with("a=rtcp:4711x"), {""}},
        {"no port", with("a=rtcp:"), {""}},
        {"a port and half an address", with("a=rtcp:4711 IN IP4"), {""}},
        {"a port and the network type alone", with("a=rtcp:4711 IN"), {""}},
        {"an IPv4 address out of range", with("a=rtcp:4711 IN IP4 10.0.0.300"), {""}},
        {"a host name", with("a=rtcp:4711 IN IP4 relay.example"), {""}},
        {"an unknown address type", with("a=rtcp:4711 IN IP9 10.0.0.9"), {""}},
        {"another network type", with("a=rtcp:4711 XX IP4 10.0.0.9"), {""}},
        {"words after the address", with("a=rtcp:4711 IN IP4 10.0.0.9 more"), {""}},
        {"an IPv6 address given as IPv4", with("a=rtcp:4711 IN IP4 2001:db8::9"), {""}},
        {"no address to go with the port", kSession + kMedia + "a=rtcp:4711\r\n", {""}},
        {"at the session level", kSession + c + "a=rtcp:4711\r\n" + kMedia, {""}},
        {"multiplexing", with("a=rtcp-mux"), {""}},
        {"feedback", with("a=rtcp-fb:18 nack"), {""}},
        {"another case", with("a=RTCP:4711"), {""}},
        {"a line of a megabyte", with("a=rtcp:4711 " + std::string(1 << 20, '9')), {""}},
    };
    for (const Case& k : cases) EXPECT_EQ(rtcp_of(k.body), k.rtcp) << k.name;
}

TEST(SdpRtcpAttribute, GoesWithTheG729ItDescribesAndIntoTheMediasLine) {
    const std::string body = kSession + kMedia + "c=IN IP4 10.0.0.1\r\na=rtcp:4711 IN IP4 10.0.0.9\r\n";
    const std::vector<sdp_g729> g729 = read_sdp(body.data(), body.size());
    ASSERT_EQ(g729.size(), 1u);
    EXPECT_EQ(g729[0].receiver.text(), "10.0.0.1:4000");
    EXPECT_TRUE(g729[0].has_rtcp);
    EXPECT_EQ(g729[0].rtcp.text(), "10.0.0.9:4711");
    const std::vector<sdp_media> media = read_sdp_media(body.data(), body.size());
    ASSERT_EQ(media.size(), 1u);
    EXPECT_EQ(sdp_media_text(media[0]), "10.0.0.1:4000 G729/8000 sendrecv rtcp 10.0.0.9:4711");

    const std::string without = kSession + kMedia + "c=IN IP4 10.0.0.1\r\n";
    const std::vector<sdp_g729> plain = read_sdp(without.data(), without.size());
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_FALSE(plain[0].has_rtcp);
}

} // namespace
} // namespace g729::tool
