#include "PkgProgram/PathGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

#include "LogSingleton.h"
#include "PkgDataTypes/BezierCasteljau.h"
#include "PkgKinematics/RobotKinematic.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLinear.h"
#include "PkgProgram/CommandRelative.h"
#include "RealTimeScheduling.h"

namespace {

// A list that grew beyond this many samples (about 40 s of path) is given back
// to the allocator when the next path starts, so one long path does not pin
// its peak memory for the rest of the run.
constexpr size_t kKeepCapacity = 4096;

void ReleaseList(std::vector<JointSet>& list) {
    list.clear();
    if (list.capacity() > kKeepCapacity) list.shrink_to_fit();
}

// Thrown internally to stop a computation that a newer path has superseded.
struct PlanSuperseded {};

}  // namespace

// Everything one computation needs, copied on the starting thread so that the
// worker never reads members the robot cycle thread may be rewriting.
struct PathGenerator::PlanRequest {
    Command commands[kMaxCommands];
    int32_t commandIndex[kMaxCommands] = {};
    int32_t successorIndex[kMaxCommands] = {};
    int32_t commandCount = 0;
    DataTypes::RobotState startState;
    bool optimize = true;
    bool debug = false;
    uint64_t generation = 0;
    // Linear moves to a position variable read the program memory while they
    // are sampled; the worker reads this copy, never the interpreter's list.
    std::vector<MemoryPosition> memory;
};

PathGenerator::PathGenerator() = default;

PathGenerator::~PathGenerator() {
    requestGeneration.fetch_add(1);  // a running worker gives up at its next step
    if (worker.joinable()) worker.join();
}

void PathGenerator::SetKinematic(RobotKinematic* planningKinematic) {
    WaitForWorker();
    ownedKinematic.reset();
    kinematic = planningKinematic;
}

void PathGenerator::SetKinematic(std::unique_ptr<RobotKinematic> planningKinematic) {
    WaitForWorker();
    ownedKinematic = std::move(planningKinematic);
    kinematic = ownedKinematic.get();
}

void PathGenerator::InitVelAcc(const float*, const float* acc) {
    WaitForWorker();
    for (int i = 0; i < Joints(); ++i) {
        float a = acc ? acc[i] : 0.0f;
        accHandler.accMax[i] = (a < 5.0f || std::isnan(a)) ? 5.0f : a;
    }
    accHandler.accMax[6] = 300.0f;
}

int PathGenerator::Joints() const {
    return std::clamp<int>(jointCount, 1, JointSet::kMaxJoints);
}

// ---------------------------------------------------------------------------
// Look-ahead and hand-over (robot cycle thread)

void PathGenerator::SetFirstCmd(const Command& cmd, DataTypes::RobotState* state, int cmdIndex,
                                int succIndex) {
    if (debug) {
        LogSingleton::instance()->add("");
        LogSingleton::instance()->add("PG: adding first point: ", cmdIndex);
    }
    ClearPathReady();
    // The path lists are not emptied here: a superseded worker may still be
    // writing them. Each computation empties them before it starts.
    commands[0] = cmd;
    commandIndex[0] = cmdIndex;
    successorIndex[0] = succIndex;
    commandCount = 1;
    if (state) startState = *state;
}

void PathGenerator::SetNextCmd(const Command& cmd, int cmdIndex, int succIndex) {
    if (debug) LogSingleton::instance()->add("PG: adding next point: ", cmdIndex);
    if (commandCount >= 1 && commandCount <= kMaxCommands - 1) {
        commands[commandCount] = cmd;
        commandIndex[commandCount] = cmdIndex;
        successorIndex[commandCount] = succIndex;
        ++commandCount;
    } else {
        LogSingleton::instance()->addError("Could not set Position, look-ahead is limited");
    }
}

