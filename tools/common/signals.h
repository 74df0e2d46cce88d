// Temporary files and folders that must not outlive an interrupted run,
// and the signals held while a run of renames completes.
#pragma once

#include <csignal>
#include <string>

namespace g729::tool {

// On SIGINT, SIGTERM, SIGHUP or SIGPIPE the pending temporary files are
// removed before the process dies of the signal. A signal the process was
// started with ignored (nohup, trap '' HUP) stays ignored.
void remove_temporary_files_on_signals();

// A directory being filled before it is renamed into place: removed (once
// empty) by the same signal handler, after the temporary files in it.
void register_temporary_directory(const std::string& path);
void release_temporary_directory();

// Holds SIGINT, SIGTERM, SIGHUP and SIGPIPE for as long as it lives, so that
// a run of renames is done entirely or (killed before) not at all; a signal
// that came meanwhile is delivered when it ends.
class signals_held {
public:
    signals_held();
    ~signals_held();
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

private:
    sigset_t previous_;
};

// A temporary file being written, known to the signal handler from here
// until it is released; returns its slot (-1 when none is free or the path
// is too long, and the file is then left behind by a signal).
int register_temporary_file(const std::string& path);
void release_temporary_file(int& slot);

} // namespace g729::tool
