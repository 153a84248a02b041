#include "PkgPluginManager/CameraIFMO2D.h"

#include <tinyxml2.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "LogSingleton.h"
#include "PkgPluginManager/PluginWait.h"
#include "RealTimeScheduling.h"
#include "TextFormat.h"

namespace PluginFramework {

CameraIFMO2D::CameraIFMO2D() {}

CameraIFMO2D::~CameraIFMO2D() {
    stopRequest = true;
    if (worker.joinable()) worker.join();
}

std::string CameraIFMO2D::ConfigPath() const {
    std::string dir = configDirectory.empty()
                          ? LogSingleton::instance()->GetWorkingDirectory() + "/Data/Plugins"
                          : configDirectory;
    return dir + "/" + configFileName;
}

int CameraIFMO2D::ReadConfigFile() {
    LogSingleton* log = LogSingleton::instance();
    const std::string path = ConfigPath();
    log->add("");
    log->add("Camera Client: reading config file...");
    log->add(path);
    FILE* probe = std::fopen(path.c_str(), "r");
    if (probe == nullptr) {
        std::cerr << "File " << path << " not available! Aborting read()" << std::endl;
        return 1;
    }
    std::fclose(probe);
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        log->addError("Could not read camera config file correctly! Aborting! ");
        return -5;
    }
    tinyxml2::XMLElement* root = doc.FirstChildElement("Configuration");
    if (root == nullptr) {
        // A defective camera file must not take the whole controller down at
        // program start: the plug-in stays unconfigured and the program stops.
        log->addError("Camera config file: line Configuration not found in project file!");
        return -6;
    }
    tinyxml2::XMLElement* connection = root->FirstChildElement("Cam0Connection");
    if (connection == nullptr) {
        log->addError("Camera config file: line \"Cam0Connection\" not found in file!");
        return -8;
    }
    const char* address = connection->Attribute("IP");
    ip = address != nullptr ? address : "";
    port = 0;
    connection->QueryIntAttribute("Port", &port);

    tinyxml2::XMLElement* geometry = root->FirstChildElement("Cam0Geometry");
    if (geometry == nullptr) {
        log->addError("Camera config file: line \"Cam0Geometry\" not found in file!");
        return -8;
    }
    auto value = [geometry](const char* name, float fallback) {
        float v = fallback;
        geometry->QueryFloatAttribute(name, &v);
        return v;
    };
    float waitTime = value("MaxWaitTime", 0), sx = value("ScaleX", 1), sy = value("ScaleY", 1);
    DataTypes::Vector3 o(value("OriginX", 0), value("OriginY", 0), value("OriginZ", 0));
    DataTypes::Vector3 l(value("LookX", 0), value("LookY", 0), value("LookZ", 0));
    DataTypes::Vector3 u(value("UpX", 0), value("UpY", 0), value("UpZ", 0));
    float z = value("ZDistance", 0);

    geometryBusy = true;
    wait(10);
    {
        std::lock_guard<std::mutex> lock(targetMutex);
        maxWaitTime = waitTime;
        scaleX = sx;
        scaleY = sy;
        origin = o;
        look = l;
        up = u;
        zDistance = z;
        DataTypes::Vector3 third;
        DataTypes::Vector3::CreateCoordSystem(up, look, third);
        cameraPose = DataTypes::Matrix44(up, third, look, origin);
    }
    geometryBusy = false;

    log->add(Format("Camera configuration: %s:%d", ip.c_str(), port));
    log->add(Format("Camera configuration:  Wait %.1lf  Scale %.2lf %.2lf", double(maxWaitTime),
                    double(scaleX), double(scaleY)));
    log->add(Format("Camera configuration:  Origin %.1lf %.1lf %.1lf  Look %.1lf %.1lf %.1lf  Up "
                    "%.1lf %.1lf %.1lf  ZDinstance %.1lf",
                    double(origin.x), double(origin.y), double(origin.z), double(look.x),
                    double(look.y), double(look.z), double(up.x), double(up.y), double(up.z),
                    double(zDistance)));
    log->add("");
    return 0;
}

void CameraIFMO2D::Start() {
    if (running.load()) return;
    if (worker.joinable()) worker.join();  // a thread that ended on an earlier stop
    stopRequest = false;
    running = true;
    worker = std::thread(threadIFMO2DClient, this);
}

int CameraIFMO2D::Stop() {
    stopRequest = true;
    if (worker.joinable()) worker.join();
    return 0;
}

void CameraIFMO2D::threadIFMO2DClient(CameraIFMO2D* camera) {
    // May be started from the robot cycle, whose real-time scheduling it must not inherit.
    RealTimeScheduling::EnterNormalThread();
    camera->ClientLoop();
}

void CameraIFMO2D::ClientLoop() {
    LogSingleton* log = LogSingleton::instance();
    ReadConfigFile();
    if (ip.empty() || port <= 0) {
        log->addError("Camera Client IFM O2D: no camera address configured");
        running = false;
        return;
    }
    log->add(Format("Camera Client IFM O2D connecting to %s port %d", ip.c_str(), port));
    bool failureLogged = false;
    char buffer[receiveBufferSize];
    while (!stopRequest.load()) {
        if (!client.IsConnected()) {
            connected = false;
            if (client.setup(ip, port, 500)) {
                connected = true;
                pending.clear();
                unterminatedLogged = false;
                log->add(Format("Camera Client IFM O2D connected to %s port %d", ip.c_str(), port));
                failureLogged = false;
            } else {
                if (!failureLogged)
                    log->addError(Format("Camera Client IFM O2D: cannot connect to %s port %d, retrying",
                                         ip.c_str(), port));
                failureLogged = true;
                for (int i = 0; i < 10 && !stopRequest.load(); ++i) wait(50);
                continue;
            }
        }
        // Leave room for the terminating NUL inside the buffer.
        int n = client.readBytes(buffer, receiveBufferSize - 1, 100);
        if (n > 0) Receive(buffer, n);
    }
    client.Close();
    connected = false;
    log->add("IFM O2D Client: stopping com thread... **********************************");
    running = false;
}

