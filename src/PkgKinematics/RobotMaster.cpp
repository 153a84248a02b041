#include "PkgKinematics/RobotMaster.h"

#include <pthread.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>

#include <tinyxml2.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgHardware/HardwareProtocol.h"
#include "PkgHardware/ProtocolFactory.h"
#include "PkgKinematics/KinematicFactory.h"
#include "PkgKinematics/PlatformKinematic.h"
#include "PkgKinematics/RobotKinematic.h"
#include "RealTimeScheduling.h"
#include "TextFormat.h"

namespace {

LogSingleton* Log() { return LogSingleton::instance(); }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
void SleepUs(int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

bool ValidChannel(int n) { return n >= 0 && n < DataTypes::RobotState::maxIO; }

}  // namespace

// Holds the cycle off for an operation from another thread: pause flag set,
// then the cycle lock, which waits for a cycle in progress to end.
class RobotMaster::CyclePause {
public:
    explicit CyclePause(RobotMaster& robot) : rm(robot) {
        rm.loopPause.store(true);
        rm.cycleMutex.lock();
    }
    ~CyclePause() {
        rm.cycleMutex.unlock();
        rm.loopPause.store(false);
    }
    CyclePause(const CyclePause&) = delete;
    CyclePause& operator=(const CyclePause&) = delete;

private:
    RobotMaster& rm;
};

RobotMaster::RobotMaster() : clock(&RobotMaster::RealtimeUs) {}

RobotMaster::~RobotMaster() {
    StopMainLoop();
    loopPause.store(true);
    if (protocol) protocol->Disconnect();
}

int64_t RobotMaster::RealtimeUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t RobotMaster::NowUs() const { return clock(); }

void RobotMaster::SetInitSleep(std::function<void(int ms)> sleepMs) { initSleep = std::move(sleepMs); }

void RobotMaster::SetClock(std::function<int64_t()> clockUs) {
    std::lock_guard<std::mutex> lock(cycleMutex);
    clock = clockUs ? std::move(clockUs) : std::function<int64_t()>(&RobotMaster::RealtimeUs);
}

// ---- Assembly -------------------------------------------------------------

void RobotMaster::Init(std::string name, std::string type) {
    robotName = name;
    robotType = type;
    const std::string path = Log()->GetBaseDirectory() + "Data/Robots/" + type + "/" + type + ".xml";
    ReadConfigFile(path);
    Log()->add("RobotMaster: " + std::to_string(cycleTime) + "ms cycle time");

    kinematic = KinematicFactory::Create(kinematicType);
    if (!kinematic) throw ConfigError(54, "RobotMaster: could not recognize robot type " + kinematicType);
    kinematic->Init(name, type, path);

    protocol = ProtocolFactory::Create(protocolType);
    if (!protocol) throw ConfigError(54, "RobotMaster: could not recognize protocol type " + protocolType);
    protocol->Init(name, type, path);

    Log()->add(" ");
    Log()->add(debugMode ? "Orvane DebugMode: On" : "Orvane DebugMode: Off");
    Log()->add("Set to true to run without or with partial hardware. Tag \"DebugMode\" in line \"Orvane\", robot ini file.");
    Log()->add(" ");

    InitGripper(gripperName);
    platformKinematic = std::make_unique<PlatformKinematic>();
    InitPlatform(platformName);
    if (initSleep) initSleep(20); else SleepMs(20);

    kinematic->cycleTime = double(cycleTime);
    for (int i = 0; i < 6; ++i) jointJogSpeed[i] = kinematic->maxJointVelocities[i];
    {
        std::lock_guard<std::mutex> lock(inputMutex);
        for (int i = 0; i < 6; ++i) jogValues[i] = 0.0f;
    }
    float joints[DataTypes::RobotState::maxJoints] = {0, 0, 0, 70, 0, 0, 0, 0, 0};
    for (int i = 6; i < DataTypes::RobotState::maxJoints; ++i) joints[i] = state.jointSetPoint[i];
    try {
        kinematic->SetJoints(joints, false);
    } catch (int code) {
        Log()->addError("RobotMaster: start joints rejected by the kinematic, code " + std::to_string(code));
    }
    for (int i = 0; i < DataTypes::RobotState::maxJoints; ++i) state.jointSetPoint[i] = joints[i];
    Publish();

    ProgramSetPlanningKinematic();

    if (initSleep) initSleep(1); else SleepMs(1);
    StartMainLoop();
    loopPause.store(false);
}

void RobotMaster::Assemble(std::unique_ptr<RobotKinematic> kin, std::unique_ptr<HardwareProtocol> prot,
                           int cycleTimeMs, bool debug) {
    kinematic = std::move(kin);
    protocol = std::move(prot);
    platformKinematic = std::make_unique<PlatformKinematic>();
    cycleTime = cycleTimeMs;
    debugMode = debug;
    if (kinematic) {
        kinematic->cycleTime = double(cycleTime);
        for (int i = 0; i < 6; ++i) jointJogSpeed[i] = kinematic->maxJointVelocities[i];
    }
    ProgramSetPlanningKinematic();
    loopPause.store(false);
}

void RobotMaster::ReadConfigFile(std::string path) {
    if (!std::ifstream(path).good()) throw ConfigError(46, "RobotMaster: could not find robot ini file: " + path);
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS)
        throw ConfigError(46, "RobotMaster: could not read robot ini file XML code correctly: " + path);

