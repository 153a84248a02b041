#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "PkgDataTypes/Matrix44.h"
#include "PkgDataTypes/Vector3.h"
#include "PkgPluginManager/TCPClient.h"

namespace PluginFramework {

// Client of an IFM O2D smart camera: receives its result messages on a thread
// of its own and keeps the newest recognised part as a target in robot base
// coordinates.
class CameraIFMO2D {
public:
    static constexpr int receiveBufferSize = 1024;

    CameraIFMO2D();
    virtual ~CameraIFMO2D();
    CameraIFMO2D(const CameraIFMO2D&) = delete;
    CameraIFMO2D& operator=(const CameraIFMO2D&) = delete;

    // Starts the client thread, which reads the configuration and ends at once
    // (IsRunning false again) when no address is configured. Start returns
    // without touching a file, so it may be called from the robot cycle.
    void Start();
    // Ends the client thread and waits for it.
    int Stop();
    bool IsRunning() const { return running.load(); }
    bool IsConnected() const { return connected.load(); }

    int ReadConfigFile();
    // One consistent copy of the newest target; false (outputs untouched) when none.
    bool GetTargetPos(float* xyz, float* angle, int* modelClass);
    // Parses one result message: 0 target stored, -1 FAIL (or geometry busy), -2 unrecognised.
    int ParseMessage(char* text);
    int TransformPixelToMM(int px, int py, int angle);
    // Feeds received bytes. A message runs from its "start" to "stop" or to the
    // next start; the target is invalid from the moment a new message begins
    // until it completes as a PASS, so a FAIL acts without its "stop".
    void Receive(const char* data, int count);

    // Folder of the configuration file; defaults to the log's working directory + "/Data/Plugins".
    void SetConfigDirectory(const std::string& dir) { configDirectory = dir; }
    std::string ConfigPath() const;

    std::atomic<bool> running{false};
    std::atomic<bool> stopRequest{false};
    std::atomic<bool> geometryBusy{false};
    int imageCenterX = 320;
    int imageCenterY = 240;
    std::string ip;
    int port = 0;
    float maxWaitTime = 0.0f;
    float scaleX = 1.0f;
    float scaleY = 1.0f;
    DataTypes::Vector3 origin, look, up;
    float zDistance = 0.0f;
    DataTypes::Matrix44 cameraPose;
    std::string configFileName = "ConfigSmartCameraIFMO2D.xml";

private:
    static void threadIFMO2DClient(CameraIFMO2D* camera);
    void ClientLoop();
    int Convert(int px, int py, int angle, const int* cls);
    void Invalidate();

    mutable std::mutex targetMutex;  // the target fields and the geometry
    DataTypes::Vector3 target;
    float targetAngle = 0.0f;
    int modelClass = 0;
    bool targetValid = false;

    std::string configDirectory;
    std::string pending;  // received text not yet ending in a complete message
    bool unterminatedLogged = false;  // once per connection
    TCPClient client;
    std::atomic<bool> connected{false};
    std::thread worker;
};

}  // namespace PluginFramework
