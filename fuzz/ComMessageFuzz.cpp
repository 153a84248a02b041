// Front-end channel: bytes as a client sends them go through the framing, every
// framed message through the parser, and upload requests into a temporary data
// directory, the way the server does.
#include <cstdint>
#include <filesystem>
#include <string>

#include "ComFrameReader.h"
#include "ComMessageParser.h"
#include "ComUpload.h"
#include "support/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string dataDirectory = FuzzSupport::TempDirectory() + "/Data/Programs";
    std::filesystem::create_directories(dataDirectory);
    bool uploaded = false;

    ComFrameReader reader;
    ComUpload upload;
    for (size_t i = 0; i < size; ++i) {
        const ComFrameReader::Result result = reader.Feed(char(data[i]));
        if (result == ComFrameReader::Result::Overflow) {
            reader.Reset();
            continue;
        }
        if (result != ComFrameReader::Result::Complete) continue;
        const std::string message = reader.Message();
        reader.Reset();
        ComRequest request = ComMessageParser::Parse(message);
        switch (request.action) {
            case ComRequest::Action::UploadInit:
                // The parser must never hand out a name that leaves the data directory.
                if (!ComMessageParser::IsSafeName(request.text)) __builtin_trap();
                upload.Init(dataDirectory + "/", request.text, request.number);
                uploaded = true;
                break;
            case ComRequest::Action::UploadLine:
                upload.Line(request.text);
                break;
            case ComRequest::Action::UploadLineRefused:
                upload.Refused();
                break;
            case ComRequest::Action::UploadFinish: {
                std::string shown;
                upload.Finish(&shown);
                break;
            }
            default:
                break;
        }
    }
    // Uploads of one input do not pile up over a long run.
    if (uploaded) {
        std::error_code ignored;
        std::filesystem::remove_all(dataDirectory, ignored);
    }
    // The parser on its own, with the raw input as one message.
    ComMessageParser::Parse(reinterpret_cast<const char*>(data), int(size > 4096 ? 4096 : size));
    return 0;
}