std::unique_ptr<PathGenerator::PlanRequest> PathGenerator::MakeRequest(uint64_t generation) const {
    auto request = std::make_unique<PlanRequest>();
    request->commandCount = std::clamp<int32_t>(commandCount, 0, kMaxCommands);
    for (int k = 0; k < request->commandCount; ++k) {
        request->commands[k] = commands[k];
        request->commandIndex[k] = commandIndex[k];
        request->successorIndex[k] = successorIndex[k];
    }
    bool readsMemory = false;
    for (int k = 0; k < request->commandCount; ++k) {
        const Command& c = request->commands[k];
        if (c.memory != nullptr && c.typeName == "CommandLinear" && c.source == "variable") {
            if (!readsMemory) request->memory = *c.memory;
            readsMemory = true;
        }
    }
    for (int k = 0; k < request->commandCount; ++k) {
        if (request->commands[k].memory != nullptr) request->commands[k].memory = &request->memory;
    }
    request->startState = startState;
    request->optimize = optimize;
    request->debug = debug;
    request->generation = generation;
    return request;
}

void PathGenerator::ComputePathStartThread() {
    if (debug) LogSingleton::instance()->add("PG: computing path in seperate Thread...");
    optimize = LogSingleton::instance()->GetPathOptimize();
    // A new generation invalidates whatever is published or still computing.
    const uint64_t generation = requestGeneration.fetch_add(1) + 1;
    readyGeneration.store(0, std::memory_order_release);
    std::unique_ptr<PlanRequest> request = MakeRequest(generation);
    // The previous worker is handed to the new one, which joins it before it
    // touches the lists: the caller never waits.
    auto predecessor = std::make_shared<std::thread>(std::move(worker));
    try {
        worker = std::thread(&PathGenerator::threadPathGeneration, this, std::move(request), predecessor);
    } catch (const std::exception& e) {
        // No thread to be had: this path is never ready, and the previous
        // worker stays ours to join.
        worker = std::move(*predecessor);
        LogSingleton::instance()->addError(std::string("PG: could not start the planning thread: ") + e.what());
        failedGeneration.store(generation, std::memory_order_release);
    }
}

void PathGenerator::threadPathGeneration(PathGenerator* generator, std::unique_ptr<PlanRequest> request,
                                         std::shared_ptr<std::thread> predecessor) {
    // Started from the robot cycle: planning must not compete with it at its priority.
    RealTimeScheduling::EnterNormalThread();
    if (predecessor && predecessor->joinable()) predecessor->join();
    try {
        if (request->debug) {
            LogSingleton::instance()->add(request->optimize ? "Starting PG thread with optimization..."
                                                            : "Starting PG thread WITHOUT optimization...");
        }
        if (!generator->Superseded(*request)) generator->Plan(*request);
        if (request->debug) {
            LogSingleton::instance()->add("Finishing PG thread...");
            LogSingleton::instance()->add("");
        }
    } catch (...) {
        // Plan reports its own errors; this only keeps a failure while logging
        // from ending the process.
    }
}

bool PathGenerator::IsPathReady() const {
    const uint64_t ready = readyGeneration.load(std::memory_order_acquire);
    return ready != 0 && ready == requestGeneration.load(std::memory_order_acquire);
}

bool PathGenerator::IsPathFailed() const {
    const uint64_t failed = failedGeneration.load(std::memory_order_acquire);
    return failed != 0 && failed == requestGeneration.load(std::memory_order_acquire);
}

void PathGenerator::ClearPathReady() {
    requestGeneration.fetch_add(1, std::memory_order_acq_rel);
    readyGeneration.store(0, std::memory_order_release);
}

bool PathGenerator::Superseded(const PlanRequest& request) const {
    return requestGeneration.load(std::memory_order_relaxed) != request.generation;
}

void PathGenerator::WaitForWorker() {
    if (worker.joinable()) worker.join();
}

