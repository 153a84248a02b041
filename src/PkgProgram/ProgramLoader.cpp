#include "PkgProgram/ProgramLoader.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "LogSingleton.h"
#include "PkgProgram/CommandDIO.h"
#include "PkgProgram/CommandGripper.h"
#include "PkgProgram/CommandIf.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLinear.h"
#include "PkgProgram/CommandLoop.h"
#include "PkgProgram/CommandMathFunction.h"
#include "PkgProgram/CommandPlugin.h"
#include "PkgProgram/CommandRelative.h"
#include "PkgProgram/CommandStoreData.h"
#include "PkgProgram/CommandSub.h"
#include "PkgProgram/CommandSystem.h"
#include "PkgProgram/CommandWait.h"

namespace {

// The command kind of a program element, or null for structure and unknown elements.
std::unique_ptr<Command> MakeKind(const std::string& element) {
    if (element == "Joint") return std::make_unique<CommandJoint>();
    if (element == "Linear") return std::make_unique<CommandLinear>();
    if (element == "Relative") return std::make_unique<CommandRelative>();
    if (element == "Wait") return std::make_unique<CommandWait>();
    if (element == "Store") return std::make_unique<CommandStoreData>();
    if (element == "MathOperator") return std::make_unique<CommandMathFunction>();
    if (element == "Plugin") return std::make_unique<CommandPlugin>();
    if (element == "System") return std::make_unique<CommandSystem>();
    if (element == "Output") return std::make_unique<CommandDIO>();
    if (element == "Gripper") return std::make_unique<CommandGripper>();
    if (element == "Sub") return std::make_unique<CommandSub>();
    if (element == "Loop") return std::make_unique<CommandLoop>();
    if (element == "If") return std::make_unique<CommandIf>();
    return nullptr;
}

// "a/./b.xml" and "a/b.xml" name the same file; ".." never gets this far.
std::string Normalized(const std::string& name) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(name);
    while (std::getline(in, part, '/')) {
        if (part.empty() || part == ".") continue;
        parts.push_back(part);
    }
    std::string result;
    for (const std::string& p : parts) result += (result.empty() ? "" : "/") + p;
    return result;
}

std::string ElementPlace(const std::string& file, int element, int line) {
    return "element " + std::to_string(element) + " (line " + std::to_string(line) + ") of " + file;
}

}  // namespace

ProgramLoader::ProgramLoader(std::string programDirectory, int jointCount,
                             std::vector<MemoryPosition>* memory,
                             PluginFramework::PluginManager* pluginManager)
    : directory(std::move(programDirectory)),
      jointCount(jointCount),
      memory(memory),
      pluginManager(pluginManager) {
    if (!directory.empty() && directory.back() != '/') directory += '/';
}

bool ProgramLoader::IsSafeName(const std::string& name) {
    if (name.empty() || name.front() == '/') return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '\\') return false;
    }
    std::istringstream in(name);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (part == "..") return false;
    }
    return true;
}

void ProgramLoader::Fail(const std::string& logText, const std::string& shown,
                         const char* thrown) {
    LogSingleton::instance()->addError(logText);
    LogSingleton::instance()->DisplaySetMessage(shown);
    throw thrown;
}

void ProgramLoader::StructureError(const std::string& what, const std::string& file,
                                   int element, int line, const char* thrown) {
    std::string text = "IPO: " + what + " at " + ElementPlace(file, element, line);
    Fail(text, text, thrown);
}

int ProgramLoader::Load(const std::string& name, int baseIndex, std::vector<RobotProgram>* out) {
    chain.clear();
    return LoadFile(name, baseIndex, out);
}

std::string ProgramLoader::ReadFileText(const std::string& name) {
    const std::string path = directory + name;
    LogSingleton::instance()->add("");
    LogSingleton::instance()->add("IPO: Starting to read program from " + path);

    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in.is_open()) {
        Fail("Program not found: " + name, "Program not found: " + name,
             "IPO.Load: program not found!");
    }
    const std::streamoff size = in.tellg();
    if (size <= 0) {
        Fail("File empty: " + name, "File empty: " + name, "IPO.Load: file empty!!");
    }
    if (size > maxFileBytes) {
        Fail("File too large: " + name + " (" + std::to_string(size) + " bytes, at most " +
                 std::to_string(maxFileBytes) + ")",
             "File too large: " + name, "IPO.Load: file too large!");
    }
    LogSingleton::instance()->add("Nr of char: ", static_cast<int>(size));
    std::string text(static_cast<size_t>(size), '\0');
    in.seekg(0);
    in.read(&text[0], size);
    if (in.gcount() != size) {
        Fail("Program not readable: " + name, "Program not found: " + name,
             "IPO.Load: program not found!");
    }
    return text;
}

