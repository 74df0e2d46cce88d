// Owning holders for the library's encoder and decoder handles.
#pragma once

#include <memory>
#include <new>

#include "g729a.h"

namespace g729::tool {

struct encoder_deleter {
    void operator()(g729a_encoder* encoder) const { g729a_encoder_destroy(encoder); }
};
struct decoder_deleter {
    void operator()(g729a_decoder* decoder) const { g729a_decoder_destroy(decoder); }
};
using encoder_handle = std::unique_ptr<g729a_encoder, encoder_deleter>;
using decoder_handle = std::unique_ptr<g729a_decoder, decoder_deleter>;

inline encoder_handle make_encoder() {
    encoder_handle encoder(g729a_encoder_create(nullptr));
    if (!encoder) throw std::bad_alloc();
    return encoder;
}

inline decoder_handle make_decoder() {
    decoder_handle decoder(g729a_decoder_create(nullptr));
    if (!decoder) throw std::bad_alloc();
    return decoder;
}

} // namespace g729::tool
