#pragma once

#include <fstream>
#include <string>
#include <vector>

// The front-end's file upload: a text file written line by line into the
// data directory. Each step returns the log lines it produced.
class ComUpload {
public:
    ComUpload() = default;
    ~ComUpload();
    ComUpload(const ComUpload&) = delete;
    ComUpload& operator=(const ComUpload&) = delete;

    // Opens dataDirectory + name for writing (truncating). A still open
    // upload is closed first. The name must already be checked as safe.
    std::vector<std::string> Init(const std::string& dataDirectory, const std::string& name,
                                  int announcedLines);
    // Writes one line (the text and a line feed).
    std::vector<std::string> Line(const std::string& text);
    // Closes the file. *displayText receives the text for the operator.
    std::vector<std::string> Finish(std::string* displayText);

    bool IsOpen() const { return file.is_open(); }
    int Announced() const { return announced; }
    int Received() const { return received; }
    const std::string& Name() const { return name; }
    const std::string& Path() const { return path; }

private:
    std::ofstream file;
    std::string name;
    std::string path;
    int announced = 0;
    int received = 0;
    bool failed = false;  // a write or the open failed
};
