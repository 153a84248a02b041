#include "PkgBooleanLogic/Parser.h"

#include <cctype>
#include <sstream>

#include "PkgProgram/CommandText.h"

namespace BooleanLogicParser {

namespace {

bool IsLetter(char c) { return c >= 'a' && c <= 'z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordStart(char c) { return IsLetter(c) || IsDigit(c) || c == '-' || c == '#'; }
bool IsWordChar(char c) { return IsWordStart(c) || c == '.'; }

}  // namespace

void Parser::SetExpression(std::string text)
{
    tokens.clear();
    resolved.clear();
    work.clear();
    workHead = 0;
    expression = ToLowerCase(text);
    Tokenize();
}

void Parser::Tokenize()
{
    std::istringstream stream(expression);
    int next;
    while ((next = stream.peek()) != std::char_traits<char>::eof()) {
        char c = static_cast<char>(next);
        switch (c) {
        case '!':
            stream.get();
            tokens.emplace_back(NEGATION);
            break;
        case '(':
            stream.get();
            tokens.emplace_back(OPEN_PARENTHESIS);
            break;
        case ')':
            stream.get();
            tokens.emplace_back(CLOSED_PARENTHESIS);
            break;
        case '=':
            stream.get();
            tokens.emplace_back(EQUAL);
            break;
        case '>':
        case '<': {
            stream.get();
            bool orEqual = stream.peek() == '=';
            if (orEqual)
                stream.get();
            if (c == '>')
                tokens.emplace_back(orEqual ? BIGGER_EQUAL : BIGGER);
            else
                tokens.emplace_back(orEqual ? SMALLER_EQUAL : SMALLER);
            break;
        }
        default:
            if (IsWordStart(c))
                tokens.push_back(ParseKeyword(stream));
            else
                stream.get();  // blanks and anything unknown
            break;
        }
    }
}

Token Parser::ParseKeyword(std::istream& stream)
{
    std::string word;
    int next;
    while ((next = stream.peek()) != std::char_traits<char>::eof() &&
           IsWordChar(static_cast<char>(next)))
        word.push_back(static_cast<char>(stream.get()));

    if (word == "true")
        return Token(TRUE_TOKEN);
    if (word == "false")
        return Token(FALSE_TOKEN);
    if (word == "and")
        return Token(AND);
    if (word == "or")
        return Token(OR);

    bool hasLetter = false;
    for (char c : word)
        hasLetter = hasLetter || IsLetter(c);
    if (!hasLetter) {
        // The longest valid number prefix; "#5" or "-" read as 0.
        Token number(NUMBER);
        float value = 0.0f;
        if (CommandText::ParseFloatPrefix(word, &value) != CommandText::NumberResult::NoNumber)
            number.value = value;
        return number;
    }
    Token variable(VARIABLE);
    variable.name = word;
    return variable;
}

bool Parser::Evaluate(std::vector<MemoryPosition>* memoryList, bool* din, bool* gsig,
                      DataTypes::RobotState* state)
{
    EvaluateVariables(memoryList, din, gsig, state);
    EvaluateComparisons();
    depth = 0;
    return Parse();
}

Token Parser::ResolveSignal(const std::string& name, size_t prefixLength, bool* signals,
                            const char* missingText)
{
    if (!signals)
        throw missingText;
    long long n = 0;
    if (CommandText::ParseIntPrefix(name.substr(prefixLength), &n) !=
            CommandText::NumberResult::Ok ||
        n < 1 || n > SignalCount)
        throw prefixLength == 3 ? "BooleanParser: digital input out of range 1..64!"
                                : "BooleanParser: global signal out of range 1..64!";
    return Token(signals[n - 1] ? TRUE_TOKEN : FALSE_TOKEN);
}

void Parser::EvaluateVariables(std::vector<MemoryPosition>* memoryList, bool* din, bool* gsig,
                               DataTypes::RobotState* state)
{
    memory = memoryList;
    resolved.clear();
    for (const Token& token : tokens) {
        if (token.type != VARIABLE) {
            resolved.push_back(token);
            continue;
        }
        const std::string& name = token.name;
        if (name.size() >= 4 && name.compare(0, 3, "din") == 0) {
            resolved.push_back(
                ResolveSignal(name, 3, din, "BooleanParser: no digital inputs available!"));
            continue;
        }
        if (name.size() >= 5 && name.compare(0, 4, "gsig") == 0) {
            resolved.push_back(
                ResolveSignal(name, 4, gsig, "BooleanParser: no global signals available!"));
            continue;
        }
        Token number(NUMBER);
        size_t dot = name.find('.');
        if (dot == std::string::npos)
            number.value = GetVariableNumberValue(name, state);
        else
            number.value =
                GetVariablePositionElement(name.substr(0, dot), name.substr(dot + 1), state);
        resolved.push_back(number);
    }
}

namespace {

bool Compare(TokenTypes op, float a, float c)
{
    switch (op) {
    case EQUAL: return a == c;
    case BIGGER: return a > c;
    case SMALLER: return a < c;
    case BIGGER_EQUAL: return a >= c;
    case SMALLER_EQUAL: return a <= c;
    default: return false;
    }
}

}  // namespace

void Parser::EvaluateComparisons()
{
    // A window of three tokens slides over `resolved`; number-comparison-number folds into
    // one truth value. A folded result never takes part in a further comparison.
    // Reads `resolved` in place (no copy of its own: this runs every cycle of a
    // conditional wait or loop).
    work.clear();
    workHead = 0;
    size_t next = 0;
    auto left = [&]() { return resolved.size() - next; };
    auto take = [&]() { return resolved[next++]; };
    auto moveRest = [&]() {
        while (left() > 0)
            work.push_back(take());
    };
    if (left() < 3) {
        moveRest();
        return;
    }
    Token a = take();
    Token b = take();
    while (true) {
        Token c = take();
        if (a.type == NUMBER && c.type == NUMBER && IsComparison(b.type)) {
            work.emplace_back(Compare(b.type, a.value, c.value) ? TRUE_TOKEN : FALSE_TOKEN);
            if (left() >= 3) {
                a = take();
                b = take();
                continue;
            }
            moveRest();
            return;
        }
        work.push_back(a);
        a = b;
        b = c;
        if (left() == 0) {
            work.push_back(a);
            work.push_back(b);
            return;
        }
    }
}

bool Parser::Parse()
{
    if (++depth > MaxDepth)
        throw "BooleanParser: Expression nested too deeply!";
    if (WorkEmpty())
        throw "BooleanLogicParser: empty expression!";

    bool value;
    if (work[workHead].type == NEGATION) {
        ++workHead;
        value = !ParseBoolean();
    } else {
        value = ParseBoolean();
    }
    while (!WorkEmpty() && (work[workHead].type == AND || work[workHead].type == OR)) {
        TokenTypes op = work[workHead].type;
        ++workHead;
        if (WorkEmpty())
            throw "BooleanParser: Missing expression after operand!";
        bool right = ParseBoolean();  // both sides always evaluated
        value = op == AND ? (value && right) : (value || right);
    }
    // After an operand only an operator or the end of a parenthesis may follow; anything
    // else (a number or comparison left unfolded, a second operand) would be dropped.
    if (!WorkEmpty() && work[workHead].type != CLOSED_PARENTHESIS)
        throw "BooleanParser: Unexpected token!";
    --depth;
    return value;
}

bool Parser::ParseBoolean()
{
    // Only a negation at the end leaves nothing here: what follows it is an empty expression.
    if (WorkEmpty())
        throw "BooleanLogicParser: empty expression!";
    switch (work[workHead].type) {
    case TRUE_TOKEN:
    case FALSE_TOKEN: {
        bool value = work[workHead].type == TRUE_TOKEN;
        ++workHead;
        return value;
    }
    case OPEN_PARENTHESIS: {
        ++workHead;
        bool value = Parse();
        if (WorkEmpty() || work[workHead].type != CLOSED_PARENTHESIS)
            throw "BooleanParser: Expecting closing parenthesis!";
        ++workHead;
        return value;
    }
    case CLOSED_PARENTHESIS:
        throw "BooleanParser: Unexpected closing parenthesis!";
    case NEGATION:
        return Parse();
    default:
        // Parsing this token would recurse without consuming anything.
        throw "BooleanParser: Unexpected token!";
    }
}

}  // namespace BooleanLogicParser
