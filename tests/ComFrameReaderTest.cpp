#include "ComFrameReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
// Feeds a whole stream and collects the messages, resetting after each one.
std::vector<std::string> FeedAll(ComFrameReader& reader, const std::string& stream,
                                 bool* overflow = nullptr) {
    std::vector<std::string> messages;
    for (char c : stream) {
        ComFrameReader::Result r = reader.Feed(c);
        if (r == ComFrameReader::Result::Complete) {
            messages.push_back(reader.Message());
            reader.Reset();
        } else if (r == ComFrameReader::Result::Overflow) {
            if (overflow != nullptr) *overflow = true;
            reader.Reset();
        }
    }
    return messages;
}
}  // namespace

TEST(ComFrameReader, SkipsGarbageAndSplitsBackToBackMessages) {
    ComFrameReader reader;
    auto messages = FeedAll(reader,
                            "xxNEXSTARNEXSTART 1 CMD Reset NEXENDNEXSTART 2 CMD Enable NEXEND\n"
                            "junk NEXEND NEXSTART 3 ALIVEJOG NEXEND");
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "NEXSTART 1 CMD Reset NEXEND");
    EXPECT_EQ(messages[1], "NEXSTART 2 CMD Enable NEXEND");
    EXPECT_EQ(messages[2], "NEXSTART 3 ALIVEJOG NEXEND");
}

TEST(ComFrameReader, ReportsLengthAndKeepsStateBetweenPartialFeeds) {
    ComFrameReader reader;
    EXPECT_TRUE(FeedAll(reader, "NEXST").empty());
    EXPECT_FALSE(reader.InsideMessage());
    EXPECT_TRUE(FeedAll(reader, "ART 7 SYS").empty());
    EXPECT_TRUE(reader.InsideMessage());
    EXPECT_EQ(reader.Message(), "");  // not complete yet
    for (char c : std::string("TEM Shutdown 99 NEXEN")) reader.Feed(c);
    EXPECT_EQ(reader.Feed('D'), ComFrameReader::Result::Complete);
    EXPECT_EQ(reader.Message(), "NEXSTART 7 SYSTEM Shutdown 99 NEXEND");
    EXPECT_EQ(reader.Length(), reader.Message().size());
}

TEST(ComFrameReader, OverflowsAtTheBufferSizeWithoutWritingPastIt) {
    ComFrameReader reader;
    std::string stream = "NEXSTART " + std::string(2000, 'a') + " NEXEND";
    bool overflow = false;
    auto messages = FeedAll(reader, stream, &overflow);
    EXPECT_TRUE(overflow);
    EXPECT_TRUE(messages.empty());

    // Exactly 1024 bytes including both markers still fits.
    ComFrameReader exact;
    std::string fits = "NEXSTART" + std::string(ComFrameReader::bufferSize - 14, 'b') + "NEXEND";
    ASSERT_EQ(fits.size(), ComFrameReader::bufferSize);
    overflow = false;
    messages = FeedAll(exact, fits, &overflow);
    EXPECT_FALSE(overflow);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], fits);
}

TEST(ComFrameReader, RandomNoiseNeverYieldsAnUnframedMessage) {
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<char>((seed >> 16) & 0xff);
    };
    const std::string pieces[] = {"NEXSTART", "NEXEND", " ", "CMD"};
    ComFrameReader reader;
    for (int round = 0; round < 2000; ++round) {
        std::string stream;
        for (int i = 0; i < 40; ++i) {
            char c = next();
            if ((c & 7) == 0) {
                stream += pieces[static_cast<unsigned char>(c) % 4];
            } else {
                stream += c;
            }
        }
        for (const std::string& m : FeedAll(reader, stream)) {
            ASSERT_GE(m.size(), 14u);
            EXPECT_EQ(m.compare(0, 8, "NEXSTART"), 0);
            EXPECT_EQ(m.compare(m.size() - 6, 6, "NEXEND"), 0);
            EXPECT_LE(m.size(), ComFrameReader::bufferSize);
        }
    }
}