int PathGenerator::GetJointPosition(long t, float* joints, int* cmdIndex) const {
    if (!IsPathReady()) {
        // Keep the interpreter on the path's first command; joints stay as they are.
        if (cmdIndex && commandCount > 0) *cmdIndex = commandIndex[0];
        return -1;
    }
    const std::vector<JointSet>& path = pathOptimized ? finalPath : rawPath;
    const int J = Joints();
    const long n = static_cast<long>(path.size());
    if (n == 0) {
        for (int j = 0; j < J; ++j) joints[j] = pathStartJoints[j];
        if (cmdIndex) *cmdIndex = pathFirstCommand;
        return -1;
    }
    // A negative time is the start of the path, never its end.
    if (t < 0) t = 0;
    const long step = stepUs;
    if (t < step * (n - 1)) {
        const long i = t / step;
        const float f = static_cast<float>(t % step) / static_cast<float>(step);
        const JointSet& a = path[i];
        const JointSet& b = path[i + 1];
        for (int j = 0; j < J; ++j) joints[j] = f * b.position[j] + (1.0f - f) * a.position[j];
        if (cmdIndex) *cmdIndex = a.commandIndex;
    } else {
        const JointSet& last = path[n - 1];
        for (int j = 0; j < J; ++j) joints[j] = last.position[j];
        if (cmdIndex) *cmdIndex = last.commandIndex;
    }
    if (t < step * n) return -1;
    return path[n - 1].successorIndex;
}

// ---------------------------------------------------------------------------
// Planning (worker thread)

int PathGenerator::ComputePath() {
    WaitForWorker();
    const uint64_t generation = requestGeneration.load();
    readyGeneration.store(0, std::memory_order_release);
    std::unique_ptr<PlanRequest> request = MakeRequest(generation);
    Plan(*request);
    return 0;
}

void PathGenerator::ReleasePathMemory() {
    ReleaseList(rawPath);
    ReleaseList(forwardPath);
    ReleaseList(backwardPath);
    ReleaseList(finalPath);
    cornerIndex.clear();
    cornerSmooth.clear();
}

size_t PathGenerator::PathMemoryBytes() const {
    return (rawPath.capacity() + forwardPath.capacity() + backwardPath.capacity() +
            finalPath.capacity()) *
           sizeof(JointSet);
}