namespace {
// Where the message whose "start" lies at or after `from` begins: the camera
// puts four digits ("0000") before the word. No more than four are taken, since
// the last field of a PASS cut short before its "stop" may end in digits.
std::string::size_type MessageBegin(const std::string& text, std::string::size_type from) {
    const std::string::size_type word = text.find("start", from);
    if (word == std::string::npos) return word;
    std::string::size_type at = word;
    while (at > from && word - at < 4 && std::isdigit(static_cast<unsigned char>(text[at - 1]))) --at;
    return at;
}
}  // namespace

void CameraIFMO2D::Receive(const char* data, int count) {
    if (count <= 0) return;
    pending.append(data, size_t(count));
    for (;;) {
        const std::string::size_type begin = MessageBegin(pending, 0);
        if (begin == std::string::npos) {
            // No message under way: keep only what may be the first part of the next start.
            if (pending.size() > 16) pending.erase(0, pending.size() - 16);
            break;
        }
        pending.erase(0, begin);
        // A newer result is on its way: the previous target is no longer the
        // part in view, whether this one becomes a PASS, a FAIL or nothing.
        Invalidate();
        const std::string::size_type body = pending.find("start") + 5;
        const std::string::size_type next = MessageBegin(pending, body);
        const std::string::size_type stop = pending.find("stop", body);
        if (stop != std::string::npos && (next == std::string::npos || stop < next)) {
            std::string message = pending.substr(0, stop + 4);
            pending.erase(0, stop + 4);
            if (message.size() >= size_t(receiveBufferSize)) message.resize(receiveBufferSize - 1);
            char text[receiveBufferSize];
            std::memcpy(text, message.c_str(), message.size() + 1);
            ParseMessage(text);
            continue;
        }
        if (next == std::string::npos) break;  // the message is not complete yet
        // A new start ends the message before it. A FAIL needs no "stop"; a PASS
        // without one may be cut anywhere and is not taken as a target.
        if (pending.compare(body, 4, "FAIL") != 0 && !unterminatedLogged) {
            LogSingleton::instance()->addError("Camera Client IFM O2D: result without \"stop\" ignored");
            unterminatedLogged = true;
        }
        pending.erase(0, next);
    }
    // A message that never ends cannot become a result: keep the text bounded.
    if (pending.size() > size_t(receiveBufferSize)) {
        LogSingleton::instance()->addError("Camera Client IFM O2D: dropping unterminated message text");
        pending.clear();
    }
}

int CameraIFMO2D::ParseMessage(char* text) {
    const char* fail = std::strstr(text, "000startFAIL");
    if (fail != nullptr && fail > text) {
        Invalidate();
        return -1;
    }
    const char* pass = std::strstr(text, "000startPASS");
    if (pass == nullptr || pass != text + 1) {
        Invalidate();
        return -2;
    }
    float f1 = 0, rotation = 0, f7 = 0;
    int f2 = 0, cls = 0, px = 0, py = 0;
    std::sscanf(text, "0000startPASS#%f#%d#%d#%d#%d#%f#%fstop", &f1, &f2, &cls, &px, &py, &rotation,
                &f7);
    // A rotation no int can hold (or NaN) is no result: converting it would be undefined.
    if (!(std::fabs(rotation) <= 2147483520.0f)) {
        LogSingleton::instance()->addError("Camera Client IFM O2D: rotation out of range, message ignored");
        Invalidate();
        return -2;
    }
    return Convert(px, py, int(rotation), &cls);
}

int CameraIFMO2D::TransformPixelToMM(int px, int py, int angle) { return Convert(px, py, angle, nullptr); }

int CameraIFMO2D::Convert(int px, int py, int angle, const int* cls) {
    if (geometryBusy.load()) return -1;
    // Target, angle and class change together: a reader sees one result, never half of two.
    std::lock_guard<std::mutex> lock(targetMutex);
    // In 64 bits: pixel values from the wire may be anywhere in the int range.
    DataTypes::Vector3 p(float(int64_t(px) - imageCenterX) * scaleX,
                         float(int64_t(py) - imageCenterY) * scaleY, zDistance);
    target = cameraPose * p;
    targetAngle = float(angle);
    if (cls != nullptr) modelClass = *cls;
    targetValid = true;
    return 0;
}

void CameraIFMO2D::Invalidate() {
    std::lock_guard<std::mutex> lock(targetMutex);
    targetValid = false;
}

bool CameraIFMO2D::GetTargetPos(float* xyz, float* angle, int* cls) {
    std::lock_guard<std::mutex> lock(targetMutex);
    if (!targetValid) return false;
    xyz[0] = target.x;
    xyz[1] = target.y;
    xyz[2] = target.z;
    *angle = targetAngle;
    *cls = modelClass;
    return true;
}

}  // namespace PluginFramework