    const tinyxml2::XMLElement* root = doc.FirstChildElement("Robot");
    if (root == nullptr) throw ConfigError(46, "RobotMaster: line Robot not found in robot ini file!");

    const tinyxml2::XMLElement* bus = root->FirstChildElement("BusConfiguration");
    if (bus == nullptr) throw ConfigError(46, "RobotMaster: line BusConfiguration not found in robot ini file!");
    const char* protocolName = bus->Attribute("Protocol");
    if (protocolName == nullptr)
        throw ConfigError(46, "RobotMaster: attribute Protocol not found in line BusConfiguration of project file!");
    protocolType = protocolName;
    int cycle = 0;
    bus->QueryIntAttribute("CycleTimeMS", &cycle);
    if (cycle < 1)
        throw ConfigError(46, "RobotMaster: attribute CycleTimeMS not found in line BusConfiguration of robot ini file!");
    cycleTime = cycle;

    const tinyxml2::XMLElement* kin = root->FirstChildElement("Kinematic");
    if (kin == nullptr) throw ConfigError(46, "RobotMaster: line Kinematic not found in robot ini file!");
    const char* kinType = kin->Attribute("Type");
    if (kinType == nullptr)
        throw ConfigError(46, "RobotMaster: attribute \"Type\" not found in line \"Kinematic\" of robot ini file!");
    kinematicType = kinType;

    debugMode = false;
    const tinyxml2::XMLElement* orvane = root->FirstChildElement("Orvane");
    if (orvane == nullptr) {
        Log()->addError("RobotMaster: line \"Orvane\" not found in robot ini file!");
    } else {
        if (orvane->FindAttribute("DebugMode") == nullptr) {
            Log()->addError("RobotMaster: attribute \"DebugMode\" not found in line \"Orvane\" of robot ini file!");
        } else {
            orvane->QueryBoolAttribute("DebugMode", &debugMode);
        }
        if (const char* port = orvane->Attribute("DisplayPort")) {
            displayPort = port;
        } else {
            Log()->addError("RobotMaster: attribute \"DisplayPort\" not found in line \"Orvane\" of robot ini file!");
        }
    }

    bool optimize = true;
    const tinyxml2::XMLElement* pathGeneration = root->FirstChildElement("PathGeneration");
    if (pathGeneration == nullptr) {
        Log()->addError("RobotMaster: line \"PathGeneration\" not found in robot ini file!");
    } else if (pathGeneration->FindAttribute("Optimize") == nullptr) {
        Log()->addError("RobotMaster: attribute \"Optimize\" not found in line \"PathGeneration\" of robot ini file!");
    } else {
        pathGeneration->QueryBoolAttribute("Optimize", &optimize);
    }
    Log()->add(optimize ? "RobotMaster: path optimization set to TRUE" : "RobotMaster: path optimization set to FALSE");
    Log()->SetPathOptimize(optimize);
}

void RobotMaster::InitGripper(std::string name) {
    Log()->add("Gripper initialization:");
    if (name.empty()) {
        Log()->add("No gripper attached to the robot (to change set type in project file).");
    } else {
        gripper.Init(name);
        if (protocol) protocol->InitTool(1, gripper.GetBusID(), gripper.GetGearScale(), gripper.GetGearZero());
    }
    Log()->add("");
}

void RobotMaster::InitPlatform(std::string name) {
    if (name.empty()) {
        Log()->add("No mobile Platform with robot.");
    } else {
        Log()->add("Mobile Platform Rover150 added.");
        if (protocol) protocol->InitPlatform(4);
    }
    Log()->add("");
}

