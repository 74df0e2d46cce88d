// In steady state nothing on the media path touches the heap: the module's
// frame-in and frame-out through the host once a step is set up, and the
// library's encode and decode calls. A channel that allocated per frame
// would contend on the allocator across hundreds of channels and could fail
// mid-call.
//
// The count comes from malloc itself: this executable defines malloc and
// its relatives, which every library loaded into it (the C++ runtime's
// operator new, the host, the module) then calls. Under AddressSanitizer or
// ThreadSanitizer the sanitizer owns malloc, so the test is skipped there.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "g729a.h"
#include "tests/module/host_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define G729A_SANITIZER_OWNS_MALLOC 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define G729A_SANITIZER_OWNS_MALLOC 1
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
inline void note_allocation() {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#ifndef G729A_SANITIZER_OWNS_MALLOC
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);

void* malloc(size_t size) {
    note_allocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    note_allocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    note_allocation();
    return __libc_realloc(p, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    note_allocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    note_allocation();
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22; // EINVAL
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) return 12; // ENOMEM
    *out = p;
    return 0;
}
}
#endif

namespace g729_test {
namespace {

using corvane::translation_step;
class SteadyState : public LoadedModule {
protected:
    void SetUp() override {
#ifdef G729A_SANITIZER_OWNS_MALLOC
        GTEST_SKIP() << "the sanitizer owns malloc in this build";
#endif
        LoadedModule::SetUp();
    }
};

// Allocations made by f, called once.
template <typename F> long allocations_in(F&& f) {
    allocations = 0;
    counting = true;
    f();
    counting = false;
    return allocations.load();
}

TEST_F(SteadyState, CounterSeesAllocationsInTheProcessAndInTheHost) {
    // Without this, a zero below would prove nothing.
    EXPECT_GT(allocations_in([] { std::vector<int> v(100); }), 0);
    EXPECT_GT(allocations_in([this] { translation_step step(encoder_translator()); }), 0);
}

TEST_F(SteadyState, ModuleFrameInAndOutAllocateNothing) {
    const std::vector<int16_t> pcm = speech_samples(160 * 100);
    const std::vector<uint8_t> coded = speech_frames(200);
    translation_step encoder(encoder_translator());
    translation_step decoder(decoder_translator());
    auto encode_20ms = [&](int i) {
        cvn_frame f = slin_frame(pcm.data() + 160 * (i % 100), 160);
        encoder.framein(&f);
        encoder.frameout();
    };
    auto decode_20ms = [&](int i) {
        cvn_frame f = g729_frame(coded.data() + 20 * (i % 100), 20);
        decoder.framein(&f);
        decoder.frameout();
    };
    for (int i = 0; i < 10; ++i) {
        encode_20ms(i);
        decode_20ms(i);
    }
    EXPECT_EQ(allocations_in([&] {
                  for (int i = 10; i < 300; ++i) encode_20ms(i);
              }),
              0);
    EXPECT_EQ(allocations_in([&] {
                  for (int i = 10; i < 300; ++i) decode_20ms(i);
              }),
              0);
    // A payload ending in a SID frame (comfort noise) and odd host framing.
    std::vector<uint8_t> with_sid(coded.begin(), coded.begin() + 30);
    with_sid.push_back(0x5a);
    with_sid.push_back(0x3c);
    EXPECT_EQ(allocations_in([&] {
                  for (int i = 0; i < 50; ++i) {
                      cvn_frame f = g729_frame(with_sid.data(), int(with_sid.size()));
                      decoder.framein(&f);
                      decoder.frameout();
                      cvn_frame s = slin_frame(pcm.data() + 37 * i, 37 + i);
                      encoder.framein(&s);
                      encoder.frameout();
                  }
              }),
              0);
}

TEST_F(SteadyState, LibraryEncodeAndDecodeAllocateNothing) {
    const std::vector<int16_t> pcm = speech_samples(80 * 100);
    const std::vector<uint8_t> coded = speech_frames(100);
    g729a_encoder_memory encoder_memory;
    g729a_decoder_memory decoder_memory;
    g729a_encoder* encoder = reinterpret_cast<g729a_encoder*>(&encoder_memory);
    g729a_decoder* decoder = reinterpret_cast<g729a_decoder*>(&decoder_memory);
    ASSERT_EQ(g729a_encoder_init(encoder, sizeof encoder_memory), G729A_OK);
    ASSERT_EQ(g729a_decoder_init(decoder, sizeof decoder_memory), G729A_OK);
    uint8_t frame[10];
    int16_t out[8 * 80];
    const uint8_t sid[2] = {0x5a, 0x3c};
    long bad_results = 0;
    const long count = allocations_in([&] {
        for (int i = 0; i < 100; ++i) {
            bad_results += g729a_encode(encoder, pcm.data() + 80 * i, 80, frame, sizeof frame) != 10;
            bad_results += g729a_decode(decoder, frame, 10, out, 80) != 80;
            bad_results += g729a_decode(decoder, i % 10 == 0 ? nullptr : sid, i % 10 == 0 ? 0 : 2, out, 80) != 80;
            bad_results += g729a_decode_payload(decoder, coded.data() + 10 * (i % 90), 62, out, 8 * 80, nullptr) != 7 * 80;
        }
    });
    EXPECT_EQ(bad_results, 0);
    EXPECT_EQ(count, 0);
}

} // namespace
} // namespace g729_test
