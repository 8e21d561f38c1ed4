#pragma once
// A fresh folder under /tmp for one test's files, removed with everything in it when the test ends.

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace veraxo_test {

class TempDir {
public:
    // The folder is named /tmp/veraxo-<tag>-XXXXXX.
    explicit TempDir(const std::string& tag) {
        std::string name = "/tmp/veraxo-" + tag + "-XXXXXX";
        _path = ::mkdtemp(name.data());
    }
    ~TempDir() { std::filesystem::remove_all(_path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return _path + "/" + name; }
    // The names of what the folder holds, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const auto& e : std::filesystem::directory_iterator(_path))
            n.push_back(e.path().filename().string());
        std::sort(n.begin(), n.end());
        return n;
    }

private:
    std::string _path;
};

} // namespace veraxo_test
