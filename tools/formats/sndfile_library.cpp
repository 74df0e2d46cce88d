#include "tools/formats/sndfile_library.h"

#include <cerrno>
#include <cstring>
#include <cstdio>

#include <fcntl.h>

#include "tools/common/text.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

const sndfile_functions& sndfile() {
    static const sndfile_functions functions(
        shared_library(G729A_LIBSNDFILE_SONAME, "G729A_LIBSNDFILE", "reading and writing audio formats other than raw samples"));
    return functions;
}

SNDFILE* open_sndfile_descriptor(int fd, int mode, SF_INFO* info, const std::string& name) {
    const sndfile_functions& sf = sndfile();
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) throw tool_error(name, std::string("cannot open: ") + std::strerror(errno));
    return sf.sf_open_fd(copy, mode, info, SF_TRUE);
}

std::string sndfile_problem(SNDFILE* file) {
    std::string text = sndfile().sf_strerror(file);
    while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

namespace {

sf_count_t memory_length(void* user) { return sf_count_t(static_cast<memory_file*>(user)->bytes.size()); }

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<memory_file*>(user);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->position : sf_count_t(m->bytes.size());
    if (base + offset < 0) return -1;
    m->position = base + offset;
    return m->position;
}

sf_count_t memory_read(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<memory_file*>(user);
    const sf_count_t size = sf_count_t(m->bytes.size());
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - m->position));
    if (n > 0) std::memcpy(ptr, m->bytes.data() + m->position, std::size_t(n));
    m->position += n;
    return n;
}

sf_count_t memory_write(const void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<memory_file*>(user);
    const std::size_t end = std::size_t(m->position + count);
    if (end > m->bytes.size()) m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->position, ptr, std::size_t(count));
    m->position += count;
    return count;
}

sf_count_t memory_tell(void* user) { return static_cast<memory_file*>(user)->position; }

} // namespace

SF_VIRTUAL_IO memory_io{memory_length, memory_seek, memory_read, memory_write, memory_tell};

namespace {

sf_count_t passthrough_length(void* user) { return static_cast<passthrough_file*>(user)->position; }

sf_count_t passthrough_seek(sf_count_t offset, int whence, void* user) {
    auto* p = static_cast<passthrough_file*>(user);
    const sf_count_t target = whence == SEEK_SET ? offset : p->position + offset;
    return target == p->position ? p->position : -1;
}

sf_count_t passthrough_read(void*, sf_count_t, void*) { return 0; }

sf_count_t passthrough_write(const void* ptr, sf_count_t count, void* user) {
    auto* p = static_cast<passthrough_file*>(user);
    p->out->write(ptr, std::size_t(count));
    p->position += count;
    return count;
}

sf_count_t passthrough_tell(void* user) { return static_cast<passthrough_file*>(user)->position; }

} // namespace

SF_VIRTUAL_IO passthrough_io{passthrough_length, passthrough_seek, passthrough_read, passthrough_write, passthrough_tell};

std::vector<std::pair<std::string, int>> sndfile_major_formats() {
    std::vector<std::pair<std::string, int>> majors;
    const sndfile_functions& sf = sndfile();
    int count = 0;
    sf.sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf.sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension)
            majors.emplace_back(lower(info.extension), info.format);
    }
    return majors;
}

int major_of(const std::string& container) {
    if (container == "mp3") return SF_FORMAT_MPEG;
    // libsndfile lists Ogg under .oga; .ogg is the name people use for the
    // same container.
    if (container == "opus" || container == "oga" || container == "ogg") return SF_FORMAT_OGG;
    for (const auto& [extension, major] : sndfile_major_formats())
        if (extension == container) return major;
    if (container == "aiff" || container == "aifc") return SF_FORMAT_AIFF;
    if (container == "snd") return SF_FORMAT_AU;
    return 0;
}

// A complete libsndfile format for writing one channel at `rate`: the major
// format of the container and a sample encoding it accepts, 16-bit integer
// (or float) when it has them. 0 when there is none.
int writable_format(const format_id& format, int rate, bool floating) {
    int major = 0;
    switch (format.kind) {
    case file_format::ulaw: return SF_FORMAT_RAW | SF_FORMAT_ULAW;
    case file_format::alaw: return SF_FORMAT_RAW | SF_FORMAT_ALAW;
    case file_format::gsm: return SF_FORMAT_RAW | SF_FORMAT_GSM610;
    case file_format::wav: major = SF_FORMAT_WAV; break;
    case file_format::sndfile: major = major_of(format.container); break;
    default: return 0;
    }
    if (major == 0) return 0;
    const sndfile_functions& sf = sndfile();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    const int preferred = floating ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
    info.format = major | preferred;
    if (sf.sf_format_check(&info)) return info.format;
    if (floating) return 0;
    // Containers of one codec each: Ogg carries Vorbis unless named .opus.
    const int codec = format.container == "mp3"                                ? SF_FORMAT_MPEG_LAYER_III
                      : format.container == "opus"                             ? SF_FORMAT_OPUS
                      : format.container == "ogg" || format.container == "oga" ? SF_FORMAT_VORBIS
                                                                               : 0;
    if (codec != 0) {
        info.format = major | codec;
        return sf.sf_format_check(&info) ? info.format : 0;
    }
    int count = 0;
    sf.sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO sub{};
        sub.format = i;
        if (sf.sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &sub, sizeof sub) != 0) continue;
        info.format = major | sub.format;
        if (sf.sf_format_check(&info)) return info.format;
    }
    return 0;
}

} // namespace g729::tool
