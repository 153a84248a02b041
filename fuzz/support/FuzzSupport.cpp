#include "support/FuzzSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "LogSingleton.h"

namespace FuzzSupport {

namespace {

std::string directory;

void RemoveDirectory() {
    if (directory.empty()) return;
    std::error_code ignored;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
    std::filesystem::remove_all(directory, ignored);
}

}  // namespace

const std::string& TempDirectory() {
    if (!directory.empty()) return directory;
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    directory = pattern;
    std::filesystem::current_path(directory);
    std::atexit(RemoveDirectory);
    // The process log is made here, in the temporary directory, before any target code logs.
    LogSingleton* log = LogSingleton::instance();
    log->SetConsoleEcho(false);
    log->SetBaseDirectory(directory + "/");
    return directory;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    return bool(file);
}

bool WriteFile(const std::string& path, const std::string& text) {
    return WriteFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string Input::Bytes(size_t count) {
    const size_t n = count < Remaining() ? count : Remaining();
    std::string out(reinterpret_cast<const char*>(data + position), n);
    position += n;
    return out;
}

std::string Input::Rest() { return Bytes(Remaining()); }

}  // namespace FuzzSupport