void PathGenerator::Plan(PlanRequest& req) {
    LogSingleton* log = LogSingleton::instance();
    const bool dbg = req.debug;
    if (dbg) log->add("PG: computing path...");
    timespec start{};
    clock_gettime(CLOCK_REALTIME, &start);
    sampledUs = 0;
    ReleasePathMemory();

    try {
        if (kinematic == nullptr) throw std::runtime_error("no planning kinematic");
        if (req.commandCount < 1) throw std::runtime_error("no command to plan");
        if (req.optimize) {
            // No acceleration allowed means no motion: the limited path would
            // never leave its start.
            for (int k = 0; k < req.commandCount; ++k) {
                if (!(req.commands[k].accPercent > 0.0f))
                    throw std::runtime_error("command " + std::to_string(req.commandIndex[k]) +
                                             " has an acceleration of 0%");
            }
        }

        DataTypes::RobotState S = req.startState;
        float startJoints[JointSet::kMaxJoints];
        for (int j = 0; j < JointSet::kMaxJoints; ++j) startJoints[j] = req.startState.jointSetPoint[j];
        {
            float joints[JointSet::kMaxJoints];
            std::copy(startJoints, startJoints + JointSet::kMaxJoints, joints);
            kinematic->SetJoints(joints, true);
        }

        rawPath.push_back(JointSet(JointSet::kMaxJoints, startJoints, 0, 0, req.commandIndex[0],
                                   req.successorIndex[0], accHandler.RequestAcc()));

        for (int k = 0; k < req.commandCount; ++k) {
            const Command& record = req.commands[k];
            accHandler.SetPercent(record.accPercent);

            std::unique_ptr<Command> kind;
            if (record.typeName == "CommandJoint") {
                kind = std::make_unique<CommandJoint>(req.commands[k]);
            } else if (record.typeName == "CommandRelative") {
                kind = std::make_unique<CommandRelative>(req.commands[k]);
            } else if (record.typeName == "CommandLinear") {
                kind = std::make_unique<CommandLinear>(req.commands[k]);
            } else {
                throw std::runtime_error("not a motion command: " + record.typeName);
            }
            const bool jointMotion = kind->motionType == 0;

            int steps = 0;
            int result = -1;
            do {
                if (Superseded(req)) throw PlanSuperseded{};
                result = kind->Interpolate(stepUs / 1000, 100.0f, &S);
                if (jointMotion) {
                    float joints[JointSet::kMaxJoints];
                    std::copy(S.jointSetPoint, S.jointSetPoint + JointSet::kMaxJoints, joints);
                    kinematic->SetJoints(joints, true);
                    kinematic->GetPosition(&S);
                } else {
                    DataTypes::Matrix44 pose = S.posCartRobot;
                    kinematic->SetPosition(pose);
                    kinematic->GetJoints(S.jointSetPoint);
                }
                rawPath.push_back(JointSet(JointSet::kMaxJoints, S.jointSetPoint, 0, 0, req.commandIndex[k],
                                           req.successorIndex[k], accHandler.RequestAcc()));
                sampledUs += stepUs;
                ++steps;
                if (steps >= kMaxCommandSteps) {
                    log->add("PG: aborting interpolation Joint");
                    break;
                }
            } while (result == -1);

            if (k < req.commandCount - 1) {
                cornerIndex.push_back(static_cast<int32_t>(rawPath.size()) - 1);
                cornerSmooth.push_back(record.smoothPercent);
            }
            if (dbg) log->add("PG: iterations: ", steps);
        }
        if (dbg) log->add("PG: path generation in ms: ", static_cast<float>(GetDiffTime(start) / 10.0));

        if (req.optimize) {
            SmoothCorner();
            LimitForward();
            const bool complete = LimitBackward();
            Turn();
            if (!complete) {
                // The backward pass stopped before reaching the start of the path:
                // its reversal would begin somewhere in the middle and the robot
                // would jump there. The forward path starts where the robot
                // stands and is continuous; only its deceleration is unlimited,
                // as with optimisation off.
                log->addError("PG: backward pass incomplete, using the forward path");
                finalPath = forwardPath;
            }
        }

        {
            float joints[JointSet::kMaxJoints];
            std::copy(startJoints, startJoints + JointSet::kMaxJoints, joints);
            kinematic->SetJoints(joints, true);
        }

        const long elapsed = GetDiffTime(start);
        if (dbg) log->add("PG: computing path - done in ms: ", static_cast<float>(elapsed / 10.0));
        if (elapsed > kDelayLogTenthsMs)
            log->add("PG: DELAY in computing path - ms: ", static_cast<float>(elapsed / 10.0));

        pathOptimized = req.optimize;
        std::copy(startJoints, startJoints + JointSet::kMaxJoints, pathStartJoints);
        pathFirstCommand = req.commandIndex[0];
        // Publish: everything above happens-before a reader that sees this.
        readyGeneration.store(req.generation, std::memory_order_release);
        return;
    } catch (const PlanSuperseded&) {
        if (dbg) log->add("PG: path superseded by a newer one");
        return;
    } catch (int code) {
        log->addError("PG: Error in ComputePath: " + std::to_string(code));
    } catch (const std::exception& e) {
        log->addError(std::string("PG: Error in ComputePath: ") + e.what());
    } catch (const char* text) {
        log->addError(std::string("PG: Error in ComputePath: ") + (text ? text : ""));
    } catch (const std::string& text) {
        log->addError("PG: Error in ComputePath: " + text);
    } catch (...) {
        log->addError("PG: Error in ComputePath: unknown exception");
    }
    // Only reached after an error: the interpreter must not wait for this path.
    failedGeneration.store(req.generation, std::memory_order_release);
}

