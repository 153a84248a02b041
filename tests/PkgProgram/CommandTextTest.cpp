#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cmath>
#include <string>

#include "PkgProgram/CommandText.h"

namespace {

using R = CommandText::NumberResult;

TEST(CommandTextTest, FloatPrefixIsDecimalOnly)
{
    float v = -1.0f;
    EXPECT_EQ(R::Ok, CommandText::ParseFloatPrefix("2abc", &v));
    EXPECT_FLOAT_EQ(2.0f, v);
    EXPECT_EQ(R::Ok, CommandText::ParseFloatPrefix("  +1.5e2x", &v));
    EXPECT_FLOAT_EQ(150.0f, v);
    EXPECT_EQ(R::Ok, CommandText::ParseFloatPrefix("-.25", &v));
    EXPECT_FLOAT_EQ(-0.25f, v);
    EXPECT_EQ(R::Ok, CommandText::ParseFloatPrefix("1e", &v));
    EXPECT_FLOAT_EQ(1.0f, v);
    for (const char* text : {"", "inf", "nan", "info", "-", ".", "+-1", "#5", "x1"})
        EXPECT_EQ(R::NoNumber, CommandText::ParseFloatPrefix(text, &v)) << text;
    EXPECT_EQ(R::Ok, CommandText::ParseFloatPrefix("0x10", &v));  // hex is not read
    EXPECT_FLOAT_EQ(0.0f, v);
    EXPECT_EQ(R::OutOfRange, CommandText::ParseFloatPrefix("1e99", &v));
    EXPECT_TRUE(std::isinf(v) && v > 0.0f);
    EXPECT_EQ(R::OutOfRange, CommandText::ParseFloatPrefix("-1e999", &v));
    EXPECT_TRUE(std::isinf(v) && v < 0.0f);
    EXPECT_EQ(R::OutOfRange, CommandText::ParseFloatPrefix("1e-999", &v));
    EXPECT_EQ(0.0f, v);
}

TEST(CommandTextTest, IntPrefixAndAttributes)
{
    long long n = 0;
    EXPECT_EQ(R::Ok, CommandText::ParseIntPrefix("12abc", &n));
    EXPECT_EQ(12, n);
    EXPECT_EQ(R::Ok, CommandText::ParseIntPrefix(" -3", &n));
    EXPECT_EQ(-3, n);
    EXPECT_EQ(R::NoNumber, CommandText::ParseIntPrefix("x", &n));
    EXPECT_EQ(R::OutOfRange, CommandText::ParseIntPrefix("99999999999999999999", &n));

    tinyxml2::XMLDocument doc;
    ASSERT_EQ(tinyxml2::XML_SUCCESS,
              doc.Parse(R"(<E f="1.5" i="1.5" big="3000000000" bad="z" t="Hello" />)"));
    const tinyxml2::XMLElement* e = doc.FirstChildElement();
    float f = 9.0f;
    int i = 9;
    EXPECT_TRUE(CommandText::QueryFloat(e, "f", &f));
    EXPECT_FLOAT_EQ(1.5f, f);
    EXPECT_TRUE(CommandText::QueryInt(e, "i", &i));
    EXPECT_EQ(1, i);  // the leading integer
    EXPECT_FALSE(CommandText::QueryInt(e, "big", &i));
    EXPECT_FALSE(CommandText::QueryFloat(e, "bad", &f));
    EXPECT_FALSE(CommandText::QueryFloat(e, "missing", &f));
    EXPECT_FLOAT_EQ(1.5f, f);
    EXPECT_EQ("Hello", CommandText::Text(e, "t"));
    EXPECT_EQ("dflt", CommandText::Text(e, "none", "dflt"));
}

}  // namespace
