// A folder a run makes and fills as a whole.
#pragma once

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

} // namespace g729::tool