void PathGenerator::SmoothCorner() {
    timespec start{};
    clock_gettime(CLOCK_REALTIME, &start);
    const int J = Joints();
    const size_t corners = std::min(cornerIndex.size(), cornerSmooth.size());
    for (size_t k = 0; k < corners; ++k) {
        const long count = static_cast<long>(rawPath.size());
        const long c = cornerIndex[k];
        if (c < 0 || c >= count) continue;
        const long after = count - c - 1;
        // 100 percent blends over 50 samples on each side. Negative or
        // non-numeric percentages leave the corner alone instead of reaching
        // outside the path.
        const float percent = std::min(cornerSmooth[k], 1000.0f);
        long n = (percent > 0.0f) ? static_cast<long>(percent * 50.0f / 100.0f) : 0;
        if (n > c) n = c;
        if (n > after) n = after;
        if (n <= 0) continue;

        // The curve keeps pointers to its control points, and the samples are
        // rewritten while it is evaluated: the control points are copies.
        float p0[JointSet::kMaxJoints], p1[JointSet::kMaxJoints], p2[JointSet::kMaxJoints];
        std::copy(rawPath[c - n].position, rawPath[c - n].position + JointSet::kMaxJoints, p0);
        std::copy(rawPath[c].position, rawPath[c].position + JointSet::kMaxJoints, p1);
        std::copy(rawPath[c + n].position, rawPath[c + n].position + JointSet::kMaxJoints, p2);
        DataTypes::BezierCasteljau curve(J);
        curve.AddStartPoint(p0);
        curve.AddStartPoint(p1);
        curve.AddStartPoint(p2);

        // Sample c - n + i takes the curve at t = i / 2n, so the window's end
        // samples stay on the first and third control points and the spacing
        // of the samples stays even. (Starting at t = 1/2n instead would leap
        // a double step into the window and leave two samples on its last
        // point: a stop at the end of every blended corner.)
        const float d = 1.0f / static_cast<float>(2 * n);
        float out[JointSet::kMaxJoints];
        for (long i = 1; i < 2 * n; ++i) {
            curve.Interpolate(static_cast<float>(i) * d, out);
            std::copy(out, out + J, rawPath[c - n + i].position);
        }
    }
    if (debug) LogSingleton::instance()->add("PG: smoothing in ms: ", static_cast<float>(GetDiffTime(start) / 10.0));
}

JointSet PathGenerator::GetJointsAt(long t, const std::vector<JointSet>& path) const {
    const long n = static_cast<long>(path.size());
    if (n == 0) return JointSet();
    const long step = stepUs;
    // Negative times count as beyond the end.
    if (t >= 0 && t < step * (n - 1)) {
        const long i = t / step;
        const float f = static_cast<float>(t % step) / static_cast<float>(step);
        JointSet result = path[i];
        const JointSet& next = path[i + 1];
        for (int j = 0; j < Joints(); ++j)
            result.position[j] = f * next.position[j] + (1.0f - f) * result.position[j];
        return result;
    }
    return path[n - 1];
}

int PathGenerator::ComputeAcceleration(JointSet* cur, const JointSet* prev) const {
    const int J = Joints();
    const float r = 1000000.0f / static_cast<float>(stepUs);
    float maxAcc = 0.0f;
    int maxJoint = 0;
    for (int i = 0; i < J; ++i) {
        cur->velocity[i] = (cur->position[i] - prev->position[i]) * r;
        cur->acceleration[i] = (cur->velocity[i] - prev->velocity[i]) * r;
        if (std::fabs(cur->acceleration[i]) > std::fabs(maxAcc)) {
            maxAcc = cur->acceleration[i];
            maxJoint = i;
        }
    }
    cur->maxAcc = maxAcc;
    cur->maxAccJoint = maxJoint;
    return J;
}

