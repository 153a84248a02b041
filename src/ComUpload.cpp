#include "ComUpload.h"

#include <cstdio>

#include "ComMessageParser.h"
#include "TextFormat.h"

ComUpload::~ComUpload() { Abandon(); }

std::vector<std::string> ComUpload::Abandon() {
    std::vector<std::string> log;
    if (!file.is_open()) return log;
    file.close();
    std::remove(partPath.c_str());
    log.push_back(Format("NEX-Server: upload of %s closed unfinished after %d lines", name.c_str(), received));
    return log;
}

std::vector<std::string> ComUpload::Init(const std::string& dataDirectory,
                                         const std::string& fileName, int announcedLines) {
    std::vector<std::string> log = Abandon();
    received = 0;
    announced = announcedLines;
    name = fileName;
    failed = false;
    log.push_back("");
    log.push_back(Format("NEX-Server: Starting file upload: %s, %d", name.c_str(), announced));
    path = dataDirectory + name;
    // Beside the target, so that putting it in place is one rename.
    const std::string::size_type slash = path.rfind('/');
    const std::string::size_type cut = slash == std::string::npos ? 0 : slash + 1;
    partPath = path.substr(0, cut) + "." + path.substr(cut) + ".upload";
    file.open(partPath, std::ios::out | std::ios::trunc);
    log.push_back("   Full path: " + path);
    if (!file.is_open()) {
        failed = true;
        log.push_back("NEX-Server: ERROR could not open upload file " + path);
    }
    return log;
}

std::vector<std::string> ComUpload::Line(const std::string& text) {
    std::vector<std::string> log;
    if (!file.is_open()) {
        log.push_back("NEX-Server: ERROR upload line without an open upload, ignored");
        return log;
    }
    char head[64];
    std::snprintf(head, sizeof(head), "   File upload line %d: ", received);
    log.push_back(head + ComMessageParser::Printable(text));
    file << text << '\n';
    if (!file) failed = true;
    ++received;
    return log;
}

std::vector<std::string> ComUpload::Refused() {
    std::vector<std::string> log;
    if (!file.is_open()) return log;
    failed = true;
    log.push_back(Format("NEX-Server: ERROR upload of %s: line %d refused, the upload fails", name.c_str(), received));
    return log;
}

std::vector<std::string> ComUpload::Finish(std::string* displayText) {
    std::vector<std::string> log;
    if (!file.is_open()) {
        log.push_back("NEX-Server: ERROR UploadFileFinish without an open upload");
        if (displayText != nullptr) *displayText = "Upload failed: " + name;
        return log;
    }
    file.flush();
    if (!file) failed = true;
    file.close();
    if (!failed && std::rename(partPath.c_str(), path.c_str()) != 0) failed = true;
    if (failed) std::remove(partPath.c_str());
    std::string text;
    if (failed) {
        text = Format("Upload of %s failed after %d lines", name.c_str(), received);
        log.push_back("NEX-Server: ERROR " + text);
    } else {
        text = Format("%s uploaded, %d lines", name.c_str(), announced);
        log.push_back(text);
    }
    log.push_back("");
    if (displayText != nullptr) *displayText = text;
    return log;
}
