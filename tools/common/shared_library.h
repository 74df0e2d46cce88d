// Libraries that only some commands need, loaded when one of them first
// does: libsndfile for audio formats, libsoxr for resampling, libpcap for
// packet captures, libosipparser2 for the SIP in them, cairo and fontconfig
// for pictures, libopusenc for the audio of a report page. Decoding raw samples,
// .g729 and .bit files, --help and --version start without any of them
// (together with what they pull in, some forty shared objects).
//
// Each user keeps a table of the functions it calls, typed by the library's
// own header, filled once (a function-local static, so worker threads of a
// batch can race to it):
//
//   #define PCAP_FUNCTIONS(F) F(pcap_close) F(pcap_next_ex)
//   G729A_FUNCTION_TABLE(pcap_functions, PCAP_FUNCTIONS);
//   const pcap_functions& pcap() {
//       static const pcap_functions f(shared_library(SONAME, "G729A_LIBPCAP", "reading packet captures"));
//       return f;
//   }
//   ... pcap().pcap_close(p);
#pragma once

#include <string>

namespace g729::tool {

// A library opened with dlopen and never closed: the functions taken from it
// are kept for the life of the program.
class shared_library {
public:
    // Opens `soname`, or the file that the environment variable
    // `override_variable` names when it is set and not empty. `purpose` says
    // what needs the library, for the error: a tool_error naming the library
    // (exit status 1), when it cannot be loaded.
    shared_library(const char* soname, const char* override_variable, const char* purpose);

    // Sets `function` to the library's function `name`; throws tool_error
    // when the library has none.
    template <class Function>
    void resolve(Function& function, const char* name) const {
        function = reinterpret_cast<Function>(symbol(name));
    }

private:
    void* symbol(const char* name) const;

    std::string name_;
    std::string purpose_;
    void* handle_ = nullptr;
};

} // namespace g729::tool

// A table of functions: a struct `table` holding a pointer, typed as the C
// header declares it, for each name that `functions(F)` lists as F(name),
// filled from a shared_library by its constructor.
#define G729A_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;
#define G729A_RESOLVE_FUNCTION(name) library.resolve(name, #name);
#define G729A_FUNCTION_TABLE(table, functions)                                                           \
    struct table {                                                                                       \
        functions(G729A_FUNCTION_POINTER)                                                                \
        explicit table(const ::g729::tool::shared_library& library) { functions(G729A_RESOLVE_FUNCTION) } \
    }
