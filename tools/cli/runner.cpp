#include "tools/cli/runner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "tools/common/text.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

namespace {

std::mutex stdout_lines; // a batch's per-file results on standard output
// Whether info has printed a text block yet: the next stands apart from it
// by a blank line. Its JSON is one object a line; dump's lines describe
// themselves.
bool info_block_printed = false;

bool timed(const std::string& command) { return command != "info" && command != "convert"; }

} // namespace

void print_block(const std::string& text, std::FILE* stream) {
    const std::lock_guard<std::mutex> lock(stdout_lines);
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0)
        throw tool_error(stream == stdout ? "standard output" : "standard error", std::string("cannot write: ") + std::strerror(errno));
}

std::string block_separator() {
    const bool first = !info_block_printed;
    info_block_printed = true;
    return first ? "" : "\n";
}

int run_single(const std::string& command, file_command work, const file_job& job, const command_options& options) {
    reporter report(options.quiet || (command == "info" && options.json) || command == "dump", command);
    const file_result r = work(job, options, report);
    report.summary(r.frames, r.audio_seconds, timed(command));
    return 0;
}


void separate_blocks(const std::string& command, const command_options& options) {
    if (command != "info" || options.json) return;
    const std::string separator = block_separator();
    if (!separator.empty()) print_block(separator);
}

int run_one_of_several(const std::string& command, file_command work, const file_job& job, const command_options& options) {
    reporter report(options.quiet || (command == "info" && options.json) || command == "dump", command, false);
    std::string problem = job.problem;
    if (problem.empty()) {
        try {
            const file_result r = work(job, options, report);
            report.line(command + ": " + input_name(job.in) + ": " + plural(r.frames, "frame", "frames") +
                        format_text(", %.2f s of audio", r.audio_seconds));
            return 0;
        } catch (const tool_error& e) {
            problem = e.file + ": " + e.what();
        } catch (const std::bad_alloc&) {
            problem = input_name(job.in) + ": out of memory";
        }
    }
    report.failure(problem);
    return 1;
}

int run_batch(const std::string& command, file_command work, const std::vector<file_job>& jobs, const command_options& options) {
    reporter overall(options.quiet, command, false);
    unsigned workers = options.jobs > 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min<unsigned>(workers, unsigned(jobs.size()));

    std::vector<std::string> failures(jobs.size());
    std::vector<char> failed(jobs.size(), 0);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> total_frames{0};
    std::mutex seconds_lock;
    double total_seconds = 0.0;

    command_options batch_options = options;
    batch_options.batch = true;
    auto worker = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= jobs.size()) return;
            const file_job& job = jobs[i];
            reporter report(options.quiet, command, false);
            std::string problem = job.problem;
            if (problem.empty()) {
                try {
                    const file_result r = work(job, batch_options, report);
                    total_frames += r.frames;
                    {
                        const std::lock_guard<std::mutex> lock(seconds_lock);
                        total_seconds += r.audio_seconds;
                    }
                    report.line(command + ": " + input_name(job.in) + " -> " + output_name(job.out) + ": " +
                                plural(r.frames, "frame", "frames") + format_text(", %.2f s of audio", r.audio_seconds));
                    continue;
                } catch (const tool_error& e) {
                    problem = e.file + ": " + e.what();
                } catch (const usage_error& e) {
                    problem = input_name(job.in) + ": " + e.what();
                } catch (const std::bad_alloc&) {
                    problem = input_name(job.in) + ": out of memory";
                }
            }
            failed[i] = 1;
            failures[i] = problem;
            report.failure(problem);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; ++t) threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads) t.join();

    const std::size_t failed_count = std::size_t(std::count(failed.begin(), failed.end(), 1));
    std::string summary = command + ": " + plural(jobs.size(), "file", "files") + ", " + std::to_string(jobs.size() - failed_count) +
                          " done, " + std::to_string(failed_count) + " failed; " + plural(total_frames, "frame", "frames") +
                          format_text(", %.2f s of audio in %.2f s on %s", total_seconds, overall.elapsed(),
                                      plural(workers, "thread", "threads").c_str());
    if (failed_count == 0) {
        overall.line(summary);
        return 0;
    }
    // Every failure again, together, where the eye lands last.
    std::string text = "g729a: " + summary + "\n";
    for (std::size_t i = 0; i < jobs.size(); ++i)
        if (failed[i]) text += "g729a:   failed: " + failures[i] + "\n";
    std::fputs(text.c_str(), stderr);
    return 1;
}

} // namespace g729::tool
