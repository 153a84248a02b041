#include "MainDispatchLoop.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <thread>

#include "ComStatusTelegram.h"
#include "LogSingleton.h"
#include "PkgKinematics/RobotMaster.h"
#include "ProjectManager.h"
#include "TextFormat.h"

namespace {

LogSingleton* Log() { return LogSingleton::instance(); }

}  // namespace

MainDispatchLoop::MainDispatchLoop(RobotMaster& robot, DataTypes::RobotState& snapshot,
                                   OperatorChannel& keyboard, OperatorChannel& display,
                                   OperatorChannel& frontend)
    : rm(robot), rs(snapshot), keyboardChannel(keyboard), displayChannel(display), frontendChannel(frontend) {}

void MainDispatchLoop::Sleep(int ms) {
    if (sleepMs) {
        sleepMs(ms);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

void MainDispatchLoop::Report(const std::string& line) {
    Log()->add(line);
    if (reportObserver) reportObserver(line);
}

bool MainDispatchLoop::Pass() {
    if (shutdownRequested.exchange(false) && !flagStop.load()) {
        Log()->add("Orvane: termination signal received");
        Shutdown();
    }

    // 1. Bus supervision and reconnection.
    SuperviseBus();

    // 2.-4. Snapshot for the front-end and the display.
    rm.GetValues(&rs);
    if (peripherals.frontendPublish) peripherals.frontendPublish(rs);
    if (peripherals.displaySetValues) peripherals.displaySetValues(rs);

    // 5. Jog merge.
    JogMerge();

    // 6.-7. At most one operator command per pass.
    CarryOut(SelectCommand());

    // 8.-9. Bus shutdown request, status line, full report.
    ++passCounter;
    if (passCounter % statusEvery == 0) {
        if (rm.GetShutdownRequest() == 1 && !flagStop.load()) {
            Log()->add("Orvane: shutdown requested by the joint bus");
            Shutdown();
        }
        Report(StatusLine(rs));
    }
    if (passCounter >= reportEvery) {
        rm.GetFrequency();
        Report(ErrorLine(rs));
        Report(TemperatureLine(rs));
        Report(ReferenceLine(rs));
        passCounter = 0;
    }

    // 10. Display.
    if (peripherals.displayUpdate) peripherals.displayUpdate(rs.errorText);

    // 11.-12.
    Sleep(passSleepMs);
    return !flagStop.load();
}

// A silent bus is disconnected here, off the robot cycle. The first attempts
// reconnect as they always did; a connection whose modules answer restores
// them; once they are spent a quiet attempt follows every slowRetryPasses for
// as long as the controller runs. Each change of state is logged once.
void MainDispatchLoop::SuperviseBus() {
    if (rm.BusDisconnectRequested()) {
        rm.DisconnectBus();
        busWasLost = true;
    }
    const bool connected = rm.GetConnectionStatus();
    if (connected && rm.GetBusAnswering()) {
        if (busWasLost || busSlowRetry) {
            Log()->add("Orvane: CAN bus answering again, 5 connection attempts restored; reset and enable to move");
            Log()->DisplaySetMessage("CAN bus back: reset");
        }
        if (busSlowRetry) rm.SetBusQuiet(false);
        busWasLost = false;
        busSlowRetry = false;
        cntCANConnectionTries = connectionTries;
        return;
    }
    if (busSlowRetry) {
        if (--busRetryCountdown > 0 || connected) return;
        busRetryCountdown = slowRetryPasses;
        rm.ConnectBus();
        return;
    }
    if (connected) return;  // waiting for the first answers
    if (cntCANConnectionTries > 0) {
        Log()->add("***************** Connecting CAN bus... ******************");
        --cntCANConnectionTries;
        Sleep(500);
        rm.ConnectBus();
        return;
    }
    busSlowRetry = true;
    busRetryCountdown = slowRetryPasses;
    rm.SetBusQuiet(true);
    Log()->addError("Orvane: CAN bus not answering after 5 connection attempts, retrying every 5 s");
}

int MainDispatchLoop::Run() {
    try {
        while (Pass()) {
        }
    } catch (const std::exception& error) {
        Log()->add(Format("MAIN LOOP EXCEPTION: %s", error.what()));
        std::cout << "Error in Main Loop: " << error.what() << std::endl;
    }
    Log()->add("Orvane: Exiting...");
    Log()->Flush();
    return 0;
}

void MainDispatchLoop::Shutdown() {
    Log()->add("Shutdown: ... closing down");
    rm.StopProgram();
    rm.Reset();
    Sleep(50);
    Log()->add("Shutdown done");
    flagStop.store(true);
}

void MainDispatchLoop::resetJogValues() {
    keyboardChannel.ResetJogValues();
    displayChannel.ResetJogValues();
    frontendChannel.ResetJogValues();
    for (float& value : jogValues) value = 0.0f;
}

void MainDispatchLoop::GetJogValues(float* out) const {
    for (int i = 0; i < OperatorChannel::jogCount; ++i) out[i] = jogValues[i];
}

void MainDispatchLoop::JogMerge() {
    float keyboardJog[OperatorChannel::jogCount];
    float displayJog[OperatorChannel::jogCount];
    keyboardChannel.GetJogValues(keyboardJog);
    displayChannel.GetJogValues(displayJog);
    float sum = 0.0f;
    for (int i = 0; i < OperatorChannel::jogCount; ++i) {
        jogValues[i] = keyboardJog[i] + displayJog[i];
        sum += jogValues[i];
    }
    if (sum == 0.0f) {
        if (peripherals.frontendJog) {
            peripherals.frontendJog(jogValues);
        } else {
            frontendChannel.GetJogValues(jogValues);
        }
    } else if (rm.GetMotionMode() != RobotMaster::ROBOT_JOINT) {
        // Local jogging always jogs joints.
        rm.SetMotionMode(1);
    }
    rm.SetJogValues(jogValues);
}

OperatorCommand MainDispatchLoop::SelectCommand() {
    OperatorCommand selected = frontendChannel.TakeCommand();
    OperatorCommand keyboard = keyboardChannel.TakeCommand();
    OperatorCommand display = displayChannel.TakeCommand();
    if (keyboard.code != 0) selected = keyboard;
    if (display.code != 0) selected = display;
    return selected;
}

void MainDispatchLoop::CarryOut(const OperatorCommand& command) {
    const int code = command.code;
    switch (code) {
        case 31:
            rm.SetManualDOut(command.intArg, true);
            return;
        case 32:
            rm.SetManualDOut(command.intArg, false);
            return;
        case 33:
            rm.SetOverride(command.numArg);
            return;
        case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9:
        case 10: case 11: case 12: case 13: case 14: case 15: case 16: case 17:
        case 21: case 22: case 23: case 24:
        case 50: case 51: case 52: case 53: case 54: case 55: case 56: case 57:
        case 61: case 62: case 80: case 81: case 82: case 83: case 84: case 99:
            break;
        default:
            return;  // unknown codes do nothing, not even the jog reset
    }

    resetJogValues();
    switch (code) {
        case 2: rm.StartProgram(); break;
        case 3: rm.PauseProgram(); break;
        case 4: rm.StopProgram(); break;
        case 5: rm.DeleteProgram(); break;
        case 10: rm.Reset(); break;
        case 11:
            rm.Reset();
            rm.EnableMotors(true);
            break;
        case 12: rm.EnableMotors(false); break;
        case 13:
            rm.ResetAllJointsToZero();
            rm.Reset();
            break;
        case 14: rm.ToggleMotionMode(); break;
        case 15: rm.ReferenceJoints(command.intArg); break;
        case 16: rm.ReferenceAllJoints(); break;
        case 17: rm.AlignMotors(); break;
        case 21: case 22: case 23: case 24: rm.SetMotionMode(code - 20); break;
        case 51: case 53: break;
        case 99:
            if (command.intArg == 99) Shutdown();
            break;
        default:
            CarryOutProgramCode(command);
            break;
    }
}

void MainDispatchLoop::CarryOutProgramCode(const OperatorCommand& command) {
    IPO& ipo = rm.GetInterpreter();
    switch (command.code) {
        case 6: {
            float x = 0.0f, y = 0.0f, a = 0.0f, vel = 0.0f;
            if (peripherals.frontendRelative) peripherals.frontendRelative(&x, &y, &a, &vel);
            ipo.AddCommandRelative(0, x, y, a, vel);
            break;
        }
        case 7: ipo.runMode = 0; break;
        case 8: ipo.runMode = 1; break;
        case 9: ipo.runMode = 2; break;
        case 50:
            ipo.AddCommandLinear(4, rs.posCartRobot(0, 3), rs.posCartRobot(1, 3), rs.posCartRobot(2, 3), rs.posA,
                                 rs.posB, rs.posC, rs.override);
            break;
        case 52: ipo.AddCommandJoint(5, 6, rs.jointSetPoint, rm.GetOverride() * 0.5f); break;
        case 54: ipo.AddCommandWait(7, 1000); break;
        case 55: ipo.AddCommandGripper(8, rs.gripperSetPoint); break;
        case 56: ipo.AddCommandDIO(9, 0, rs.digitalOut[0]); break;
        case 57: ipo.TouchUpLastCommand(); break;
        case 61:
            ipo.runMode = 0;
            rm.StartProgram();
            break;
        case 62:
            ipo.runMode = 1;
            rm.StartProgram();
            break;
        case 80:
            ipo.ProgShowCntDecrease();
            ipo.SendCurrentProgShowName();
            break;
        case 81:
            ipo.ProgShowCntIncrease();
            ipo.SendCurrentProgShowName();
            break;
        case 82: {
            const std::string name = ipo.GetCurrentProgShowName();
            ipo.Stop();
            ipo.DeleteAll();
            if (ipo.LoadProgram(name) == 0 && project != nullptr) project->SetStartProgram(name, 40.0f, false);
            break;
        }
        case 83: ipo.WriteXMLFile(0, "storage01.xml"); break;
        case 84: ipo.SendCurrentProgShowName(); break;
        default: break;
    }
}

std::string MainDispatchLoop::StatusLine(const DataTypes::RobotState& s) {
    return Format(
        "Pos: %.1lf %.1lf %.1lf - %.1lf %.1lf %.1lf    Joints: %.1lf, %.1lf, %.1lf, %.1lf, %.1lf, %.1lf   Grp: %.1lf   "
        "Status: %s, %s",
        double(s.posCartRobot(0, 3)), double(s.posCartRobot(1, 3)), double(s.posCartRobot(2, 3)), double(s.posA),
        double(s.posB), double(s.posC), double(s.jointSetPoint[0]), double(s.jointSetPoint[1]),
        double(s.jointSetPoint[2]), double(s.jointSetPoint[3]), double(s.jointSetPoint[4]),
        double(s.jointSetPoint[5]), double(s.gripperSetPoint[0]), s.errorText.substr(0, 64).c_str(),
        ComStatusTelegram::KinStateText(s.kinState).c_str());
}

std::string MainDispatchLoop::ErrorLine(const DataTypes::RobotState& s) {
    return Format(
        "Error Codes Arm: %d %d %d %d %d %d - Grp: %d - Pltf: %d %d %d %d - Supply: %d - Current: %d - EStop: %d",
        s.jointError[0], s.jointError[1], s.jointError[2], s.jointError[3], s.jointError[4], s.jointError[5],
        s.jointError[6], s.jointError[7], s.jointError[8], s.jointError[9], s.jointError[10], s.supply,
        s.currentAll, s.emergencyStop);
}

std::string MainDispatchLoop::TemperatureLine(const DataTypes::RobotState& s) {
    return Format("Board Temp: %.1lf  %.1lf  %.1lf  %.1lf  %.1lf  %.1lf", double(s.jointTemperature[0]),
                  double(s.jointTemperature[1]), double(s.jointTemperature[2]), double(s.jointTemperature[3]),
                  double(s.jointTemperature[4]), double(s.jointTemperature[5]));
}

std::string MainDispatchLoop::ReferenceLine(const DataTypes::RobotState& s) {
    return Format("Ref State: Overall %d  Detailed: %d  %d  %d  %d  %d  %d", s.referenceState,
                  int(s.jointReferenced[0]), int(s.jointReferenced[1]), int(s.jointReferenced[2]),
                  int(s.jointReferenced[3]), int(s.jointReferenced[4]), int(s.jointReferenced[5]));
}