void RobotMaster::InitDIOModule(int id) {
    if (!protocol) return;
    CyclePause pause(*this);
    protocol->InitDIOModules(id);
}

void RobotMaster::StartMainLoop() {
    if (loopThread.joinable()) return;
    loopStop.store(false);
    loopThread = std::thread(&RobotMaster::ThreadLoop, this);
}

void RobotMaster::StopMainLoop() {
    loopStop.store(true);
    if (loopThread.joinable()) loopThread.join();
}

// ---- Cycle thread -----------------------------------------------------------

void RobotMaster::ThreadLoop() {
    const int64_t cycleLength = int64_t(cycleTime) * 1000;
    // Before the real-time scheduling: the log's writer thread must not inherit it.
    Log()->DeferThisThread();
    RealTimeScheduling::EnterCycleThread();
    sched_param param{};
    int policy = 0;
    pthread_getschedparam(pthread_self(), &policy, &param);
    Log()->add("RobotMainLoop is executing at priority ", param.sched_priority);
    Log()->add("RobotMainLoop scheduling: " + RealTimeScheduling::DescribeThisThread());

    scheduler.Restart(cycleLength * 1000);
    bool paused = false;

    while (true) {
        if (loopStop.load()) {
            std::cout << "RobotMainLoop stopped" << std::endl;
            Log()->StopDeferring();
            return;
        }

        std::unique_lock<std::mutex> lock(cycleMutex, std::defer_lock);
        if (loopPause.load() || !lock.try_lock()) {
            // Paused time is no cycle time: it counts neither in the statistics
            // nor as an overlong cycle, and the schedule starts anew after it.
            paused = true;
            SleepUs(cycleLength < 5000 ? cycleLength : 5000);
            continue;
        }
        if (paused) {
            scheduler.Restart(cycleLength * 1000);
            paused = false;
        }
        scheduler.BeginCycle();
        CycleWork();
        lock.unlock();
        TimingStep();
    }
}

void RobotMaster::TimingStep() {
    const int64_t elapsed = scheduler.EndCycle();
    if (elapsed > 50999) Log()->add("ERROR RobotMaster cycletime in ms: ", int(elapsed / 1000));
    scheduler.WaitForNextCycle();
}

void RobotMaster::RunCycleOnce() {
    std::lock_guard<std::mutex> lock(cycleMutex);
    CycleWork();
}

void RobotMaster::CycleWork() {
    try {
        state.override = override.load();
        ApplyManualOutputs();
        ReferenceAllStep();

        if (!debugMode && ProgramRunning() && state.errorText != "NoError") ProgramStop();

        bool connected = protocol && protocol->GetConnectionStatus();
        busConnected.store(connected);
        bool cartesianPermitted = true;
        if (connected && protocol->referencingMandatory) cartesianPermitted = protocol->allJointsReferenced;
        // After a lost bus the modules may answer "no error" again at once:
        // motion still waits for the operator's reset.
        bool motionPermitted = debugMode || (state.errorText == "NoError" && !busLost.load());
        if (motionPermitted) {
            // The set-points before this cycle's motion step (what was sent
            // last, unless an operation re-seated them meanwhile).
            float lastJoints[DataTypes::RobotState::maxJoints];
            float lastWheels[DataTypes::RobotState::maxPlatformJoints] = {0, 0, 0, 0};
            for (int i = 0; i < DataTypes::RobotState::maxJoints; ++i) lastJoints[i] = state.jointSetPoint[i];
            if (kinematic) kinematic->GetJoints(lastJoints);
            if (platformKinematic) platformKinematic->GetJoints(lastWheels);
            MotionStep(cartesianPermitted);
            StepBound(lastJoints, lastWheels);
        } else {
            state.kinState = 99;
        }

        gripper.Update();
        state.gripperSetPoint[0] = gripper.GetJoint();
        state.gripperCurrent[0] = gripper.GetHWPosition();

        PlcOutputs();
        DigitalOutputs();
        if (protocol) protocol->GetDigitalIORail(state.digitalIn);
        PlcInputs();
        ReadBack();
        ProgramStatusStep();
        CheckJogValues();
    } catch (const std::exception& error) {
        Log()->add(Format("ROBOTMASTER LOOP EXCEPTION: %s", error.what()));
        std::cout << "Error in Main Loop: " << error.what() << std::endl;
    } catch (const std::string& text) {
        Log()->add(Format("ROBOTMASTER LOOP EXCEPTION: %s", text.c_str()));
        std::cout << "Error in Main Loop: " << text << std::endl;
    } catch (int code) {
        Log()->add("ROBOTMASTER LOOP EXCEPTION: code", code);
    }
    Publish();
}

