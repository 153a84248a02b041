#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PkgDataTypes/RobotState.h"
#include "PkgProgram/AccHandler.h"
#include "PkgProgram/Command.h"
#include "PkgProgram/JointSet.h"

class RobotKinematic;

// Plans a chain of up to ten motion commands into one path of 10 ms joint
// samples: samples every command through a planning kinematic of its own,
// blends the corners with quadratic Bezier curves and, with optimisation on,
// re-times the path so that no joint exceeds its acceleration limit.
//
// Threads. The interpreter (robot cycle thread) fills the look-ahead with
// SetFirstCmd/SetNextCmd and calls ComputePathStartThread, which hands a copy
// of the look-ahead to a new worker thread and returns at once. Workers run one
// after the other (a new one first joins its predecessor, which it has told to
// give up), so only one thread ever writes the path lists and the planning
// kinematic. A finished path is published with release semantics under the
// generation number it was started with; IsPathReady() reads it with acquire
// semantics and only a path of the newest generation counts as ready. The cycle
// thread therefore never waits for a worker, and a superseded computation can
// never publish. The destructor cancels and joins the worker.
//
// The path lists, cornerIndex/cornerSmooth, sampledUs and accHandler belong to
// the worker while a computation runs; other threads read the lists only while
// IsPathReady() is true.
class PathGenerator {
public:
    static constexpr int kMaxCommands = 10;
    static constexpr int kMaxCommandSteps = 5001;  // 50 s of path time per command
    static constexpr int kMaxLimitSteps = 5000;    // output steps of a limiting pass
    static constexpr long kDelayLogTenthsMs = 5000;  // 500 ms

    PathGenerator();
    virtual ~PathGenerator();
    PathGenerator(const PathGenerator&) = delete;
    PathGenerator& operator=(const PathGenerator&) = delete;

    // --- Configuration (before the first path; waits for a running worker) ---
    // The planning kinematic must be an instance of its own, never the one the
    // robot cycle uses. The first form does not take ownership.
    void SetKinematic(RobotKinematic* planningKinematic);
    void SetKinematic(std::unique_ptr<RobotKinematic> planningKinematic);
    RobotKinematic* GetKinematic() const { return kinematic; }
    // Per-joint maximum accelerations; values below 5.0 are raised to 5.0.
    // The velocity array is not used.
    void InitVelAcc(const float* vel, const float* acc);

    // --- Robot cycle thread: look-ahead, start, hand-over, sampling ---
    void SetFirstCmd(const Command& cmd, DataTypes::RobotState* state, int cmdIndex, int succIndex);
    void SetNextCmd(const Command& cmd, int cmdIndex, int succIndex);
    // Starts the worker for the buffered commands; never blocks on a worker.
    void ComputePathStartThread();
    // True once the path of the latest SetFirstCmd/ComputePathStartThread is
    // complete (acquire). Any thread may ask.
    bool IsPathReady() const;
    // True once planning the path of the latest request has failed (the reason
    // is logged): that path will never become ready. Any thread may ask.
    bool IsPathFailed() const;
    // Abandons the current path: a computation still running will not publish.
    void ClearPathReady();
    // Set-point at path time t (µs) of the ready path: writes jointCount joints
    // and the command index; returns -1 while the path runs, afterwards the
    // successor index of its last command. Reads the path in place, never
    // allocates. When no path is ready the joints are left alone and -1 returned.
    int GetJointPosition(long t, float* joints, int* cmdIndex) const;

    // Blocks until no worker runs. Never call it from the robot cycle thread.
    void WaitForWorker();

    // --- Planning (the worker calls these; tools and tests may call them
    //     directly on a generator without a running worker) ---
    // Plans the buffered commands synchronously on the calling thread (after
    // waiting for a running worker) and publishes the path; returns 0.
    int ComputePath();
    void SmoothCorner();
    JointSet GetJointsAt(long t, const std::vector<JointSet>& path) const;
    int ComputeAcceleration(JointSet* cur, const JointSet* prev) const;
    void LimitForward();
    // Returns false when the pass hit its step bound before reaching the start.
    bool LimitBackward();
    void Turn();

    // Diagnostics: CheckPath throws "PG: Max path diff too high!" when a joint of
    // 0..4 moves more than 2.0 between two consecutive samples.
    void CheckPath(const std::vector<JointSet>* path) const;
    void PrintPath(const std::vector<JointSet>* path) const;

    // Tenths of a millisecond since start on the realtime clock.
    static long GetDiffTime(timespec start);
    static int signum(float x);
    static long maximum(long a, long b);

    // Bytes held by the four path lists (capacity, not size).
    size_t PathMemoryBytes() const;

    // --- Members ---
    std::atomic<bool> debug{false};  // read by the worker too
    int32_t jointCount = 6;

    // Look-ahead buffer (robot cycle thread).
    Command commands[kMaxCommands];
    int32_t commandIndex[kMaxCommands] = {};
    int32_t successorIndex[kMaxCommands] = {};
    int32_t commandCount = 0;
    DataTypes::RobotState startState;
    bool optimize = true;  // refreshed from the log object by ComputePathStartThread

    // Result of the last computation (worker).
    std::vector<int32_t> cornerIndex;
    std::vector<float> cornerSmooth;
    int32_t stepUs = 10000;
    int32_t sampledUs = 0;
    AccHandler accHandler{300.0f, 2.0f};
    std::vector<JointSet> rawPath;
    std::vector<JointSet> forwardPath;
    std::vector<JointSet> backwardPath;  // last sample first
    std::vector<JointSet> finalPath;

private:
    struct PlanRequest;

    static void threadPathGeneration(PathGenerator* generator, std::unique_ptr<PlanRequest> request,
                                     std::shared_ptr<std::thread> predecessor);
    std::unique_ptr<PlanRequest> MakeRequest(uint64_t generation) const;
    void Plan(PlanRequest& request);
    bool Superseded(const PlanRequest& request) const;
    // One output step of a limiting pass from prev, which lies at pass time *t;
    // advances *t. The backward pass walks the path from its end.
    JointSet NextLimitedSample(const std::vector<JointSet>& path, long T, bool backward, const JointSet& prev,
                               long* t) const;
    // A limiting pass over `from` into *to, from rest at its first sample (or its last when
    // backward); false, with "<tag>: <name> stalled!" logged, when it hit its step bound.
    bool LimitPass(const std::vector<JointSet>& from, bool backward, std::vector<JointSet>* to,
                   const char* tag, const char* name);
    void ReleasePathMemory();
    int Joints() const;

    RobotKinematic* kinematic = nullptr;
    std::unique_ptr<RobotKinematic> ownedKinematic;

    // Published with the path (worker writes them before the release store).
    bool pathOptimized = true;
    float pathStartJoints[JointSet::kMaxJoints] = {};
    int32_t pathFirstCommand = -1;

    std::atomic<uint64_t> requestGeneration{1};
    std::atomic<uint64_t> readyGeneration{0};  // 0: nothing published
    std::atomic<uint64_t> failedGeneration{0};  // 0: no failure
    std::thread worker;  // touched only by the starting thread and the destructor
};