namespace {

// Fraction of the candidate step c that keeps every speeding-up joint within
// its limit, measured against the previous output sample; 1.0 when none is
// over. `slack` widens the limit when re-checking a shortened step, so that a
// joint exactly at its limit does not count as over it.
float AllowedFraction(const JointSet& c, const JointSet& prev, int J, float dt, float slack, bool* limited) {
    float s = 1.0f;
    *limited = false;
    for (int i = 0; i < J; ++i) {
        const float v = c.velocity[i];
        const float a = c.acceleration[i];
        const float L = c.accLimit[i];
        const bool speedingUp = (a > 0.0f && v > 0.0f) || (a < 0.0f && v < 0.0f);
        if (!speedingUp) continue;
        if (std::fabs(a) < L + slack * (std::fabs(L) + 1.0f)) continue;
        *limited = true;
        float q = std::fabs(prev.velocity[i] + L * static_cast<float>(PathGenerator::signum(a)) * dt) /
                  std::fabs(v);
        if (q > 1.0f) q = 1.0f;
        s = std::min(s, q);
    }
    return s;
}

// A limited step assumes the velocity scales with the step. Where the path
// bends within the step it does not, and the joint would still exceed its
// limit: the step is then shortened by bisection down to one microsecond.
constexpr int kRefineRounds = 16;
constexpr float kRefineSlack = 1e-3f;

}  // namespace

JointSet PathGenerator::NextLimitedSample(const std::vector<JointSet>& path, long T, bool backward,
                                          const JointSet& prev, long* t) const {
    const int J = Joints();
    const float dt = static_cast<float>(stepUs) / 1000000.0f;
    auto at = [&](long passTime) { return GetJointsAt(backward ? maximum(0, T - passTime) : passTime, path); };

    JointSet c = at(*t + stepUs);
    ComputeAcceleration(&c, &prev);
    bool limited = false;
    float s = AllowedFraction(c, prev, J, dt, 0.0f, &limited);
    if (!limited) {
        *t += stepUs;
        return c;
    }
    const long minAdvance = backward ? 1 : 0;  // the backward pass must always move on
    auto advanceFor = [&](float fraction) {
        return std::max(minAdvance, static_cast<long>(fraction * static_cast<float>(stepUs)));
    };
    auto within = [&](long advance, JointSet* sample) {
        *sample = at(*t + advance);
        ComputeAcceleration(sample, &prev);
        if (advance <= minAdvance) return true;
        bool over = false;
        AllowedFraction(*sample, prev, J, dt, kRefineSlack, &over);
        return !over;
    };

    long advance = advanceFor(s);
    if (!within(advance, &c)) {
        // Largest advance in (lo, hi] known to stay within the limits: lo.
        long lo = minAdvance;
        long hi = advance;
        JointSet candidate;
        for (int round = 0; round < kRefineRounds && hi - lo > 1; ++round) {
            const long mid = lo + (hi - lo) / 2;
            if (within(mid, &candidate))
                lo = mid;
            else
                hi = mid;
        }
        advance = lo;
        c = at(*t + advance);
        ComputeAcceleration(&c, &prev);
    }
    *t += advance;
    return c;
}

void PathGenerator::LimitForward() { LimitPass(rawPath, false, &forwardPath, "LF", "LimitForward"); }

bool PathGenerator::LimitBackward() {
    return LimitPass(forwardPath, true, &backwardPath, "LB", "LimitBackward");
}

