#include "ComTelegram.h"

#include "TextFormat.h"

std::string ComTelegram::Status(int counter, const DataTypes::RobotState& s) {
    auto d = [](float v) { return static_cast<double>(v); };
    unsigned long long din = s.DigitalInBits();
    unsigned long long dout = s.DigitalOutBits();
    return Format(
        "NEXSTART %d STATUS MODE %s POSJOINTSETPOINT %4.2f %4.2f %4.2f %4.2f %4.2f %4.2f %4.2f "
        "0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 "
        "POSJOINTCURRENT %4.2f %4.2f %4.2f %4.2f %4.2f %4.2f %4.2f "
        "0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 "
        "POSCARTROBOT %1.1f %1.1f %1.1f %1.2f %1.2f %1.2f POSCARTPLATTFORM 0.0 0.0 0.0 "
        "OVERRIDE %1.1f DIN %llu DOUT %llu ESTOP %d SUPPLY %d CURRENTALL %d "
        "CURRENTJOINTS %d %d %d %d %d %d %d 0 0 0 0 0 0 0 0 0 "
        "ERROR %s %d %d %d %d %d %d %d 4 4 4 4 4 4 4 4 4 KINSTATE %d NEXEND\n",
        counter, "joint",
        d(s.jointSetPoint[0]), d(s.jointSetPoint[1]), d(s.jointSetPoint[2]),
        d(s.jointSetPoint[3]), d(s.jointSetPoint[4]), d(s.jointSetPoint[5]),
        d(s.jointSetPoint[6]),
        d(s.jointCurrent[0]), d(s.jointCurrent[1]), d(s.jointCurrent[2]),
        d(s.jointCurrent[3]), d(s.jointCurrent[4]), d(s.jointCurrent[5]),
        d(s.jointCurrent[6]),
        d(s.posCartRobot(0, 3)), d(s.posCartRobot(1, 3)), d(s.posCartRobot(2, 3)),
        d(s.posA), d(s.posB), d(s.posC),
        d(s.override), din, dout,
        static_cast<int>(s.emergencyStop), static_cast<int>(s.supply),
        static_cast<int>(s.currentAll),
        static_cast<int>(s.jointMotorCurrent[0]), static_cast<int>(s.jointMotorCurrent[1]),
        static_cast<int>(s.jointMotorCurrent[2]), static_cast<int>(s.jointMotorCurrent[3]),
        static_cast<int>(s.jointMotorCurrent[4]), static_cast<int>(s.jointMotorCurrent[5]),
        static_cast<int>(s.jointMotorCurrent[6]),
        s.errorText.c_str(),
        static_cast<int>(s.jointError[0]), static_cast<int>(s.jointError[1]),
        static_cast<int>(s.jointError[2]), static_cast<int>(s.jointError[3]),
        static_cast<int>(s.jointError[4]), static_cast<int>(s.jointError[5]),
        static_cast<int>(s.jointError[6]),
        static_cast<int>(s.kinState));
}

std::string ComTelegram::Message(int counter, const std::string& text) {
    return Format("NEXSTART %d MESSAGE %s NEXEND\n", counter, text.c_str());
}

std::string ComTelegram::Answer(int counter, const std::string& text) {
    return Format("NEXSTART %d %s NEXEND\n", counter, text.c_str());
}
