// Camera result messages: the received byte stream in pieces of varying size,
// then the whole input as one message straight to the parser.
#include <cstdint>
#include <cstring>
#include <vector>

#include "PkgPluginManager/CameraIFMO2D.h"
#include "support/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::TempDirectory();
    FuzzSupport::Input input(data, size);
    const size_t piece = 1 + input.Byte() % 64;
    const std::string stream = input.Rest();

    PluginFramework::CameraIFMO2D camera;
    for (size_t start = 0; start < stream.size(); start += piece) {
        const size_t n = std::min(piece, stream.size() - start);
        camera.Receive(stream.data() + start, int(n));
        float xyz[3];
        float angle = 0;
        int cls = 0;
        camera.GetTargetPos(xyz, &angle, &cls);
    }

    std::vector<char> text(stream.begin(), stream.end());
    text.push_back('\0');
    camera.ParseMessage(text.data());
    return 0;
}
