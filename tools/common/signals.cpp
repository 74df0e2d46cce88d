#include "tools/common/signals.h"

#include <atomic>
#include <csignal>
#include <cstring>

#include <limits.h>
#include <unistd.h>

namespace g729::tool {

namespace {

// The temporary files being written, for the signal handler: one slot per
// output open at a time (a batch writes one per worker). Every member is
// initialised, so the table (1 MB) is constant-initialised, all zeros: it
// costs no start-up work, and only the pages of slots in use are touched.
constexpr int kTempSlots = 256;
struct temp_slot {
    std::atomic<bool> taken{false};
    std::atomic<bool> armed{false};
    char path[PATH_MAX]{};
};
temp_slot temp_slots[kTempSlots];
std::atomic<bool> temp_directory_armed{false};
char temp_directory[PATH_MAX];

void unlink_pending_and_die(int sig) {
    for (temp_slot& s : temp_slots)
        if (s.armed.load()) unlink(s.path);
    if (temp_directory_armed.load()) rmdir(temp_directory);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

sigset_t held_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&set, sig);
    return set;
}

} // namespace

int register_temporary_file(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kTempSlots; ++i) {
        bool expected = false;
        if (temp_slots[i].taken.compare_exchange_strong(expected, true)) {
            std::memcpy(temp_slots[i].path, path.c_str(), path.size() + 1);
            temp_slots[i].armed.store(true);
            return i;
        }
    }
    return -1;
}

void release_temporary_file(int& slot) {
    if (slot < 0) return;
    temp_slots[slot].armed.store(false);
    temp_slots[slot].taken.store(false);
    slot = -1;
}

void remove_temporary_files_on_signals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction old{};
        // A signal ignored by whoever started us (nohup, trap '' HUP) is
        // left ignored: that was the point of ignoring it.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action{};
        action.sa_handler = unlink_pending_and_die;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
}

void register_temporary_directory(const std::string& path) {
    if (path.size() >= PATH_MAX) return;
    std::memcpy(temp_directory, path.c_str(), path.size() + 1);
    temp_directory_armed.store(true);
}

void release_temporary_directory() { temp_directory_armed.store(false); }

signals_held::signals_held() {
    const sigset_t set = held_signals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

signals_held::~signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

} // namespace g729::tool
