#include <gtest/gtest.h>

#include "PkgWeb/WebJogGuard.h"

namespace {

float Axis(WebJogGuard& g, int64_t now, int axis) {
    float v[9];
    g.Values(now, v);
    for (int i = 0; i < 9; ++i) {
        if (i != axis - 1) {
            EXPECT_EQ(v[i], 0.0f) << "axis " << i + 1;
        }
    }
    return v[axis - 1];
}

}  // namespace

TEST(WebJogGuard, JogStandsOnlyWhileTheHoldingPageKeepsSending) {
    WebJogGuard g(200);
    int pageA = 0, pageB = 0;
    EXPECT_EQ(Axis(g, 0, 1), 0.0f);
    g.Jog(&pageA, 2, 30.0f, 1000);
    EXPECT_EQ(Axis(g, 1000, 2), 30.0f);
    EXPECT_EQ(Axis(g, 1200, 2), 30.0f);  // exactly the time-out: still held
    g.Jog(&pageA, 2, 30.0f, 1150);       // keep-alive
    EXPECT_EQ(Axis(g, 1350, 2), 30.0f);
    EXPECT_EQ(Axis(g, 1351, 2), 0.0f);   // quiet for longer than the time-out
    // Late keep-alives of a page that hung and resumes do not restart it;
    // a release and a new press do.
    g.Jog(&pageA, 2, 30.0f, 1400);
    EXPECT_EQ(Axis(g, 1400, 2), 0.0f);
    g.Jog(&pageA, 2, 0.0f, 1410);
    g.Jog(&pageA, 2, 30.0f, 1420);
    EXPECT_EQ(Axis(g, 1420, 2), 30.0f);
    g.Jog(&pageA, 2, 0.0f, 1430);  // release
    EXPECT_EQ(Axis(g, 1430, 2), 0.0f);

    // The latest page takes the jog; only the holder's release or drop stops it.
    g.Jog(&pageA, 1, 50.0f, 2000);
    g.Jog(&pageB, 6, -20.0f, 2010);
    EXPECT_EQ(Axis(g, 2020, 6), -20.0f);
    g.Jog(&pageA, 1, 0.0f, 2030);
    g.Drop(&pageA);
    EXPECT_EQ(Axis(g, 2040, 6), -20.0f);
    g.Drop(&pageB);
    EXPECT_EQ(Axis(g, 2040, 6), 0.0f);

    g.Jog(&pageA, 10, 50.0f, 3000);  // no such axis
    EXPECT_EQ(Axis(g, 3000, 1), 0.0f);
}