void RobotMaster::ApplyManualOutputs() {
    uint64_t mask;
    uint64_t values;
    {
        std::lock_guard<std::mutex> lock(inputMutex);
        mask = manualOutMask;
        values = manualOutValues;
    }
    // Still pending until Publish has them in the published state.
    appliedOutMask = mask;
    appliedOutValues = values & mask;
    for (int i = 0; i < DataTypes::RobotState::maxIO; ++i) {
        if (mask & (uint64_t(1) << i)) state.digitalOut[i] = (values >> i) & 1;
    }
}

void RobotMaster::ReferenceAllStep() {
    if (refAllRequest.exchange(false)) {
        refAllActive = true;
        refAllIndex = 0;
    }
    if (!refAllActive) return;
    const int64_t now = NowUs();
    if (now / 1000000 - refAllLastUs / 1000000 <= refAllInterval) return;

    const PlcSettings plc = Log()->GetPlcSettings();
    const int joint = plc.referenceSequence[refAllIndex];
    if (joint >= 0) {
        Log()->add("Referencing joint ", joint);
        loopPause.store(true);
        SleepMs(10);
        if (protocol) protocol->ReferenceSingleJoint(joint);
        SleepMs(10);
        loopPause.store(false);
        refAllLastUs = NowUs();
    }
    ++refAllIndex;
    if (refAllIndex > 8) {
        refAllActive = false;
        refAllIndex = 0;
    }
}

void RobotMaster::MotionStep(bool cartesianPermitted) {
    const float ovr = override.load();
    if (ProgramRunning()) {
        state.gripperSetPoint[0] = -1.0f;
        try {
            int r = ProgramStep(cycleTime, ovr, &state);
            if (kinematic) {
                if (r == 0) kinematic->SetJoints(state.jointSetPoint, true);
                if (r == 1) kinematic->SetPosition(state.posCartRobot);
            }
            if (state.gripperSetPoint[0] >= 0.0f) gripper.SetTargetValue(state.gripperSetPoint[0]);
            state.kinState = 0;
        } catch (int code) {
            state.kinState = code;
        }
        return;
    }
    JogStep(cartesianPermitted);
}

void RobotMaster::JogStep(bool cartesianPermitted) {
    float jog[jogCount];
    GetJogValues(jog);
    const float ovr = override.load();
    const float f = ovr / 100.0f;
    const float dt = float(cycleTime) / 1000.0f;
    const int mode = motionMode.load();

    try {
        if (mode == ROBOT_JOINT) {
            if (kinematic) {
                float joints[DataTypes::RobotState::maxJoints];
                for (int i = 0; i < DataTypes::RobotState::maxJoints; ++i) joints[i] = state.jointSetPoint[i];
                for (int i = 0; i < 6; ++i)
                    joints[i] += (jog[i] / 100.0f) * jointJogScale * f * dt * jointJogSpeed[i];
                kinematic->SetJoints(joints, true);
                state.kinState = 0;
            }
        } else if (mode == ROBOT_CART_BASE || mode == ROBOT_CART_TOOL) {
            if (cartesianPermitted && kinematic) {
                // The kinematic's current pose, read in place (GetPosition would need a
                // whole state record).
                const DataTypes::Matrix44 pose = kinematic->pose;
                float dk[3];
                float r[3];
                for (int k = 0; k < 3; ++k) {
                    dk[k] = ((jog[k] / 100.0f) * cartJogSpeed[k] * ovr / 100.0f) * dt;
                    r[k] = ((jog[3 + k] / 100.0f) * rotJogSpeed[k] * ovr / 100.0f) * dt;
                }
                DataTypes::Matrix44 rotation;
                rotation.SetRotationABCDeg(r[0], r[1], r[2]);
                DataTypes::Matrix44 target = rotation * pose;
                DataTypes::Vector3 translation;
                if (mode == ROBOT_CART_BASE) {
                    translation = DataTypes::Vector3(pose(0, 3) + dk[0], pose(1, 3) + dk[1], pose(2, 3) + dk[2]);
                } else {
                    // The displacement follows the tool axes.
                    translation = pose * DataTypes::Vector3(dk[0], dk[1], dk[2]);
                }
                target.SetTranslation(translation.x, translation.y, translation.z);
                kinematic->SetPosition(target);
                state.kinState = 0;
            }
        } else if (mode == PLATFORM_CART) {
            if (platformKinematic) platformKinematic->JogPlatform(jog, ovr);
        }
    } catch (int code) {
        state.kinState = code;
    }
    gripper.JogGripper(jog[6] / 100.0f);
}

