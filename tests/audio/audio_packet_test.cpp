#include "audio/audio_packet.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace lumarok {
namespace {

TEST(DecodeStereoPacket, SplitsInterleavedFloatsIntoFirstAndSecondChannel) {
    const float interleaved[] = {0.25f, -0.5f, 1.0f, 0.0f, -1.0f, 0.75f};
    std::vector<glm::vec2> frames;
    decodeStereoPacket(interleaved, sizeof interleaved, frames);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], glm::vec2(0.25f, -0.5f));
    EXPECT_EQ(frames[1], glm::vec2(1.0f, 0.0f));
    EXPECT_EQ(frames[2], glm::vec2(-1.0f, 0.75f));
}

TEST(DecodeStereoPacket, HoleBecomesSilenceOfThePacketLength) {
    std::vector<glm::vec2> frames(7, glm::vec2(0.9f, 0.9f));
    decodeStereoPacket(nullptr, 5 * kStereoFrameBytes, frames);
    ASSERT_EQ(frames.size(), 5u);
    for (const auto& frame : frames) {
        EXPECT_EQ(frame, glm::vec2(0.0f, 0.0f));
    }
}

TEST(DecodeStereoPacket, EachPacketReplacesTheWholeListWithItsOwnLength) {
    std::vector<glm::vec2> frames;
    const float longer[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    decodeStereoPacket(longer, sizeof longer, frames);
    const float shorter[2] = {0.5f, -0.5f};
    decodeStereoPacket(shorter, sizeof shorter, frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], glm::vec2(0.5f, -0.5f));
}

TEST(DecodeStereoPacket, NeverReadsAPartialTrailingFrame) {
    // Exactly one and a half frames in an exactly sized buffer: ASan catches an over-read.
    auto buffer = std::make_unique<unsigned char[]>(kStereoFrameBytes + 4);
    const float values[3] = {0.1f, 0.2f, 0.3f};
    std::memcpy(buffer.get(), values, sizeof values);
    std::vector<glm::vec2> frames;
    decodeStereoPacket(buffer.get(), kStereoFrameBytes + 4, frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], glm::vec2(0.1f, 0.2f));
}

TEST(DecodeStereoPacket, ReadsFramesAtAnyByteAlignment) {
    unsigned char buffer[1 + 2 * kStereoFrameBytes] = {};
    const float values[4] = {1.5f, -2.5f, 3.5f, -4.5f};
    std::memcpy(buffer + 1, values, sizeof values);
    std::vector<glm::vec2> frames;
    decodeStereoPacket(buffer + 1, sizeof values, frames);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], glm::vec2(3.5f, -4.5f));
}

} // namespace
} // namespace lumarok

namespace lumarok {
namespace {

std::vector<float> ramp(std::size_t frames, float start) {
    std::vector<float> values;
    for (std::size_t i = 0; i < frames; ++i) {
        values.push_back(start + float(i));
        values.push_back(-(start + float(i)));
    }
    return values;
}

TEST(PacketAssembler, GathersSmallPiecesIntoOnePacket) {
    PacketAssembler assembler(4);
    const auto values = ramp(4, 1.0f);
    assembler.append(values.data(), 3 * kStereoFrameBytes);
    EXPECT_FALSE(assembler.hasPacket());
    assembler.append(values.data() + 6, kStereoFrameBytes);
    ASSERT_TRUE(assembler.hasPacket());
    std::vector<glm::vec2> frames;
    assembler.takeNewest(frames);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], glm::vec2(1.0f, -1.0f));
    EXPECT_EQ(frames[3], glm::vec2(4.0f, -4.0f));
    EXPECT_FALSE(assembler.hasPacket());
}

TEST(PacketAssembler, JoinsAFrameSplitAcrossPieces) {
    PacketAssembler assembler(2);
    const auto values = ramp(2, 5.0f);
    const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
    assembler.append(bytes, 11); // one frame and three bytes of the next
    assembler.append(bytes + 11, 2 * kStereoFrameBytes - 11);
    std::vector<glm::vec2> frames;
    assembler.takeNewest(frames);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], glm::vec2(6.0f, -6.0f));
}

TEST(PacketAssembler, BurstKeepsNewestPacketAndCarriesTheRemainder) {
    PacketAssembler assembler(2);
    const auto values = ramp(7, 0.0f); // three whole packets and one frame
    assembler.append(values.data(), values.size() * sizeof(float));
    std::vector<glm::vec2> frames;
    assembler.takeNewest(frames);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], glm::vec2(4.0f, -4.0f));
    EXPECT_EQ(frames[1], glm::vec2(5.0f, -5.0f));
    // The leftover frame 6 opens the next packet.
    const auto more = ramp(1, 7.0f);
    assembler.append(more.data(), kStereoFrameBytes);
    assembler.takeNewest(frames);
    EXPECT_EQ(frames[0], glm::vec2(6.0f, -6.0f));
    EXPECT_EQ(frames[1], glm::vec2(7.0f, -7.0f));
}

TEST(PacketAssembler, HolesAreSilentFrames) {
    PacketAssembler assembler(3);
    const auto values = ramp(1, 2.0f);
    assembler.append(values.data(), kStereoFrameBytes);
    assembler.append(nullptr, 2 * kStereoFrameBytes);
    std::vector<glm::vec2> frames;
    assembler.takeNewest(frames);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], glm::vec2(2.0f, -2.0f));
    EXPECT_EQ(frames[1], glm::vec2(0.0f, 0.0f));
    EXPECT_EQ(frames[2], glm::vec2(0.0f, 0.0f));
}

} // namespace
} // namespace lumarok
