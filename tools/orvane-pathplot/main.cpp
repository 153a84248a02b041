// orvane-pathplot: plans the first path of a robot program the way the
// controller would and writes what the planner made of it, raw against final,
// as CSV (and as a PNG plot when gnuplot is installed).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgKinematics/KinematicFactory.h"
#include "PkgProgram/IPO.h"
#include "PkgProgram/PathGenerator.h"

extern char** environ;

namespace {

const char* kUsage =
    "usage: orvane-pathplot --robot ROBOT.xml --program PROGRAM.xml --joints A1,A2,... [options]\n"
    "  --out PREFIX        output files PREFIX.csv, PREFIX.png (default: pathplot)\n"
    "  --optimize on|off   path optimisation (default: the robot file's PathGeneration Optimize, else on)\n"
    "  --no-png            do not run gnuplot\n"
    "Plans the program's first path: its first motion command and the motion commands\n"
    "chained after it (smoothing above 0, at most ten), from the given start joints.\n";

struct Options {
    std::string robotFile;
    std::string programFile;
    std::string joints;
    std::string out = "pathplot";
    int optimize = -1;  // -1: from the robot file
    bool png = true;
};

bool ParseArgs(int argc, char** argv, Options* o, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* target) {
            if (i + 1 >= argc) {
                *error = "missing value after " + arg;
                return false;
            }
            *target = argv[++i];
            return true;
        };
        if (arg == "--robot") {
            if (!value(&o->robotFile)) return false;
        } else if (arg == "--program") {
            if (!value(&o->programFile)) return false;
        } else if (arg == "--joints") {
            if (!value(&o->joints)) return false;
        } else if (arg == "--out") {
            if (!value(&o->out)) return false;
        } else if (arg == "--optimize") {
            std::string v;
            if (!value(&v)) return false;
            if (v != "on" && v != "off") {
                *error = "--optimize takes on or off";
                return false;
            }
            o->optimize = v == "on" ? 1 : 0;
        } else if (arg == "--no-png") {
            o->png = false;
        } else if (arg == "--help" || arg == "-h") {
            *error = "";
            return false;
        } else {
            *error = "unknown option " + arg;
            return false;
        }
    }
    if (o->robotFile.empty() || o->programFile.empty() || o->joints.empty()) {
        *error = "--robot, --program and --joints are required";
        return false;
    }
    return true;
}

bool ParseJoints(const std::string& text, float* joints, std::string* error) {
    std::stringstream in(text);
    std::string item;
    int n = 0;
    while (std::getline(in, item, ',')) {
        if (n >= JointSet::kMaxJoints) {
            *error = "more than 9 joint values";
            return false;
        }
        char* end = nullptr;
        const float v = std::strtof(item.c_str(), &end);
        if (item.empty() || end == item.c_str() || *end != '\0' || !std::isfinite(v)) {
            *error = "not a joint value: \"" + item + "\"";
            return false;
        }
        joints[n++] = v;
    }
    if (n == 0) {
        *error = "no joint values";
        return false;
    }
    return true;
}

// The kinematic type and the optimisation flag of a robot configuration file.
bool ReadRobotFile(const std::string& file, std::string* type, bool* optimize, std::string* error) {
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(file.c_str()) != tinyxml2::XML_SUCCESS) {
        *error = "cannot read robot file " + file;
        return false;
    }
    tinyxml2::XMLElement* robot = doc.FirstChildElement("Robot");
    tinyxml2::XMLElement* kin = robot ? robot->FirstChildElement("Kinematic") : nullptr;
    const char* t = kin ? kin->Attribute("Type") : nullptr;
    if (t == nullptr) {
        *error = "no Kinematic Type in " + file;
        return false;
    }
    *type = t;
    *optimize = true;
    if (tinyxml2::XMLElement* pg = robot->FirstChildElement("PathGeneration")) pg->QueryBoolAttribute("Optimize", optimize);
    return true;
}

// Velocities and accelerations by finite differences in time order (the
// backward pass stores them in reverse time, the raw path not at all).
std::vector<JointSet> WithDerivatives(const PathGenerator& pg, const std::vector<JointSet>& path) {
    std::vector<JointSet> out = path;
    for (size_t i = 0; i < out.size(); ++i) {
        for (int j = 0; j < JointSet::kMaxJoints; ++j) out[i].velocity[j] = out[i].acceleration[j] = 0.0f;
        if (i > 0) pg.ComputeAcceleration(&out[i], &out[i - 1]);
    }
    return out;
}