void RobotMaster::StepBound(const float* sentJoints, const float* sentWheels) {
    bool moved = false;
    if (kinematic) {
        float next[DataTypes::RobotState::maxJoints];
        kinematic->GetJoints(next);
        const float cycleSeconds = float(cycleTime) / 1000.0f;
        const int count = kinematic->jointCount < RobotKinematic::maxModelJoints ? kinematic->jointCount
                                                                                 : RobotKinematic::maxModelJoints;
        for (int i = 0; i < count; ++i) {
            const float step = std::fabs(next[i] - sentJoints[i]);
            if (step > 0.0f) moved = true;
            const float speed = kinematic->maxJointVelocities[i];
            if (!(speed > 0.0f)) continue;
            const float bound = stepBoundFactor * speed * cycleSeconds;
            if (!(step <= bound)) {
                // The joints hold where they were sent last.
                float held[DataTypes::RobotState::maxJoints];
                for (int k = 0; k < DataTypes::RobotState::maxJoints; ++k) held[k] = sentJoints[k];
                kinematic->ResetLastJoints(held);
                try {
                    kinematic->SetJoints(held, false);
                } catch (int) {
                }
                RefuseStep("joint", i + 1, step, bound);
                return;
            }
        }
    }
    if (platformKinematic) {
        float wheels[DataTypes::RobotState::maxPlatformJoints];
        platformKinematic->GetJoints(wheels);
        for (int i = 0; i < PlatformKinematic::wheelCount; ++i) {
            const float step = std::fabs(wheels[i] - sentWheels[i]);
            if (step > 0.0f) moved = true;
            if (!(step <= platformStepBound)) {
                float held[DataTypes::RobotState::maxPlatformJoints];
                for (int k = 0; k < DataTypes::RobotState::maxPlatformJoints; ++k) held[k] = sentWheels[k];
                platformKinematic->ResetLastJoints(held);
                RefuseStep("platform wheel", i + 1, step, platformStepBound);
                return;
            }
        }
    }
    if (moved) {
        stepRefused = false;
    } else if (stepRefused && state.kinState == 0) {
        state.kinState = kinStateStepRefused;
    }
}

void RobotMaster::RefuseStep(const char* what, int number, float step, float bound) {
    state.kinState = kinStateStepRefused;
    const bool program = ProgramRunning();
    if (program) ProgramStop();
    if (stepRefused && !program) return;  // logged once while it goes on
    stepRefused = true;
    const std::string line = Format("RobotMaster: set-point step of %s %d is %.1f, more than %.1f in one cycle: %s",
                                    what, number, double(step), double(bound),
                                    program ? "held, program stopped" : "held");
    Log()->addError(line);
    Log()->DisplaySetMessage(Format("%s %d step %.1f refused", what, number, double(step)));
}

void RobotMaster::PlcOutputs() {
    const PlcSettings plc = Log()->GetPlcSettings();
    if (!plc.active || !protocol) return;
    if (ValidChannel(plc.outputs[0])) state.digitalOut[plc.outputs[0]] = protocol->GetMotorEnabled();
    if (ValidChannel(plc.outputs[1])) state.digitalOut[plc.outputs[1]] = ProgramRunning();
    if (ValidChannel(plc.outputs[2])) state.digitalOut[plc.outputs[2]] = protocol->allJointsReferenced;
}

void RobotMaster::DigitalOutputs() {
    if (!protocol) return;
    for (int i = 0; i < 50; ++i) {
        const bool o = state.digitalOut[i];
        if (i < 10) {
            protocol->SetIO(0, i, o);
        } else if (i < 20) {
            protocol->SetIO(3, i, o);
        } else if (i < 30) {
            protocol->SetRailIO(0, i - 20, o);
        } else if (i < 40) {
            protocol->SetRailIO(1, i - 30, o);
        } else {
            protocol->SetRailIO(2, i - 40, o);
        }
    }
}

