#pragma once

#include <string>

// A fresh directory under the system temp folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Writes `content` to Path()/relative, creating parent folders.
    std::string Write(const std::string& relative, const std::string& content) const;
    static std::string Read(const std::string& file);

private:
    std::string path;
};