void WriteRows(std::ofstream& csv, const char* name, const std::vector<JointSet>& path, int J, int stepUs) {
    for (size_t i = 0; i < path.size(); ++i) {
        csv << name << ',' << (static_cast<double>(i) * stepUs / 1e6) << ',' << path[i].commandIndex;
        for (int j = 0; j < J; ++j) csv << ',' << path[i].position[j];
        for (int j = 0; j < J; ++j) csv << ',' << path[i].velocity[j];
        for (int j = 0; j < J; ++j) csv << ',' << path[i].acceleration[j];
        csv << '\n';
    }
}

bool GnuplotAvailable() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && access((dir + "/gnuplot").c_str(), X_OK) == 0) return true;
    }
    return false;
}

// Runs gnuplot on the script without a shell; true when it exited with 0.
bool RunGnuplot(const std::string& script) {
    std::vector<char*> args = {const_cast<char*>("gnuplot"), const_cast<char*>(script.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "gnuplot", nullptr, nullptr, args.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += (c == '\'') ? std::string("''") : std::string(1, c);
    return q + "'";
}

void WriteGnuplotScript(const std::string& script, const std::string& csv, const std::string& png, int J) {
    std::ofstream gp(script);
    gp << "set terminal pngcairo size 1400,1000 noenhanced\n"
       << "set output " << Quoted(png) << "\n"
       << "set datafile separator ','\n"
       << "set key outside right\n"
       << "set grid\n"
       << "set multiplot layout 2,1 title 'orvane-pathplot: raw (dashed) against final (solid)'\n";
    const char* what[2] = {"position", "velocity / s"};
    for (int panel = 0; panel < 2; ++panel) {
        gp << "set xlabel 'path time [s]'\nset ylabel '" << what[panel] << "'\nplot ";
        for (int j = 0; j < J; ++j) {
            const int column = 4 + panel * J + j;
            if (j > 0) gp << ", ";
            gp << Quoted(csv) << " using (strcol(1) eq 'raw' ? $2 : NaN):" << column << " with lines dt 2 lc " << (j + 1)
               << " title 'A" << (j + 1) << " raw', " << Quoted(csv) << " using (strcol(1) eq 'final' ? $2 : NaN):" << column
               << " with lines lw 2 lc " << (j + 1) << " title 'A" << (j + 1) << "'";
        }
        gp << "\n";
    }
    gp << "unset multiplot\n";
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    if (!ParseArgs(argc, argv, &o, &error)) {
        if (!error.empty()) std::cerr << "orvane-pathplot: " << error << "\n";
        std::cerr << kUsage;
        return 2;
    }
    float startJoints[JointSet::kMaxJoints] = {};
    if (!ParseJoints(o.joints, startJoints, &error)) {
        std::cerr << "orvane-pathplot: " << error << "\n";
        return 2;
    }
    std::string kinType;
    bool fileOptimize = true;
    if (!ReadRobotFile(o.robotFile, &kinType, &fileOptimize, &error)) {
        std::cerr << "orvane-pathplot: " << error << "\n";
        return 2;
    }
    const bool optimize = o.optimize < 0 ? fileOptimize : o.optimize == 1;

    // The controller's log would otherwise echo every configuration line.
    LogSingleton::instance()->SetConsoleEcho(false);
    try {
        std::unique_ptr<RobotKinematic> kin = KinematicFactory::Create(kinType);
        if (!kin) {
            std::cerr << "orvane-pathplot: unknown kinematic type " << kinType << "\n";
            return 2;
        }
        kin->Init("pathplot", kinType, o.robotFile);
        const int J = kin->jointCount > 0 ? std::min(kin->jointCount, JointSet::kMaxJoints) : 6;

        IPO ipo;
        ipo.jointCount = J;
        const size_t slash = o.programFile.find_last_of('/');
        ipo.SetProgramDirectory(slash == std::string::npos ? "./" : o.programFile.substr(0, slash + 1));
        const std::string name = slash == std::string::npos ? o.programFile : o.programFile.substr(slash + 1);
        if (ipo.LoadProgram(name) != 0) {
            std::cerr << "orvane-pathplot: could not load program " << o.programFile << " (see logMessages01.txt)\n";
            return 1;
        }
        const RobotProgram program = ipo.GetProgram(0);
        const std::vector<Command>& cmds = program.commands;
        int first = -1;
        for (size_t i = 0; i < cmds.size(); ++i) {
            if (cmds[i].motionType != 2) {
                first = static_cast<int>(i);
                break;
            }
        }
        if (first < 0) {
            std::cerr << "orvane-pathplot: the program has no motion command\n";
            return 1;
        }

        DataTypes::RobotState start;
        for (int j = 0; j < JointSet::kMaxJoints; ++j) start.jointSetPoint[j] = startJoints[j];
        kin->SetJoints(start.jointSetPoint, false);
        kin->GetPosition(&start);

        PathGenerator pg;
        pg.jointCount = J;
        pg.optimize = optimize;
        pg.SetKinematic(KinematicFactory::CreateCopy(*kin));

        // The interpreter's chaining rule: follow successor slot 0 while the
        // previous command smooths and the next is a motion command.
        const int count = static_cast<int>(cmds.size());
        int c = first;
        int n = cmds[c].successor[0];
        pg.SetFirstCmd(cmds[c], &start, c, n);
        std::vector<int> chained = {c};
        for (int counter = 1; n > 0 && n < count; ) {
            if (cmds[n].motionType == 2 || !(cmds[c].smoothPercent > 0.0f)) break;
            const int m = cmds[n].successor[0];
            pg.SetNextCmd(cmds[n], n, m);
            chained.push_back(n);
            ++counter;
            if (counter > 9 || m < 1) break;
            c = n;
            n = m;
        }

        pg.ComputePath();
        if (!pg.IsPathReady()) {
            std::cerr << "orvane-pathplot: the path could not be planned (see logMessages01.txt for the PG: line)\n";
            return 1;
        }

        const std::vector<JointSet> raw = WithDerivatives(pg, pg.rawPath);
        const std::vector<JointSet> finalPath = WithDerivatives(pg, optimize ? pg.finalPath : pg.rawPath);
        const std::string csvFile = o.out + ".csv";
        std::ofstream csv(csvFile);
        if (!csv) {
            std::cerr << "orvane-pathplot: cannot write " << csvFile << "\n";
            return 1;
        }
        csv << "path,time_s,command";
        for (int j = 0; j < J; ++j) csv << ",pos" << (j + 1);
        for (int j = 0; j < J; ++j) csv << ",vel" << (j + 1);
        for (int j = 0; j < J; ++j) csv << ",acc" << (j + 1);
        csv << '\n';
        WriteRows(csv, "raw", raw, J, pg.stepUs);
        WriteRows(csv, "final", finalPath, J, pg.stepUs);
        csv.close();

        std::cout << "commands:";
        for (int i : chained) std::cout << ' ' << i;
        std::cout << "\noptimisation: " << (optimize ? "on" : "off") << "\nraw path: " << raw.size() << " samples, "
                  << raw.size() * pg.stepUs / 1e6 << " s\nfinal path: " << finalPath.size() << " samples, "
                  << finalPath.size() * pg.stepUs / 1e6 << " s\nwrote " << csvFile << "\n";

        if (o.png) {
            if (!GnuplotAvailable()) {
                std::cout << "gnuplot not found: no PNG (install the Debian package gnuplot-nox)\n";
            } else {
                const std::string script = o.out + ".gp";
                const std::string png = o.out + ".png";
                WriteGnuplotScript(script, csvFile, png, J);
                if (RunGnuplot(script)) {
                    std::cout << "wrote " << png << "\n";
                } else {
                    std::cerr << "orvane-pathplot: gnuplot failed on " << script << "\n";
                    return 1;
                }
            }
        }
        return 0;
    } catch (const ConfigError& e) {
        std::cerr << "orvane-pathplot: " << e.what() << "\n";
        return 2;
    } catch (int code) {
        std::cerr << "orvane-pathplot: kinematic error " << code << " at the start joints\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "orvane-pathplot: " << e.what() << "\n";
        return 1;
    } catch (const char* text) {
        std::cerr << "orvane-pathplot: " << (text ? text : "error") << "\n";
        return 1;
    } catch (const std::string& text) {
        std::cerr << "orvane-pathplot: " << text << "\n";
        return 1;
    }
}
