// A folder a run makes and fills as a whole.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace g729::tool {

// A folder the run makes: filled under a temporary name beside its final
// one and renamed into place at the end, so that it never exists half
// written. Removed, with the files the run put in it, unless kept.
class new_folder {
public:
    explicit new_folder(const std::string& final_path);
    ~new_folder();
    new_folder(const new_folder&) = delete;
    new_folder& operator=(const new_folder&) = delete;

    const std::string& path() const { return path_; }
    void made(const std::string& name) { made_.push_back(name); }
    // Under its final name, unless something took that name meanwhile.
    void keep();

private:
    std::string final_;
    std::string path_;
    std::vector<std::string> made_;
    bool kept_ = false;
};

class output_file;

// One file of a run that writes several as a whole: a path the user gave,
// or (generated) a name the run chose within its output folder.
struct planned_output {
    std::string path;
    bool generated = false;
};

// All or nothing: every file is written (`write` fills the i-th, and may
// throw) and synced under a temporary name first; only then are they
// renamed into place, with the signals that could cut the renames short
// held. A failure before that point, or an interruption, leaves everything
// as it was: the temporary files go, earlier files of the same names stay.
// Generated names go into `folder`, made anew as a whole when
// `make_folder`.
void write_all_or_nothing(const std::vector<planned_output>& files, const std::string& folder, bool make_folder,
                          const std::function<void(output_file&, std::size_t)>& write);

} // namespace g729::tool
