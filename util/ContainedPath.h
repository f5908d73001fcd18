#pragma once
#include <string>

// ContainedPath keeps a file name that comes from the database inside the
// directory it belongs to (templates under the model's template folder,
// images under the model's image folder). A name is refused when it is
// absolute, has a ".." component or a NUL byte, or when one of its parts
// that exists is a symbolic link whose target lies outside the directory.
// Parts that do not exist are not followed: without ".." they cannot lead
// out, and a missing file stays the ordinary failure of whoever opens it.
class ContainedPath {
public:
    // "" when dir + name stays inside dir (also for an empty name, which
    // names no file); otherwise why not, as a phrase: "an absolute name",
    // "a name with a '..' component", "a name that leads out of its folder
    // through the symbolic link 'LINK'". dir may lack its trailing slash.
    static std::string refusal(const std::string& dir, const std::string& name);
    // dir and name joined by one slash.
    static std::string join(const std::string& dir, const std::string& name);
};