void RobotMaster::PlcInputs() {
    const PlcSettings plc = Log()->GetPlcSettings();
    if (!plc.active) return;
    auto input = [this](int n) { return ValidChannel(n) && state.digitalIn[n]; };
    const bool enable = input(plc.inputs[0]);
    const bool play = input(plc.inputs[1]);
    const bool reference = input(plc.inputs[2]);

    if (enable && !plcEnableLast) {
        Log()->add("PLCInterface: Enable");
        Log()->DisplaySetMessage("PLC: Enable");
        ProgramStop();
        if (protocol && !protocol->GetMotorEnabled()) {
            ResetLocked();
            loopPause.store(true);
            ProgramStop();
            SleepMs(20);
            Log()->add("RobotMaster:  Enabling Motors");
            protocol->EnableMotors(true);
            SleepMs(1);
            loopPause.store(false);
        } else {
            ResetLocked();
        }
    }
    if (play && !plcPlayLast) {
        Log()->add("PLCInterface: Play");
        Log()->DisplaySetMessage("PLC: Play");
        StartProgramLocked();
    }
    if (reference && !plcReferenceLast) {
        Log()->add("PLCInterface: Starting Reference All Joints");
        Log()->DisplaySetMessage("PLC: RefAll");
        refAllIndex = 0;
        refAllActive = true;
    }
    plcEnableLast = enable;
    plcPlayLast = play;
    plcReferenceLast = reference;
}

void RobotMaster::ReadBack() {
    if (kinematic) kinematic->GetJoints(state.jointSetPoint);
    if (platformKinematic) platformKinematic->GetJoints(state.platformSetPoint);
    if (protocol) {
        state.errorText = protocol->GetErrorShort();
        state.supply = protocol->supply;
        state.currentAll = protocol->currentAll;
        state.emergencyStop = protocol->emergencyStop;
        protocol->GetErrorHexCode(state.jointError);
        protocol->GetTempValues(state.jointTemperature);
        protocol->GetCurrentValues(state.jointMotorCurrent);
        protocol->GetReferenceStatus(state.jointReferenced, &state.referenceState);
        protocol->SetJoints(state);
        protocol->GetJoints(&state);
        busShutdownRequest.store(protocol->shutdownRequest);
    }
    if (kinematic) {
        kinematic->GetPosition(&state);
        state.posCartRobot.MatrixToABC(&state.posA, &state.posB, &state.posC);
    }
}

void RobotMaster::ProgramStatusStep() {
    int point = -1;
    int count = 0;
    // Straight into the state's own text: no string of its own per cycle.
    ProgramStatus(&state.programName, &point, &count);
    state.programStatus[0] = point;
    state.programStatus[1] = count;
    state.programStatus[2] = ProgramRunning() ? 1 : (point >= 0 ? 2 : 0);
}

void RobotMaster::Publish() {
    std::lock_guard<std::mutex> lock(publishMutex);
    published = state;
    if (appliedOutMask != 0) {
        // Manual outputs now in the published state stop being pending, unless
        // the operator changed them again meanwhile (then the next cycle applies them).
        std::lock_guard<std::mutex> inputs(inputMutex);
        const uint64_t settled = appliedOutMask & ~(manualOutValues ^ appliedOutValues);
        manualOutMask &= ~settled;
        appliedOutMask = 0;
    }
}

void RobotMaster::GetValues(DataTypes::RobotState* out) const {
    std::lock_guard<std::mutex> lock(publishMutex);
    *out = published;
    // Manual outputs not yet published by a cycle show at once: a cycle longer
    // than a main-loop pass must not hide an operator's output change.
    std::lock_guard<std::mutex> inputs(inputMutex);
    if (manualOutMask == 0) return;
    for (int i = 0; i < DataTypes::RobotState::maxIO; ++i) {
        if (manualOutMask & (uint64_t(1) << i)) out->digitalOut[i] = (manualOutValues >> i) & 1;
    }
}

// ---- Jog input and motion mode ---------------------------------------------

void RobotMaster::SetJogValues(const float* values) {
    std::lock_guard<std::mutex> lock(inputMutex);
    for (int i = 0; i < jogCount; ++i) {
        float v = values[i];
        if (std::isnan(v)) v = 0.0f;
        if (v > 100.0f) v = 100.0f;
        if (v < -100.0f) v = -100.0f;
        jogValues[i] = v;
    }
    jogHoldCounter = jogHoldCycles;
}

void RobotMaster::GetJogValues(float* out) const {
    std::lock_guard<std::mutex> lock(inputMutex);
    for (int i = 0; i < jogCount; ++i) out[i] = jogValues[i];
}

void RobotMaster::CheckJogValues() {
    std::lock_guard<std::mutex> lock(inputMutex);
    if (jogHoldCounter > 0) {
        --jogHoldCounter;
        return;
    }
    for (int i = 0; i < 6; ++i) {
        float& v = jogValues[i];
        if (v > 0.05f) {
            v -= 0.05f;
        } else if (v < -0.05f) {
            v += 0.05f;
        }
        if (std::fabs(v) < 0.05f) v = 0.0f;
    }
}

