#pragma once

#include <istream>
#include <string>
#include <vector>

#include "PkgBooleanLogic/Token.h"
#include "PkgProgram/Command.h"

namespace BooleanLogicParser {

// Tokenizer and evaluator of condition expressions such as
//   din3 and (counter > 5 or !din4)
// "and" and "or" bind equally, from left to right. A negation at the start of an
// expression applies to the first operand only; a negation after an operator opens a
// nested expression that runs to the end of the enclosing one.
// Derives from Command for the program memory look-ups. Errors are thrown as const char*.
class Parser : public Command {
public:
    // Nesting beyond this is rejected rather than risking the stack.
    static constexpr int MaxDepth = 100;
    // Digital inputs and global signals addressable as din1..din64 / gsig1..gsig64.
    static constexpr int SignalCount = 64;

    // Empties the token lists, stores the lower-cased text and tokenizes it.
    void SetExpression(std::string text);
    void Tokenize();
    Token ParseKeyword(std::istream& stream);
    // din: 64 digital inputs; gsig: global signals or null (then any gsig reference throws).
    bool Evaluate(std::vector<MemoryPosition>* memoryList, bool* din, bool* gsig,
                  DataTypes::RobotState* state);
    void EvaluateVariables(std::vector<MemoryPosition>* memoryList, bool* din, bool* gsig,
                           DataTypes::RobotState* state);
    void EvaluateComparisons();
    bool Parse();
    bool ParseBoolean();

    int depth = 0;
    std::string expression;
    std::vector<Token> tokens;
    std::vector<Token> resolved;
    // Tokens still to parse: work[workHead] onwards. A vector read by index
    // keeps its storage from one evaluation to the next.
    std::vector<Token> work;
    size_t workHead = 0;
    bool WorkEmpty() const { return workHead >= work.size(); }

private:
    Token ResolveSignal(const std::string& name, size_t prefixLength, bool* signals,
                        const char* missingText);
};

}  // namespace BooleanLogicParser
