#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "PkgBooleanLogic/BooleanLogicParserFrontend.h"
#include "support/ProgramVariables.h"

namespace {

using BooleanLogicParser::Parser;
using BooleanLogicParser::Token;
using BooleanLogicParser::TokenTypes;

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memory.push_back(NumberVariable("counter", 7.0f));
        MemoryPosition pos = PositionVariable("pos", 10.0f, 20.0f, 30.0f);
        pos.state.jointSetPoint[0] = 45.0f;
        memory.push_back(pos);
        state.posCartRobot.SetTranslation(-5.0f, 0.0f, 0.0f);
    }

    bool Eval(const std::string& text, bool* gsig = nullptr)
    {
        BooleanLogicParserFrontend frontend;
        frontend.SetExpression(text);
        return frontend.GetCurrentResult(&memory, state.digitalIn, gsig, &state);
    }

    std::string Error(const std::string& text)
    {
        try {
            Eval(text);
        } catch (const char* message) {
            return message;
        }
        return "no error";
    }

    std::vector<MemoryPosition> memory;
    DataTypes::RobotState state;
};

TEST_F(ParserTest, ConstantsCaseAndLeftToRightRules)
{
    const std::pair<const char*, bool> cases[] = {
        {"TRUE", true},
        {"false", false},
        {"true or false and false", false},
        {"false and false or true", true},
        {"!false and false", false},
        {"false and !false or true", false},
        {"true and !false or true", true},
        {"!(false and true)", true},
        {"(true)", true},
        {"true)", true},  // the closing parenthesis is left unread
        {"!!true", true},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(Eval(text), value) << text;
}

TEST_F(ParserTest, DigitalInputs)
{
    state.digitalIn[0] = true;
    state.digitalIn[1] = true;
    EXPECT_TRUE(Eval("din1"));
    EXPECT_FALSE(Eval("din1 and !din2"));
    EXPECT_FALSE(Eval("din3"));
    state.digitalIn[63] = true;
    EXPECT_TRUE(Eval("din64"));
    EXPECT_EQ("BooleanParser: digital input out of range 1..64!", Error("din0"));
    EXPECT_EQ("BooleanParser: digital input out of range 1..64!", Error("din65"));
    EXPECT_EQ("BooleanParser: digital input out of range 1..64!", Error("dinner"));
    EXPECT_EQ("BooleanParser: no global signals available!", Error("gsig1"));
    bool gsig[64] = {};
    gsig[4] = true;
    EXPECT_TRUE(Eval("gsig5", gsig));
    EXPECT_FALSE(Eval("gsig4", gsig));
}

TEST_F(ParserTest, ComparisonsAndVariables)
{
    const std::pair<const char*, bool> cases[] = {
        {"5 > 3", true},
        {"3 >= 3", true},
        {"2 = 2.0", true},
        {"3 < 3", false},
        {"3 <= 3", true},
        {".5 > 0", true},
        {"-1 < 0", true},
        {"counter > 5", true},
        {"counter > 7", false},
        {"pos.z < 100", true},
        {"pos.A1 = 45", true},
        {"#position.x < 0", true},
        {"din1 or counter = 7 and pos.y >= 20", true},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(Eval(text), value) << text;
    EXPECT_EQ("Command: could not find variable", Error("nothing > 1"));
    EXPECT_EQ("GetFromMemory: wrong var type", Error("pos > 1"));
    EXPECT_EQ("GetFromMemory: wrong element access", Error("pos.w > 1"));
}

TEST_F(ParserTest, ErrorTexts)
{
    EXPECT_EQ("BooleanLogicParser: empty expression!", Error(""));
    EXPECT_EQ("BooleanLogicParser: empty expression!", Error("   "));
    EXPECT_EQ("BooleanParser: Missing expression after operand!", Error("true and"));
    EXPECT_EQ("BooleanParser: Expecting closing parenthesis!", Error("(true"));
    EXPECT_EQ("BooleanParser: Unexpected closing parenthesis!", Error(")"));
    // A trailing negation leaves an empty expression behind it.
    EXPECT_EQ("BooleanLogicParser: empty expression!", Error("!"));
    EXPECT_EQ("BooleanLogicParser: empty expression!", Error("true and !"));
    EXPECT_EQ("BooleanLogicParser: empty expression!", Error("true or (!"));
    // Operands where none can stand: these used to recurse without consuming anything.
    EXPECT_EQ("BooleanParser: Unexpected token!", Error("5 and true"));
    EXPECT_EQ("BooleanParser: Unexpected token!", Error("true and 5"));
    EXPECT_EQ("BooleanParser: Unexpected token!", Error("din1 > 5"));
    EXPECT_EQ("BooleanParser: Unexpected token!", Error("5 > din1"));
    EXPECT_EQ("BooleanParser: Unexpected token!", Error("2 == 2"));
    EXPECT_EQ("BooleanParser: Unexpected token!", Error("and"));
    EXPECT_EQ("BooleanParser: Unexpected token!", Error("true false"));
    EXPECT_EQ("BooleanParser: Expression nested too deeply!",
              Error(std::string(300, '(') + "true" + std::string(300, ')')));
    EXPECT_EQ("BooleanParser: Expression nested too deeply!", Error(std::string(500, '!') + "true"));
}

TEST(ParserTokenTest, TokenizerAndTexts)
{
    Parser parser;
    parser.SetExpression("(Din1 >= .5)and!x.Y<=-2 # ? == ");
    std::vector<TokenTypes> types;
    for (const Token& t : parser.tokens)
        types.push_back(t.type);
    using namespace BooleanLogicParser;
    std::vector<TokenTypes> expected = {OPEN_PARENTHESIS, VARIABLE, BIGGER_EQUAL, NUMBER,
                                        CLOSED_PARENTHESIS, AND, NEGATION, VARIABLE,
                                        SMALLER_EQUAL, NUMBER, NUMBER, EQUAL, EQUAL};
    EXPECT_EQ(expected, types);
    EXPECT_EQ("din1", parser.tokens[1].name);
    EXPECT_FLOAT_EQ(5.0f, parser.tokens[3].value);  // the leading "." is skipped
    EXPECT_EQ("x.y", parser.tokens[7].name);
    EXPECT_FLOAT_EQ(-2.0f, parser.tokens[9].value);
    EXPECT_FLOAT_EQ(0.0f, parser.tokens[10].value);  // "#" reads as 0

    EXPECT_EQ("Token NUMBER   Value: 5.0", parser.tokens[3].toString());
    EXPECT_EQ("Token VARIABLE   Name: din1", parser.tokens[1].toString());
    EXPECT_EQ("Token AND   ", parser.tokens[5].toString());
    EXPECT_EQ("Token UNDEFINED   ", Token().toString());
    EXPECT_EQ("na", Token().name);
}

// ---- Randomized comparison against a reference evaluation ----
//
// Expressions are generated as trees whose meaning follows the language rules, rendered as
// text, and evaluated by the tree directly: a sequence folds left to right; a negation at
// the start of a sequence applies to its first operand; a negation after an operator opens
// a nested sequence that runs to the end of the enclosing one.
struct Node {
    enum Kind { Literal, Comparison, Input, Paren, Sequence } kind = Literal;
    bool value = false;           // Literal
    std::string text;             // Literal, Comparison, Input
    bool negated = false;         // Sequence: first operand negated
    std::vector<std::unique_ptr<Node>> items;  // Paren: one Sequence; Sequence: operands
    std::vector<bool> isAnd;      // Sequence: operators between the items
    std::unique_ptr<Node> tail;   // Sequence: nested negated sequence after the last operator
    bool tailIsAnd = false;
};

class ExpressionGenerator {
public:
    ExpressionGenerator(unsigned seed, const bool* inputs) : rng(seed), din(inputs) {}

    std::unique_ptr<Node> MakeSequence(int depth)
    {
        auto seq = std::make_unique<Node>();
        seq->kind = Node::Sequence;
        seq->negated = Chance(0.3);
        int count = 1 + Pick(3);
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                seq->isAnd.push_back(Chance(0.5));
            seq->items.push_back(MakeOperand(depth));
        }
        if (depth < 4 && Chance(0.2)) {
            seq->tailIsAnd = Chance(0.5);
            seq->tail = MakeSequence(depth + 1);
            seq->tail->negated = true;
        }
        return seq;
    }

    static bool Value(const Node& n)
    {
        switch (n.kind) {
        case Node::Literal:
        case Node::Comparison:
        case Node::Input:
            return n.value;
        case Node::Paren:
            return Value(*n.items[0]);
        case Node::Sequence: {
            bool v = Value(*n.items[0]);
            if (n.negated)
                v = !v;
            for (size_t i = 1; i < n.items.size(); ++i) {
                bool r = Value(*n.items[i]);
                v = n.isAnd[i - 1] ? (v && r) : (v || r);
            }
            if (n.tail) {
                bool r = Value(*n.tail);
                v = n.tailIsAnd ? (v && r) : (v || r);
            }
            return v;
        }
        }
        return false;
    }

    static std::string Render(const Node& n)
    {
        switch (n.kind) {
        case Node::Literal:
        case Node::Comparison:
        case Node::Input:
            return n.text;
        case Node::Paren:
            return "(" + Render(*n.items[0]) + ")";
        case Node::Sequence: {
            std::string s = n.negated ? "!" : "";
            s += Render(*n.items[0]);
            for (size_t i = 1; i < n.items.size(); ++i)
                s += (n.isAnd[i - 1] ? " and " : " or ") + Render(*n.items[i]);
            if (n.tail)
                s += (n.tailIsAnd ? " and " : " or ") + Render(*n.tail);
            return s;
        }
        }
        return "";
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng); }

    std::unique_ptr<Node> MakeOperand(int depth)
    {
        auto n = std::make_unique<Node>();
        int choice = depth < 4 ? Pick(4) : Pick(3);
        if (choice == 0) {
            n->kind = Node::Literal;
            n->value = Chance(0.5);
            n->text = n->value ? (Chance(0.5) ? "true" : "TRUE") : "false";
        } else if (choice == 1) {
            n->kind = Node::Comparison;
            // Left operand a number, the counter (7) or an element of pos (x = 10).
            float a = static_cast<float>(Pick(11)) - 2.0f;
            std::string left = std::to_string(static_cast<int>(a));
            int which = Pick(3);
            if (which == 1) {
                a = 7.0f;
                left = "counter";
            } else if (which == 2) {
                a = 10.0f;
                left = "pos.x";
            }
            float c = static_cast<float>(Pick(21)) / 2.0f;
            static const char* const ops[] = {"=", ">", "<", ">=", "<="};
            int op = Pick(5);
            bool results[] = {a == c, a > c, a < c, a >= c, a <= c};
            n->value = results[op];
            char number[32];
            std::snprintf(number, sizeof number, "%.1f", static_cast<double>(c));
            n->text = left + " " + ops[op] + " " + number;
        } else if (choice == 2) {
            n->kind = Node::Input;
            int input = Pick(64);
            n->value = din[input];
            n->text = "din" + std::to_string(input + 1);
        } else {
            n->kind = Node::Paren;
            n->items.push_back(MakeSequence(depth + 1));
        }
        return n;
    }

    std::mt19937 rng;
    const bool* din;
};