namespace {
const char* const motionModeLines[4] = {
    "RobotMaster:  Changing motion mode to ROBOT-JOINT", "RobotMaster:  Changing motion mode to ROBOT-CART-BASE",
    "RobotMaster:  Changing motion mode to ROBOT-CART-TOOL", "RobotMaster:  Changing motion mode to PLATFORM-CART"};
}

void RobotMaster::SetMotionMode(int mode) {
    if (mode < 1 || mode > 4) return;
    motionMode.store(mode - 1);
    Log()->add(motionModeLines[mode - 1]);
}

void RobotMaster::ToggleMotionMode() {
    int mode = (motionMode.load() + 1) % 4;
    motionMode.store(mode);
    Log()->add(motionModeLines[mode]);
}

float RobotMaster::SetOverride(float value) {
    if (std::isnan(value)) {
        Log()->addError("RobotMaster: override is not a number, kept at " + Format("%.1f", double(override.load())));
        return override.load();
    }
    float limited = value < 0.0f ? 0.0f : (value > 100.0f ? 100.0f : value);
    if (limited != value)
        Log()->addError(Format("RobotMaster: override %.1f out of range 0...100, limited to %.1f", double(value),
                               double(limited)));
    override.store(limited);
    return limited;
}

// ---- Operations --------------------------------------------------------------

void RobotMaster::Reset() {
    CyclePause pause(*this);
    ResetLocked();
    Publish();
}

void RobotMaster::ResetLocked() {
    Log()->add("RobotMaster:  Resetting Joints");
    busLost.store(false);
    stepRefused = false;
    if (state.kinState == kinStateStepRefused) state.kinState = 0;
    ProgramStop();
    loopPause.store(true);
    SleepMs(20);
    refAllActive = false;
    refAllRequest.store(false);

    if (protocol) protocol->SetPlatformJointsToZeroPos();
    for (int i = 0; i < DataTypes::RobotState::maxPlatformJoints; ++i) {
        state.platformSetPoint[i] = 0.0f;
        state.platformCurrent[i] = 0.0f;
    }
    if (platformKinematic) platformKinematic->ResetLastJoints(state.platformSetPoint);

    for (int i = 0; i < DataTypes::RobotState::maxJoints; ++i) state.jointSetPoint[i] = state.jointCurrent[i];
    if (kinematic) {
        kinematic->ResetLastJoints(state.jointCurrent);
        try {
            kinematic->SetJoints(state.jointCurrent, false);
        } catch (int code) {
            state.kinState = code;
        }
    }
    gripper.SetHWPosition(state.gripperCurrent[0]);
    if (protocol) protocol->ResetError();
    SleepMs(1);
    loopPause.store(false);
}

void RobotMaster::EnableMotors(bool on) {
    CyclePause pause(*this);
    EnableMotorsLocked(on);
}

void RobotMaster::EnableMotorsLocked(bool on) {
    ProgramStop();
    SleepMs(20);
    Log()->add(on ? "RobotMaster:  Enabling Motors" : "RobotMaster:  Disabling Motors");
    if (protocol) protocol->EnableMotors(on);
    SleepMs(1);
}

void RobotMaster::AlignMotors() {
    CyclePause pause(*this);
    Log()->DisplaySetMessage("Aligning Motors");
    SleepMs(50);
    if (protocol) protocol->AlignMotors();
    SleepMs(50);
}

void RobotMaster::ReferenceJoints(int joint) {
    CyclePause pause(*this);
    SleepMs(10);
    if (protocol) protocol->ReferenceSingleJoint(joint);
    SleepMs(10);
}

void RobotMaster::ReferenceAllJoints() {
    Log()->DisplaySetMessage("Ref All Joints");
    refAllRequest.store(true);
}

