#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "PkgDataTypes/RobotState.h"
#include "PkgKinematics/CycleScheduler.h"
#include "PkgKinematics/Tool.h"
#include "PkgProgram/IPO.h"

class RobotKinematic;
class PlatformKinematic;
class HardwareProtocol;

// The robot: kinematic, joint bus protocol, gripper, platform, interpreter and
// the published robot state, moved once per cycle by its own thread.
//
// Thread model. The cycle thread owns the working state and runs each cycle
// holding cycleMutex (taken with try_lock, so it never waits: a cycle that
// finds the mutex held is skipped like a paused one). Operations from other
// threads that touch the bus, the kinematic, the gripper or the interpreter
// run through a CyclePause: pause flag set, cycleMutex held for the operation.
// Jog values, motion mode, override and manual outputs are single-writer
// inputs exchanged by atomics or short copies; the published state is copied
// out under its own small lock at the end of every cycle.
class RobotMaster {
public:
    enum MotionMode { ROBOT_JOINT = 0, ROBOT_CART_BASE = 1, ROBOT_CART_TOOL = 2, PLATFORM_CART = 3 };
    static constexpr int jogCount = 9;
    static constexpr int jogHoldCycles = 30;
    // Last line of defence against a joint spinning: a cycle whose set-point
    // step of a joint exceeds this many times what the joint's configured
    // speed covers in one cycle time is refused (joints with no configured
    // speed are not bounded). The wheels of the platform, which have no
    // configured speed, are bounded to this many times the largest step a
    // platform jog makes in one cycle (3 x 5 units).
    static constexpr float stepBoundFactor = 4.0f;
    static constexpr float platformStepBound = stepBoundFactor * 15.0f;
    // Published kinState of a refused step ("ERROR-JointStep"); it stays until
    // a joint moves again or the robot is reset.
    static constexpr int kinStateStepRefused = 15;

    RobotMaster();
    // Stops and joins the cycle thread, then disconnects the bus.
    ~RobotMaster();
    RobotMaster(const RobotMaster&) = delete;
    RobotMaster& operator=(const RobotMaster&) = delete;

    // ---- Assembly ----------------------------------------------------------
    // Reads the robot configuration, builds kinematic, protocol, gripper and
    // platform and starts the cycle thread. Throws ConfigError (46, 54).
    void Init(std::string name, std::string type);
    void ReadConfigFile(std::string path);
    void InitGripper(std::string name);
    void InitPlatform(std::string name);
    void InitDIOModule(int id);
    void SetGripperName(const std::string& name) { gripperName = name; }
    void SetPlatformName(const std::string& name) { platformName = name; }
    // Starts the cycle thread (pause flag untouched). No-op while it runs.
    void StartMainLoop();
    // Ends the cycle thread and waits for it.
    void StopMainLoop();
    // Builds the robot from given parts instead of files (tests, tools): no
    // thread is started; drive it with RunCycleOnce. A null kinematic or
    // protocol leaves that part unset (cycles then skip it).
    void Assemble(std::unique_ptr<RobotKinematic> kinematic, std::unique_ptr<HardwareProtocol> protocol,
                  int cycleTimeMs, bool debugMode);

    // ---- Cycle ---------------------------------------------------------------
    // One cycle's work, exactly as the cycle thread does it (blocks for the
    // cycle lock, so only for callers other than the cycle thread).
    void RunCycleOnce();
    void SetJogValues(const float* values);
    void CheckJogValues();
    void GetJogValues(float* out) const;
    void SetMotionMode(int mode);
    void ToggleMotionMode();
    int GetMotionMode() const { return motionMode.load(); }
    void GetValues(DataTypes::RobotState* out) const;
    // Limited to 0...100 %; out-of-range values are logged. Returns the value set.
    float SetOverride(float value);
    float GetOverride() const { return override.load(); }
    // Realtime clock in microseconds, used by the reference-all sequence.
    void SetClock(std::function<int64_t()> clockUs);
    // Replaces the settling pauses of Init (tests and fuzzing assemble many
    // robots without waiting); null restores the real sleep. Call before Init.
    void SetInitSleep(std::function<void(int ms)> sleepMs);

    // ---- Operations ------------------------------------------------------
    void Reset();
    void EnableMotors(bool on);
    void AlignMotors();
    void ReferenceJoints(int joint);
    void ReferenceAllJoints();
    void ResetAllJointsToZero();
    void StartProgram();
    void PauseProgram();
    void StopProgram();
    void DeleteProgram();
    float GetFrequency();
    void SetManualDOut(int channel, bool value);

    // ---- Program seam: every call into the interpreter goes through these ----
    int ProgramLoad(const std::string& name);
    bool ProgramRunning() const;
    int ProgramStep(int cycleMs, float overridePercent, DataTypes::RobotState* state);
    void ProgramStart();
    void ProgramPause();
    void ProgramStop();
    void ProgramDeleteAll();
    void ProgramStatus(std::string* name, int* point, int* loadedCount) const;
    void ProgramSetPlanningKinematic();