int ProgramLoader::LoadFile(const std::string& name, int baseIndex,
                            std::vector<RobotProgram>* out) {
    LogSingleton* log = LogSingleton::instance();

    if (name.size() < 4) {
        Fail("Empty filename to load!", "Empty filename to load!", "IPO.Load: empty filename!");
    }
    if (!IsSafeName(name)) {
        Fail("IPO: refusing program name outside the program directory: " + name,
             "Invalid program name: " + name, "IPO.Load: invalid program name!");
    }
    const std::string key = Normalized(name);
    if (std::find(chain.begin(), chain.end(), key) != chain.end()) {
        std::string loop;
        for (const std::string& file : chain) loop += file + " -> ";
        loop += key;
        Fail("IPO: sub-program includes itself: " + loop, "Sub-program loop: " + loop,
             "IPO.Load: sub-program includes itself!");
    }
    if (static_cast<int>(chain.size()) > maxSubProgramDepth) {
        Fail("IPO: sub-programs nested deeper than " + std::to_string(maxSubProgramDepth) +
                 " levels at " + name,
             "Sub-programs nested too deep: " + name, "IPO.Load: sub-programs nested too deep!");
    }
    if (static_cast<int>(out->size()) >= maxPrograms) {
        Fail("IPO: more than " + std::to_string(maxPrograms) + " program files in one load at " +
                 name,
             "Too many sub-programs: " + name, "IPO.Load: too many sub-programs!");
    }

    const std::string text = ReadFileText(name);
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        log->add("XML parsing failed! ");
        log->DisplaySetMessage("XML parsing failed! ");
        throw "IPO.Load: XML parsing failed!";
    }
    tinyxml2::XMLElement* root = doc.FirstChildElement("Program");
    if (root == nullptr) {
        Fail("IPO: no Program element in " + name, "XML parsing failed! ",
             "IPO.Load: no Program element!");
    }

    chain.push_back(key);
    out->push_back(RobotProgram());
    const size_t local = out->size() - 1;  // `out` grows with sub-programs: index, never refer
    (*out)[local].name = name;
    const int programIndex = baseIndex + static_cast<int>(local);

    std::stack<int> links;  // command indices whose successor is still to be linked
    std::stack<int> slots;  // the successor slot (0, 1 or 2) to link for each
    links.push(0);
    slots.push(0);
    std::vector<OpenBlock> open;

    auto commands = [&]() -> std::vector<Command>& { return (*out)[local].commands; };
    auto popPair = [&](int* index, int* slot) {
        // The loader pushes before it pops; an empty stack means a broken rule above.
        if (links.empty()) throw std::logic_error("link stack empty");
        *index = links.top();
        *slot = slots.top();
        links.pop();
        slots.pop();
    };

    try {
        int elementNo = 0;
        for (tinyxml2::XMLElement* e = root->FirstChildElement(); e != nullptr;
             e = e->NextSiblingElement()) {
            ++elementNo;
            const std::string element = e->Value();
            const int line = e->GetLineNum();

            if (element == "EndLoop") {
                if (open.empty() || !open.back().isLoop) {
                    StructureError("EndLoop without an open Loop", name, elementNo, line,
                                   "IPO.Load: EndLoop without Loop!");
                }
                const int loop = open.back().index;
                int i, s;
                popPair(&i, &s);
                // The body's last command (or, for an empty body, the loop's body
                // slot itself) leads back to the loop.
                commands()[i].successor[s] = loop;
                open.pop_back();
                log->add("          EndLoop");
                continue;
            }
            if (element == "Else") {
                if (open.empty() || open.back().isLoop || open.back().elseSeen) {
                    StructureError("Else without an open If", name, elementNo, line,
                                   "IPO.Load: Else without If!");
                }
                const int cond = open.back().index;
                int i, s;
                popPair(&i, &s);
                commands()[i].successor[s] = cond;  // then-branch returns to the If
                open.back().elseSeen = true;
                log->add("          Else");
                continue;
            }
            if (element == "EndIf") {
                if (open.empty() || open.back().isLoop) {
                    StructureError("EndIf without an open If", name, elementNo, line,
                                   "IPO.Load: EndIf without If!");
                }
                const int cond = open.back().index;
                int i, s;
                popPair(&i, &s);
                commands()[i].successor[s] = cond;  // the branch returns to the If
                if (!open.back().elseSeen) {
                    // No else-branch: a false condition passes straight through the If,
                    // and the If's exit goes on with the command after EndIf.
                    popPair(&i, &s);
                    commands()[cond].successor[2] = cond;
                }
                open.pop_back();
                log->add("          EndIf");
                continue;
            }

            std::unique_ptr<Command> kind = MakeKind(element);
            if (!kind) continue;  // Header and unknown elements

            kind->jointCount = jointCount;
            kind->ReadXML(e, false);
            kind->memory = memory;
            if (element == "Plugin") {
                kind->pluginManager = pluginManager;
                pluginsUsed = true;
            }
            if (element == "Sub") {
                const int subIndex = baseIndex + static_cast<int>(out->size());
                if (LoadFile(kind->subFile, baseIndex, out) != 0) {
                    chain.pop_back();
                    return -3;
                }
                kind->subProgram = subIndex;
            }
            if (!kind->valid) continue;

            if (static_cast<int>(commands().size()) >= maxCommands) {
                Fail("IPO: more than " + std::to_string(maxCommands) + " commands in " + name,
                     "Program too long: " + name, "IPO.Load: program too long!");
            }
            const bool isLoop = element == "Loop";
            const bool isIf = element == "If";
            if ((isLoop || isIf) && static_cast<int>(open.size()) >= maxNesting) {
                StructureError("Loop/If nested deeper than " + std::to_string(maxNesting) +
                                   " levels",
                               name, elementNo, line, "IPO.Load: structures nested too deep!");
            }

            commands().push_back(*kind);
            const int n = static_cast<int>(commands().size()) - 1;
            if (isLoop || isIf) {
                if (n > 0) {
                    int i, s;
                    popPair(&i, &s);
                    commands()[i].successor[s] = n;
                    commands()[n].predecessor = i;
                }
                links.push(n);
                slots.push(0);
                if (isIf) {
                    links.push(n);
                    slots.push(2);
                }
                links.push(n);
                slots.push(1);
                open.push_back(OpenBlock{isLoop, n, false, elementNo, line});
            } else {
                int i, s;
                popPair(&i, &s);
                if (s != 0 || n > 0) commands()[i].successor[s] = n;
                commands()[n].predecessor = i;
                links.push(n);
                slots.push(0);
            }
        }
        if (!open.empty()) {
            StructureError(std::string(open.back().isLoop ? "Loop" : "If") + " not closed",
                           name, open.back().element, open.back().line,
                           "IPO.Load: Loop or If not closed!");
        }
    } catch (const std::exception& ex) {
        log->add("Could not parse " + name + ": " + ex.what());
        log->DisplaySetMessage("Error in Loading");
        chain.pop_back();
        return -3;
    } catch (int) {
        std::cerr << "defective xml file" << std::endl;
        chain.pop_back();
        return -3;
    }
    chain.pop_back();

    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "IPO: Program: %s (%d of %d) with %d points", name.c_str(),
                  programIndex, baseIndex + static_cast<int>(out->size()),
                  static_cast<int>(commands().size()));
    log->add(buffer);
    log->add(" ");
    std::snprintf(buffer, sizeof buffer, "Program loaded: %s", name.c_str());
    log->DisplaySetMessage(buffer);
    return 0;
}

void ProgramLoader::PrintStacks(const std::string& label, std::stack<int> links,
                                std::stack<int> slots) {
    std::cout << label << " links:";
    while (!links.empty()) {
        std::cout << ' ' << links.top();
        links.pop();
    }
    std::cout << "  slots:";
    while (!slots.empty()) {
        std::cout << ' ' << slots.top();
        slots.pop();
    }
    std::cout << std::endl;
}