TEST_F(ParserTest, RandomExpressionsMatchReferenceEvaluation)
{
    std::mt19937 inputs(12345);
    for (bool& d : state.digitalIn)
        d = (inputs() & 1) != 0;
    ExpressionGenerator generator(2024, state.digitalIn);
    for (int i = 0; i < 3000; ++i) {
        std::unique_ptr<Node> tree = generator.MakeSequence(0);
        std::string text = ExpressionGenerator::Render(*tree);
        bool expected = ExpressionGenerator::Value(*tree);
        bool actual = false;
        ASSERT_NO_THROW(actual = Eval(text)) << text;
        ASSERT_EQ(expected, actual) << text;
    }
}

TEST_F(ParserTest, RandomTokenStringsReturnOrThrowText)
{
    static const char* const vocabulary[] = {
        "true", "false", "and", "or", "!", "(", ")", "=", ">", "<", ">=", "<=", "==", "5",
        "-2.5", ".5", "#", "-", "counter", "pos.x", "pos.q", "din1", "din0", "din99", "gsig2",
        "unknown", "#position.z", "1e99", "x", "?", "&&", "  "};
    const int vocabularySize = sizeof vocabulary / sizeof vocabulary[0];
    std::mt19937 rng(99);
    int returned = 0;
    int thrown = 0;
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < 5000; ++i) {
        int length = std::uniform_int_distribution<int>(0, 14)(rng);
        std::string text;
        for (int k = 0; k < length; ++k) {
            text += vocabulary[std::uniform_int_distribution<int>(0, vocabularySize - 1)(rng)];
            if (rng() % 3)
                text += ' ';
        }
        auto start = std::chrono::steady_clock::now();
        try {
            Eval(text);
            ++returned;
        } catch (const char*) {
            ++thrown;
        } catch (...) {
            FAIL() << "non-text exception for: " << text;
        }
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    }
    EXPECT_EQ(5000, returned + thrown);
    EXPECT_GT(returned, 20);   // the generator reaches valid expressions too
    EXPECT_GT(thrown, 100);
    // Each evaluation consumes a token per step and is depth-bounded; a generous bound
    // only catches a regression into endless recursion or looping.
    EXPECT_LT(slowest, std::chrono::seconds(5));
}

}  // namespace
