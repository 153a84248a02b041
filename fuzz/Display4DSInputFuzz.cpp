// 4DS panel serial stream: input bytes arrive in pieces of varying size, are cut
// into frames and decoded by the driver (jog values, key commands). The same
// bytes also go through the panel side's decoder of the controller's frames.
#include <algorithm>
#include <cstdint>
#include <string>

#include "PkgDisplay/Display4DS.h"
#include "PkgDisplay/Display4DSProtocol.h"
#include "PkgDisplay/FrameAssembler.h"
#include "support/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::TempDirectory();
    FuzzSupport::Input input(data, size);
    const size_t piece = 1 + input.Byte() % 40;
    DataTypes::RobotState state;
    const uint8_t outputs = input.Byte();
    for (int i = 0; i < DataTypes::RobotState::maxIO; ++i) state.digitalOut[i] = (outputs >> (i % 8)) & 1;
    const std::string stream = input.Rest();
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());

    Display4DS display;
    display.SetValues(state);
    FrameAssembler inputFrames(&Display4DSProtocol::InputFrameLength, 4 * Display4DSProtocol::inputFrameSize);
    FrameAssembler outputFrames(&Display4DSProtocol::OutputFrameLength, 4 * Display4DSProtocol::positionFrameSize);
    for (size_t start = 0; start < stream.size(); start += piece) {
        const size_t n = std::min(piece, stream.size() - start);
        inputFrames.Feed(bytes + start, n, [&](const uint8_t* frame, size_t length) {
            display.HandleInputFrame(frame, length);
            display.GetCommand();
        });
        outputFrames.Feed(bytes + start, n, [&](const uint8_t* frame, size_t length) {
            std::string text;
            Display4DSProtocol::DecodeText(frame, length, &text);
            Display4DSProtocol::PositionFrame position;
            Display4DSProtocol::DecodePosition(frame, length, &position);
        });
    }
    // Whole frames straight to the decoders as well, whatever their length.
    Display4DSProtocol::InputFrame frame;
    Display4DSProtocol::DecodeInput(bytes, stream.size(), &frame);
    return 0;
}
