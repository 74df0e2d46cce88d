"""The report page in a real browser: the real g729a writes each page, a
headless Chromium from the distribution opens it from a file:// URL, and
Selenium checks what a person would see and do there: no error and no
request leaving the page, the figures of info --json, players that know
their stream's length and play, a lost-frame mark that seeks the player,
a packet table whose data holds every packet (its last reached by
scrolling, its filter counting them), a large capture whose table
opens, and captures whose strings carry markup or
scripts that run nothing.

    report_page_test.py G729A SAMPLE_CALL CAPTURE_WRITER_DIR

The browser is started as headless_chromium.py beside this file does.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

G729A, SAMPLE_CALL, WRITER_DIR = sys.argv[1:4]
del sys.argv[1:4]
sys.path.insert(0, WRITER_DIR)
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import capture_writer as cw  # noqa: E402
import headless_chromium  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402


def clock_seconds(text):
    """'1:02.50' as seconds."""
    minutes, seconds = text.split(":")
    return 60 * int(minutes) + float(seconds)

# The page's own script sets nothing by these names; a markup or script
# injection from a capture would.
INJECTED = ["<script>window.injected=1;document.title='owned'</script>",
            "<img src=x onerror=window.injected=2;document.title='owned'>",
            "</script><script>window.injected=3</script>",
            "<svg onload=window.injected=4>"]


def g729a(*args, env=None):
    run = subprocess.run([G729A, *args], capture_output=True, text=True, env=env)
    return run.returncode, run.stdout, run.stderr


def rtp_stream(start_ns, ssrc, count, ends, lost=(), seq0=100):
    """`count` packets of two G.729 frames, 20 ms apart, from ends[0] to
    ends[1] (address, port pairs), leaving out the sequence numbers in
    `lost`."""
    (src, sport), (dst, dport) = ends
    records = []
    for k in range(count):
        if k in lost:
            continue
        payload = bytes((k * 7 + i * 13 + ssrc) & 0xFF for i in range(20))
        packet = cw.rtp(seq0 + k, k * 160, payload, ssrc=ssrc, marker=k == 0)
        records.append((start_ns + k * 20_000_000 + (k % 3) * 1_000_000, cw.ethernet_udp(src, dst, sport, dport, packet)))
    return records


A, B = bytes([10, 0, 0, 1]), bytes([10, 0, 0, 2])


def sip(method_line, call_id, cseq, body=b"", caller=INJECTED[0]):
    """A SIP message with markup and scripts in the headers a page shows."""
    head = (method_line + "\r\n"
            "Via: SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bK" + call_id + "\r\n"
            "From: \"" + caller + "\" <sip:alice@10.0.0.1>;tag=1\r\n"
            "To: \"" + INJECTED[1] + "\" <sip:bob@10.0.0.2>\r\n"
            "Call-ID: " + call_id + INJECTED[3] + "\r\n"
            "CSeq: " + cseq + "\r\n"
            "User-Agent: " + INJECTED[2] + "\r\n")
    if body:
        head += "Content-Type: application/sdp\r\n"
    head += "Content-Length: %d\r\n\r\n" % len(body)
    return head.encode() + body


def sdp(address, port):
    return ("v=0\r\no=- 1 1 IN IP4 %s\r\ns=%s\r\nc=IN IP4 %s\r\nt=0 0\r\nm=audio %d RTP/AVP 18\r\n"
            "a=rtpmap:18 G729/8000\r\na=ptime:20\r\n" % (address, INJECTED[2], address, port)).encode()


def hostile_call():
    """A call whose SIP headers and SDP carry markup and scripts, with a
    stream each way."""
    t0 = 1_700_000_000 * 10**9
    records = [
        (t0, cw.ethernet_udp(A, B, 5060, 5060, sip("INVITE sip:bob@10.0.0.2 SIP/2.0", "x1", "1 INVITE", sdp("10.0.0.1", 4000)))),
        (t0 + 50_000_000, cw.ethernet_udp(B, A, 5060, 5060, sip("SIP/2.0 180 Ringing" + INJECTED[1], "x1", "1 INVITE"))),
        (t0 + 90_000_000, cw.ethernet_udp(B, A, 5060, 5060, sip("SIP/2.0 200 OK", "x1", "1 INVITE", sdp("10.0.0.2", 5000)))),
        (t0 + 95_000_000, cw.ethernet_udp(A, B, 5060, 5060, sip("ACK sip:bob@10.0.0.2 SIP/2.0", "x1", "1 ACK"))),
    ]
    records += rtp_stream(t0 + 100_000_000, 0x11111111, 60, ((A, 4000), (B, 5000)), lost={20, 21})
    records += rtp_stream(t0 + 105_000_000, 0x22222222, 60, ((B, 5000), (A, 4000)))
    records.append((t0 + 1_400_000_000, cw.ethernet_udp(A, B, 5060, 5060, sip("BYE sip:bob@10.0.0.2 SIP/2.0", "x1", "2 BYE"))))
    records.append((t0 + 1_450_000_000, cw.ethernet_udp(B, A, 5060, 5060, sip("SIP/2.0 200 OK", "x1", "2 BYE"))))
    records.sort(key=lambda r: r[0])
    return cw.pcap(records)


class ReportPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="g729a-report-")
        cls.browser = headless_chromium.start(os.path.join(cls.dir, "profile"))

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def make_page(self, capture, name="page.html", args=(), env=None):
        out = os.path.join(self.dir, name)
        status, _, err = g729a("report", "-q", *args, capture, out, env=env)
        self.assertEqual(status, 0, err)
        return out

    def open(self, path):
        """Opens a page, waits for its script and players, and returns the
        console messages and the URLs it asked for."""
        b = self.browser
        b.get_log("browser")
        b.get_log("performance")
        b.get("file://" + path)
        deadline = time.time() + 20
        while time.time() < deadline and not b.execute_script(
                "return [...document.querySelectorAll('audio')].every(a => a.readyState >= 1)"):
            time.sleep(0.05)
        console = [m for m in b.get_log("browser") if m["level"] in ("SEVERE", "WARNING")]
        requests = []
        for entry in b.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                # The browser's own pages (the new tab it starts with) are
                # not the report's.
                if not message["params"].get("documentURL", "").startswith(("chrome://", "chrome-search://")):
                    requests.append(message["params"]["request"]["url"])
        return console, requests

    def assert_self_contained(self, path, console, requests):
        self.assertEqual(console, [])
        # The page itself is the only URL fetched (the log shows it, so the
        # log is read); audio comes from data:.
        self.assertIn("file://" + path, requests)
        outside = [u for u in requests if not (u.startswith("data:") or u == "file://" + path)]
        self.assertEqual(outside, [])

    def drawn_numbers(self, section):
        """The packet numbers of the table's rows drawn now."""
        return self.browser.execute_script(
            "return [...arguments[0].querySelectorAll('table.packet-table tbody tr:not(.spacer)')]"
            ".map(r => Number(r.cells[0].textContent))", section)

    def scroll_table(self, section, to_end, last):
        """Scrolls the table to its end (or start) and waits until the row
        numbered `last` is drawn there."""
        scroller = section.find_element("css selector", ".table-scroll")
        self.browser.execute_script("arguments[0].scrollTop = arguments[1] ? arguments[0].scrollHeight : 0", scroller, to_end)
        deadline = time.time() + 10
        while time.time() < deadline and (self.drawn_numbers(section) or [None])[-1 if to_end else 0] != last:
            time.sleep(0.05)
        return self.drawn_numbers(section)

    def check_packet_table(self, section, index, packets):
        """The table's data is one row per packet of `packets` (info's
        table) in capture order: its count says so, its CSV lists them, its
        first row is drawn at the top and its last one is reached by
        scrolling to the end; the filter's count and CSV are those of the
        rows it lets through."""
        b = self.browser
        numbers = [p["number"] for p in packets]
        section.find_element("css selector", "details.packets summary").click()
        count = section.find_element("css selector", ".row-count")
        self.assertEqual(count.text, "%d packets" % len(packets))
        csv = b.execute_script("return window.g729aReport.csv(arguments[0])", index).splitlines()
        rows = [line.split(",") for line in csv[1:]]
        self.assertEqual([int(r[0]) for r in rows], numbers)
        self.assertEqual([(int(r[1]), int(r[2])) for r in rows], [(p["sequence"], p["timestamp"]) for p in packets])
        self.assertEqual(self.drawn_numbers(section)[0], numbers[0])
        drawn = self.scroll_table(section, True, numbers[-1])
        self.assertEqual(drawn[-1], numbers[-1])
        self.assertEqual(drawn, numbers[len(numbers) - len(drawn):])
        self.scroll_table(section, False, numbers[0])

        def problem(p):
            return p["lost_before"] > 0 or p["reordered"] or p["duplicate"] or p["late"] or p["discarded"]
        needle = str(packets[-1]["sequence"])
        cases = [
            # filter text, only problems, the numbers it lets through
            (needle, False, [int(r[0]) for r in rows if any(needle in v for v in r)]),
            ("", True, [p["number"] for p in packets if problem(p)]),
            ("", False, numbers),
        ]
        box, problems = section.find_element("css selector", "input.filter"), section.find_element("css selector", "input.problems")
        for text, only_problems, wanted in cases:
            with self.subTest(filter=text, problems=only_problems):
                box.send_keys(Keys.CONTROL, "a")
                box.send_keys(Keys.BACKSPACE, text)
                if problems.is_selected() != only_problems:
                    problems.click()
                self.assertEqual(count.text, "%d packets" % len(packets) if len(wanted) == len(packets)
                                 else "%d of %d packets" % (len(wanted), len(packets)))
                csv = b.execute_script("return window.g729aReport.csv(arguments[0])", index).splitlines()
                self.assertEqual([int(line.split(",")[0]) for line in csv[1:]], wanted)
                self.assertEqual(self.drawn_numbers(section), wanted[:len(self.drawn_numbers(section))])
                if only_problems:
                    self.assertEqual(section.find_elements("css selector", "table.packet-table tbody tr:not(.spacer):not(.problem)"), [])

    def test_sample_call_page(self):
        path = self.make_page(SAMPLE_CALL, "sample.html")
        console, requests = self.open(path)
        self.assert_self_contained(path, console, requests)
        b = self.browser
        _, out, _ = g729a("info", "--json", "--packets", "--jitter-buffer", "adaptive", SAMPLE_CALL)
        info = json.loads(out)
        self.assertEqual(len(b.find_elements("css selector", "section.stream")), len(info["streams"]))
        self.assertEqual(len(b.find_elements("css selector", "section.call")), len(info["calls"]))
        self.assertGreater(len(info["calls"]), 0)

        def same_figures(section, expected):
            cells = section.find_elements("css selector", "td[data-key]")
            self.assertGreater(len(cells), 5)
            for cell in cells:
                key = cell.get_attribute("data-key")
                value = expected[key]
                if value is None:
                    self.assertEqual(cell.text, "not seen", key)
                elif isinstance(value, str):
                    self.assertEqual(cell.text, value, key)
                else:
                    self.assertAlmostEqual(float(cell.text), float(value), places=9, msg=key)

        for k, call in enumerate(info["calls"]):
            with self.subTest(call=k):
                section = b.find_element("css selector", "#call-%d" % k)
                same_figures(section.find_element("css selector", "table.figures"), call)
                arrows = section.find_elements("css selector", "svg.ladder g.message")
                self.assertEqual(len(arrows), len(call["messages"]))
                self.assertEqual([a.find_element("css selector", "text:nth-of-type(2)").text.replace(" (SDP)", "") for a in arrows],
                                 [m["method"] if m["request"] else "%d %s" % (m["status"], m["reason"]) for m in call["messages"]])
                # Its directions are shown under it.
                self.assertEqual(sorted(int(s.get_attribute("id")[len("stream-"):])
                                        for s in section.find_elements("css selector", "section.stream")), sorted(call["streams"]))

        sections = [b.find_element("css selector", "#stream-%d" % i) for i in range(len(info["streams"]))]
        for i, stream in enumerate(info["streams"]):
            with self.subTest(stream=i, what="figures"):
                same_figures(sections[i], stream)
            with self.subTest(stream=i, what="players"):
                durations = b.execute_script(
                    "return [...arguments[0].querySelectorAll('audio')].map(a => a.duration)", sections[i])
                self.assertEqual(len(durations), 2)
                for d in durations:
                    # Opus starts with a pre-skip that browsers may count (6.5 ms).
                    self.assertAlmostEqual(d, stream["timeline_frames"] / 100, delta=0.02)
            with self.subTest(stream=i, what="audio carried once where the buffer changed nothing"):
                buffer = stream["jitter_buffer"]
                unchanged = buffer["late_packets"] == 0 and buffer["discarded_packets"] == 0 and buffer["delay_changes"] == 0
                audio = b.execute_script("return window.g729aReport.data.streams[%d].audio" % i)
                self.assertEqual([a.get("same_as") for a in audio], [None, "sent" if unchanged else None])
                self.assertEqual(["uri" in a for a in audio], [True, not unchanged])
                same_src = b.execute_script(
                    "const [a, b] = arguments[0].querySelectorAll('audio'); return a.src === b.src", sections[i])
                self.assertEqual(same_src, unchanged)
            with self.subTest(stream=i, what="packet table"):
                self.assertEqual(len(stream["packet_table"]), stream["packets"])
                self.check_packet_table(sections[i], i, stream["packet_table"])

        for i, section in enumerate(sections):
            for audio in section.find_elements("css selector", "audio"):
                with self.subTest(stream=i, player=audio.get_attribute("data-audio"), what="plays"):
                    b.execute_script("arguments[0].currentTime = 0; return arguments[0].play()", audio)
                    time.sleep(0.4)
                    now = b.execute_script("return arguments[0].currentTime", audio)
                    b.execute_script("arguments[0].pause()", audio)
                    self.assertGreater(now, 0.1)

        # Dragging across the timeline zooms into that span; "Whole stream"
        # goes back.
        timeline = sections[0].find_element("css selector", ".timeline-svg")
        axis = lambda: [t.text for t in timeline.find_elements("css selector", "text.axis") if ":" in t.text]
        whole = axis()
        width = timeline.size["width"]
        ActionChains(b).move_to_element_with_offset(timeline, int(width * 0.1), 20).click_and_hold() \
            .move_by_offset(int(width * 0.2), 0).release().perform()
        zoomed = axis()
        self.assertNotEqual(zoomed[0], whole[0])
        self.assertLess(clock_seconds(zoomed[-1]) - clock_seconds(zoomed[0]), 0.5 * (clock_seconds(whole[-1]) - clock_seconds(whole[0])))
        sections[0].find_element("css selector", ".timeline-tools button").click()
        self.assertEqual(axis(), whole)

        # Clicking a lost-frame mark plays what was heard from there.
        mark = sections[0].find_element("css selector", ".mark-lost")
        start = float(mark.get_attribute("data-start"))
        heard = sections[0].find_element("css selector", "audio[data-audio=heard]")
        mark.click()
        time.sleep(0.3)
        now, paused = b.execute_script("return [arguments[0].currentTime, arguments[0].paused]", heard)
        b.execute_script("arguments[0].pause()", heard)
        self.assertFalse(paused)
        self.assertGreaterEqual(now, start - 0.011)
        self.assertLess(now, start + 1.0)
        # The marker follows: it stands at or after the mark, where the
        # player's time puts it.
        marker = sections[0].find_element("css selector", ".play-marker")
        self.assertEqual(marker.get_attribute("visibility"), "visible")
        self.assertGreaterEqual(float(marker.get_attribute("x1")), float(mark.get_attribute("x")) - 0.5)

    def test_large_capture_table(self):
        # Ten minutes of one direction: the page opens with no error and the
        # table's last packet is reached by scrolling.
        capture = os.path.join(self.dir, "ten-minutes.pcap")
        with open(capture, "wb") as f:
            f.write(cw.pcap(rtp_stream(1_700_000_000 * 10**9, 0x33333333, 30000, ((A, 4000), (B, 5000)), lost={1000, 20000, 20001})))
        path = self.make_page(capture, "ten-minutes.html")
        console, requests = self.open(path)
        self.assert_self_contained(path, console, requests)
        _, out, _ = g729a("info", "--json", "--packets", "--jitter-buffer", "adaptive", capture)
        packets = json.loads(out)["streams"][0]["packet_table"]
        self.assertEqual(len(packets), 29997)
        section = self.browser.find_element("css selector", "#stream-0")
        self.check_packet_table(section, 0, packets)
        # What is drawn is a view's worth, not the table.
        self.assertLess(len(self.drawn_numbers(section)), 1000)

    def test_hostile_captures_run_nothing(self):
        # The file name itself carries markup (no '/' can be in a name).
        names = ["<img src=x onerror=window.injected=5>.pcap", "<svg onload=window.injected=6>&amp;.pcap"]
        for name in names:
            with self.subTest(name=name):
                capture = os.path.join(self.dir, name)
                with open(capture, "wb") as f:
                    f.write(hostile_call())
                path = self.make_page(capture, "hostile.html")
                console, requests = self.open(path)
                self.assert_self_contained(path, console, requests)
                b = self.browser
                self.assertIsNone(b.execute_script("return window.injected === undefined ? null : window.injected"))
                self.assertEqual(b.find_elements("css selector", "img, iframe, object, embed"), [])
                # The page's title and heading show the name as text.
                self.assertEqual(b.find_element("css selector", "header h1").text, name)
                self.assertTrue(b.title.startswith(name))
                # The call and its headers are shown, as text.
                shown = b.find_element("tag name", "body").text
                calls = b.execute_script("return window.g729aReport.data.calls")
                self.assertEqual(len(calls), 1)
                self.assertIn(INJECTED[0], calls[0]["caller"])
                self.assertIn(calls[0]["caller"], shown)
                self.assertIn(calls[0]["callee"], shown)
                for arrow in b.find_elements("css selector", "svg.ladder g.with-sdp"):
                    arrow.click()
                self.assertIn(INJECTED[2], b.find_element("css selector", "pre.sdp").text)
                self.assertIsNone(b.execute_script("return window.injected === undefined ? null : window.injected"))

    def test_other_inputs_and_encodings(self):
        frames = os.path.join(self.dir, "tone.g729")
        with open(frames, "wb") as f:
            f.write(bytes((i * 37) & 0xFF for i in range(10 * 150)))
        cases = [
            # name, input, environment, formats, seconds
            ("capture without libopusenc", SAMPLE_CALL, {"G729A_LIBOPUSENC": "/nonexistent/libopusenc.so"}, {"WAV, 8 kHz"}, None),
            ("a .g729 file", frames, None, {"Opus, 16 kbit/s"}, 1.5),
        ]
        for name, source, extra, formats, seconds in cases:
            with self.subTest(case=name):
                env = dict(os.environ, **extra) if extra else None
                path = self.make_page(source, "other.html", env=env)
                console, requests = self.open(path)
                self.assert_self_contained(path, console, requests)
                data = self.browser.execute_script("return window.g729aReport.data")
                self.assertEqual({a["format"] for s in data["streams"] for a in s["audio"]}, formats)
                durations = self.browser.execute_script("return [...document.querySelectorAll('audio')].map(a => a.duration)")
                wanted = [seconds or s["duration"] for s in data["streams"] for _ in s["audio"]]
                self.assertEqual(len(durations), len(wanted))
                for d, w in zip(durations, wanted):
                    self.assertAlmostEqual(d, w, delta=0.02)


if __name__ == "__main__":
    unittest.main(verbosity=2)