bool PathGenerator::LimitPass(const std::vector<JointSet>& from, bool backward,
                              std::vector<JointSet>* to, const char* tag, const char* name) {
    timespec start{};
    clock_gettime(CLOCK_REALTIME, &start);
    const int J = Joints();
    to->clear();
    if (from.empty()) return true;
    const long T = static_cast<long>(stepUs) * static_cast<long>(from.size() - 1);

    JointSet first = backward ? from.back() : from[0];
    for (int i = 0; i < J; ++i) first.velocity[i] = 0.0f;
    to->push_back(first);
    long t = 0;
    int k = 0;
    while (t + stepUs < T) {
        if (k >= kMaxLimitSteps) {
            LogSingleton::instance()->addError(std::string(tag) + ": " + name + " stalled!");
            return false;
        }
        JointSet c = NextLimitedSample(from, T, backward, (*to)[k], &t);
        to->push_back(c);
        ++k;
    }
    // The forward pass keeps the raw path's end; the backward pass ends where it got to.
    if (!backward) to->push_back(from.back());
    if (debug) {
        char line[96];
        std::snprintf(line, sizeof(line), "PG: %s in %.1lf ms, %d steps", name, GetDiffTime(start) / 10.0, k);
        LogSingleton::instance()->add(line);
    }
    return true;
}

void PathGenerator::Turn() {
    finalPath.assign(backwardPath.rbegin(), backwardPath.rend());
}

// ---------------------------------------------------------------------------
// Diagnostics

void PathGenerator::CheckPath(const std::vector<JointSet>* path) const {
    if (path == nullptr) return;
    const long n = static_cast<long>(path->size());
    constexpr int kChecked = 5;
    float maxDiff[kChecked] = {};
    bool faulty = false;
    for (long i = 1; i < n; ++i) {
        const JointSet a = GetJointsAt((i - 1) * stepUs, *path);
        const JointSet b = GetJointsAt(i * stepUs, *path);
        for (int j = 0; j < kChecked; ++j) {
            const float diff = std::fabs(b.position[j] - a.position[j]);
            if (diff > maxDiff[j]) maxDiff[j] = diff;
            if (diff > 2.0f) {
                faulty = true;
                std::printf("Jointset %ld joint %d: diff %.2f (%.2f -> %.2f)\n", i, j, diff, a.position[j],
                            b.position[j]);
            }
        }
    }
    char line[160];
    std::snprintf(line, sizeof(line), "Path length %ld  Max: %.2lf  %.2lf   %.2lf  %.2lf   %.2lf", n,
                  static_cast<double>(maxDiff[0]), static_cast<double>(maxDiff[1]), static_cast<double>(maxDiff[2]),
                  static_cast<double>(maxDiff[3]), static_cast<double>(maxDiff[4]));
    LogSingleton* log = LogSingleton::instance();
    log->add(line);
    if (faulty) {
        log->add("");
        log->add("ERROR IN PATH");
        PrintPath(path);
        log->add("");
        throw "PG: Max path diff too high!";
    }
}

void PathGenerator::PrintPath(const std::vector<JointSet>* path) const {
    if (path == nullptr) return;
    LogSingleton* log = LogSingleton::instance();
    const long n = static_cast<long>(path->size());
    for (long i = 0; i < n; ++i) {
        const JointSet s = GetJointsAt(i * stepUs, *path);
        char line[160];
        std::snprintf(line, sizeof(line), "PG: %ld - %.2lf %.2lf %.2lf %.2lf %.2lf", i * stepUs,
                      static_cast<double>(s.position[0]), static_cast<double>(s.position[1]),
                      static_cast<double>(s.position[2]), static_cast<double>(s.position[3]),
                      static_cast<double>(s.position[4]));
        log->add(line);
    }
}

long PathGenerator::GetDiffTime(timespec start) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    long seconds = static_cast<long>(now.tv_sec - start.tv_sec);
    long nanos = now.tv_nsec - start.tv_nsec;
    if (nanos < 0) {
        seconds -= 1;
        nanos += 1000000000L;
    }
    return seconds * 10000 + nanos / 100000;
}

int PathGenerator::signum(float x) {
    if (x > 0.0f) return 1;
    if (x == 0.0f) return 0;
    return -1;
}

long PathGenerator::maximum(long a, long b) {
    return a > b ? a : b;
}
