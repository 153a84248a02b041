#pragma once

#include <fstream>
#include <string>
#include <vector>

// The front-end's file upload: a text file written line by line into the
// data directory. The lines go to a temporary file beside the target, which
// replaces the target only when the upload finishes whole; a failed or
// unfinished upload leaves the target as it was. Each step returns the log
// lines it produced.
class ComUpload {
public:
    ComUpload() = default;
    ~ComUpload();
    ComUpload(const ComUpload&) = delete;
    ComUpload& operator=(const ComUpload&) = delete;

    // Starts an upload to dataDirectory + name. A still open upload is
    // abandoned first. The name must already be checked as safe.
    std::vector<std::string> Init(const std::string& dataDirectory, const std::string& name,
                                  int announcedLines);
    // Writes one line (the text and a line feed).
    std::vector<std::string> Line(const std::string& text);
    // A line of this upload was refused before it got here: the upload fails.
    std::vector<std::string> Refused();
    // Closes the file and puts it in place, unless a line was lost or a write
    // failed. *displayText receives the text for the operator.
    std::vector<std::string> Finish(std::string* displayText);
    // Drops an open upload (its client went away); the target stays as it was.
    std::vector<std::string> Abandon();

    bool IsOpen() const { return file.is_open(); }
    int Announced() const { return announced; }
    int Received() const { return received; }
    const std::string& Name() const { return name; }
    const std::string& Path() const { return path; }

private:
    std::ofstream file;
    std::string name;
    std::string path;
    std::string partPath;  // where the lines go until Finish
    int announced = 0;
    int received = 0;
    bool failed = false;  // a write or the open failed, or a line was refused
};
