#include "support/ExampleBase.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

ExampleBase::ExampleBase(const std::string& example) : base(dir.Path() + "/Orvane") {
    fs::create_directories(base);
    if (!example.empty())
        fs::copy(std::string(ORVANE_SOURCE_DIR) + "/examples/" + example, base, fs::copy_options::recursive);
}

testing::AssertionResult ExampleBase::ReplaceInFile(const std::string& path, const std::string& from,
                                                    const std::string& to) {
    std::string text = TempDir::Read(path);
    const size_t at = text.find(from);
    if (at == std::string::npos) return testing::AssertionFailure() << from;
    text.replace(at, from.size(), to);
    std::ofstream(path, std::ios::trunc) << text;
    return testing::AssertionSuccess();
}

void ExampleBase::Edit(const std::string& relative, const std::string& from, const std::string& to) const {
    ASSERT_TRUE(ReplaceInFile(base + "/" + relative, from, to));
}

void ExampleBase::Program(const std::string& name, const std::string& body) const {
    std::ofstream(base + "/Data/Programs/" + name, std::ios::trunc)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Program>\n" << body << "</Program>\n";
}

std::vector<std::string> ControllerEnvironment(int busPort, int frontendPort) {
    return {"ORVANE_CAN=udp:" + std::to_string(busPort), "ORVANE_FRONTEND_PORT=" + std::to_string(frontendPort),
            "ORVANE_FRONTEND_ADDRESS=127.0.0.1"};
}