void RobotMaster::ResetAllJointsToZero() {
    std::cout << "RobotMaster: ResetAllJointsToZero" << std::endl;
    CyclePause pause(*this);
    SleepMs(20);
    if (protocol) protocol->EnableMotors(false);
    SleepMs(2);
    for (int i = 0; i < DataTypes::RobotState::maxJoints; ++i) {
        state.jointSetPoint[i] = 0.0f;
        // The joints now read zero: the reset that follows must take zero as
        // the set-point, not the position measured before zeroing.
        state.jointCurrent[i] = 0.0f;
    }
    state.posCartRobot(0, 3) = 0.0f;
    state.posCartRobot(1, 3) = 0.0f;
    state.posA = 0.0f;
    for (int j = 0; j < DataTypes::RobotState::maxJoints; ++j) {
        if (protocol) protocol->SetToZeroPos(j);
        state.jointSetPoint[j] = 0.0f;
    }
    if (protocol) protocol->SetPlatformJointsToZeroPos();
    for (float& p : state.platformSetPoint) p = 0.0f;
    state.posCartRobot(0, 3) = 0.0f;
    state.posCartRobot(1, 3) = 0.0f;
    state.posA = 0.0f;
    if (protocol) protocol->ResetError();
    SleepMs(1);
    Publish();
}

void RobotMaster::StartProgram() {
    CyclePause pause(*this);
    StartProgramLocked();
}

void RobotMaster::StartProgramLocked() {
    bool connected = protocol && protocol->GetConnectionStatus();
    bool permitted = !connected || !protocol->referencingMandatory || protocol->allJointsReferenced;
    if (permitted) {
        Log()->DisplaySetMessage("Starting Program");
        ProgramStart();
    } else {
        Log()->DisplaySetMessage("Cannot start, robot not referenced!");
    }
}

void RobotMaster::PauseProgram() {
    CyclePause pause(*this);
    ProgramPause();
}

void RobotMaster::StopProgram() {
    CyclePause pause(*this);
    ProgramStop();
}

void RobotMaster::DeleteProgram() {
    CyclePause pause(*this);
    ProgramDeleteAll();
}

float RobotMaster::GetFrequency() {
    const float f = scheduler.Frequency();
    Log()->add(Format("RobotThread Frequency: %.2lf Hz,  max CycleTime: %.2lf ms,  Workload %.2lf%%,  Overruns %lld",
                      double(f), double(scheduler.TakeMaxCycleUs()) / 1000.0, double(scheduler.Workload()),
                      (long long)scheduler.Overruns()));
    return f;
}

void RobotMaster::SetManualDOut(int channel, bool value) {
    if (!ValidChannel(channel)) {
        Log()->addError(Format("RobotMaster: digital output %d out of range 0...63, ignored", channel));
        return;
    }
    std::lock_guard<std::mutex> lock(inputMutex);
    const uint64_t bit = uint64_t(1) << channel;
    manualOutMask |= bit;
    if (value) {
        manualOutValues |= bit;
    } else {
        manualOutValues &= ~bit;
    }
}

void RobotMaster::ConnectBus() {
    if (!protocol) return;
    CyclePause pause(*this);
    protocol->Connect();
    busConnected.store(protocol->GetConnectionStatus());
}

bool RobotMaster::BusDisconnectRequested() const { return protocol && protocol->disconnectRequest.load(); }

void RobotMaster::DisconnectBus() {
    if (!protocol) return;
    CyclePause pause(*this);
    protocol->Disconnect();
    protocol->disconnectRequest.store(false);
    protocol->modulesAnswering.store(false);
    busConnected.store(false);
    busLost.store(true);
}

bool RobotMaster::GetBusAnswering() const { return protocol && protocol->modulesAnswering.load(); }

void RobotMaster::SetBusQuiet(bool on) {
    if (protocol) protocol->quiet.store(on);
}

void RobotMaster::RunWithCyclePaused(const std::function<void()>& f) {
    CyclePause pause(*this);
    f();
}

// ---- Program seam --------------------------------------------------------------

int RobotMaster::ProgramLoad(const std::string& name) { return ipo.LoadProgram(name); }

bool RobotMaster::ProgramRunning() const { return ipo.running.load(); }

int RobotMaster::ProgramStep(int cycleMs, float overridePercent, DataTypes::RobotState* target) {
    return ipo.GetNextPosition(cycleMs, overridePercent, target);
}

void RobotMaster::ProgramStart() { ipo.Start(); }

void RobotMaster::ProgramPause() { ipo.Pause(); }

void RobotMaster::ProgramStop() { ipo.Stop(); }

void RobotMaster::ProgramDeleteAll() { ipo.DeleteAll(); }

void RobotMaster::ProgramStatus(std::string* name, int* point, int* loadedCount) const {
    ipo.GetStatus(name, point, loadedCount);
}

// The path planner samples Cartesian commands through a kinematic of its own,
// configured like the robot's but never touched by the cycle.
void RobotMaster::ProgramSetPlanningKinematic() {
    if (kinematic) ipo.pathGenerator.SetKinematic(kinematic->Duplicate());
}