    // ---- Bus, as seen by the main loop (values cached by the cycle) --------
    bool GetConnectionStatus() const { return busConnected.load(); }
    int GetShutdownRequest() const { return busShutdownRequest.load(); }
    // Connects the bus with the cycle paused.
    void ConnectBus();
    // The cycle found the bus silent and asks for the disconnect.
    bool BusDisconnectRequested() const;
    // Disconnects the bus with the cycle paused: the CAN read thread is joined
    // on the caller's thread, never on the cycle's. Motion then waits for a
    // reset (Reset, code 10/11, PLC enable), also once the bus answers again.
    void DisconnectBus();
    // A module answered since the last connection.
    bool GetBusAnswering() const;
    // Quiet connection attempts: their lines are not logged (slow retries).
    void SetBusQuiet(bool on);
    bool GetBusLost() const { return busLost.load(); }

    // Runs f with the cycle paused and the cycle lock held (for callers that
    // need the interpreter or the bus outside the cycle, e.g. the front-end).
    void RunWithCyclePaused(const std::function<void()>& f);

    // ---- Configuration read-back -----------------------------------------
    std::string GetRobotName() const { return robotName; }
    std::string GetRobotType() const { return robotType; }
    std::string GetKinematicType() const { return kinematicType; }
    std::string GetProtocolType() const { return protocolType; }
    int GetCycleTime() const { return cycleTime; }
    bool GetDebugMode() const { return debugMode; }
    std::string GetDisplayPort() const { return displayPort; }
    bool IsLoopRunning() const { return loopThread.joinable(); }
    bool IsPaused() const { return loopPause.load(); }
    // Direct access for tests; only while no cycle thread runs.
    Tool& GetTool() { return gripper; }
    // The interpreter; safe to call from any thread (it guards itself).
    IPO& GetInterpreter() { return ipo; }
    RobotKinematic* GetKinematic() { return kinematic.get(); }
    HardwareProtocol* GetProtocol() { return protocol.get(); }
    PlatformKinematic* GetPlatformKinematic() { return platformKinematic.get(); }

private:
    class CyclePause;
    friend class CyclePause;

    void ThreadLoop();
    void CycleWork();
    void TimingStep();
    void ReferenceAllStep();
    void MotionStep(bool cartesianPermitted);
    void JogStep(bool cartesianPermitted);
    // Refuses the motion step's set-points when a joint or wheel moved more
    // than its bound from where the step began (sentJoints, sentWheels).
    void StepBound(const float* sentJoints, const float* sentWheels);
    void RefuseStep(const char* what, int number, float step, float bound);
    void PlcOutputs();
    void DigitalOutputs();
    void PlcInputs();
    void ReadBack();
    void ProgramStatusStep();
    void Publish();
    void ApplyManualOutputs();

    void ResetLocked();
    void EnableMotorsLocked(bool on);
    void StartProgramLocked();

    static int64_t RealtimeUs();
    int64_t NowUs() const;

    // Configuration
    std::string robotName;
    std::string robotType;
    std::string kinematicType = "Delta";
    std::string protocolType = "VKTCAN";
    int cycleTime = 200;
    bool debugMode = true;
    std::string displayPort;
    std::string platformName;
    std::string gripperName;

    // Jog parameters
    float jointJogScale = 1.0f;
    float cartJogSpeed[3] = {100.0f, 100.0f, 100.0f};
    float rotJogSpeed[3] = {30.0f, 30.0f, 30.0f};
    float jointJogSpeed[6] = {0, 0, 0, 0, 0, 0};

    // Inputs from other threads
    mutable std::mutex inputMutex;  // jog values, hold counter, manual outputs
    float jogValues[jogCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    int jogHoldCounter = 0;
    uint64_t manualOutMask = 0;    // set by SetManualDOut, cleared once published
    uint64_t manualOutValues = 0;
    uint64_t appliedOutMask = 0;   // manual outputs this cycle applied (cycle lock)
    uint64_t appliedOutValues = 0;
    std::atomic<int> motionMode{ROBOT_JOINT};
    std::atomic<float> override{100.0f};
    std::atomic<bool> refAllRequest{false};

    // Parts, used under cycleMutex once the thread runs
    std::unique_ptr<RobotKinematic> kinematic;
    std::unique_ptr<PlatformKinematic> platformKinematic;
    std::unique_ptr<HardwareProtocol> protocol;
    Tool gripper;
    DataTypes::RobotState state;  // the cycle's working copy
    // Programs, memory and path planning; guards itself against other threads.
    IPO ipo;

    mutable std::mutex publishMutex;
    DataTypes::RobotState published;

    // Cycle thread
    std::mutex cycleMutex;
    std::thread loopThread;
    std::atomic<bool> loopStop{false};
    std::atomic<bool> loopPause{true};
    std::function<int64_t()> clock;
    std::function<void(int ms)> initSleep;  // Init's thread only

    // Reference-all sequence (cycle thread)
    bool refAllActive = false;
    int refAllIndex = 0;
    int refAllInterval = 5;
    int64_t refAllLastUs = 0;

    // A refused set-point step is being shown (cycle thread)
    bool stepRefused = false;

    // PLC edge memories (cycle thread)
    bool plcEnableLast = false;
    bool plcPlayLast = false;
    bool plcReferenceLast = false;

    // Bus values for other threads
    std::atomic<bool> busConnected{false};
    std::atomic<bool> busLost{false};  // set by DisconnectBus, cleared by a reset
    std::atomic<int> busShutdownRequest{0};

    // Deadlines and statistics: driven by the cycle thread, read by GetFrequency
    CycleScheduler scheduler;
};
