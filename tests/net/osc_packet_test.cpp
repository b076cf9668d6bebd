#include "net/osc_packet.hpp"

#include "clock/osc_bytes.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

namespace lumarok {
namespace {

using namespace lumarok::test;

constexpr float kUntouched = -1.0F;

// What one datagram did: the resulting time and the error it raised, as "kind: text".
struct Outcome {
    float time = kUntouched;
    std::string error;
};

Outcome parse(const Bytes& datagram) {
    // An exact-size heap block (aligned by operator new) lets ASan see any read past the end.
    const auto copy = std::make_unique<std::byte[]>(datagram.size());
    if (!datagram.empty()) {
        std::memcpy(copy.get(), datagram.data(), datagram.size());
    }
    Outcome outcome;
    try {
        handlePacket(makePacketView(copy.get(), datagram.size()), outcome.time);
    } catch (const OSCPP::UnderrunError& e) {
        outcome.error = std::string("underrun: ") + e.what();
    } catch (const OSCPP::ParseError& e) {
        outcome.error = std::string("parse: ") + e.what();
    } catch (const std::runtime_error& e) {
        outcome.error = std::string("runtime: ") + e.what();
    }
    return outcome;
}

const std::string kUnderrun = "underrun: Buffer underrun";
const std::string kUnaligned = "runtime: Unaligned pointer";

TEST(OscMessage, TimeTakesAFloatOrAnIntegerFirstArgument) {
    EXPECT_EQ(parse(timeMessage(12.5F)).time, 12.5F);
    EXPECT_EQ(parse(message("/Time", ",i", intArgument(7))).time, 7.0F);
    EXPECT_EQ(parse(message("/Time", ",i", intArgument(-3))).time, -3.0F);
    // Only the first argument counts.
    EXPECT_EQ(parse(message("/Time", ",fs", concat({floatArgument(2.0F), oscString("x")}))).time,
              2.0F);
    // Trailing bytes after the first argument are not read.
    EXPECT_EQ(parse(concat({timeMessage(1.5F), text("junk")})).time, 1.5F);
}

Bytes argument64(std::uint64_t bits) {
    Bytes out;
    appendBigEndian(out, static_cast<std::uint32_t>(bits >> 32));
    appendBigEndian(out, static_cast<std::uint32_t>(bits));
    return out;
}

TEST(OscMessage, TimeTakesADoubleOrAnInt64AndRefusesWhatFloatCannotHold) {
    const auto doubleTime = [](double seconds) {
        return parse(message("/Time", ",d", argument64(std::bit_cast<std::uint64_t>(seconds))));
    };
    EXPECT_EQ(doubleTime(19.625).time, 19.625F);
    EXPECT_EQ(doubleTime(-2.5).time, -2.5F);
    EXPECT_EQ(parse(message("/Time", ",h", argument64(42))).time, 42.0F);
    EXPECT_EQ(parse(message("/Time", ",h", argument64(static_cast<std::uint64_t>(-7)))).time,
              -7.0F);
    for (const double bad : {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), 1e300}) {
        const Outcome o = doubleTime(bad);
        EXPECT_EQ(o.error, "parse: Time is not a finite number") << bad;
        EXPECT_EQ(o.time, kUntouched);
    }
    // Eight bytes promised, four there.
    EXPECT_EQ(parse(message("/Time", ",d", intArgument(1))).error, kUnderrun);
    EXPECT_EQ(parse(message("/Time", ",h", {})).error, kUnderrun);
}

TEST(OscMessage, TimeWithAnUnusableArgumentFailsAndLeavesTheTime) {
    Outcome o = parse(message("/Time", ",s", oscString("12.5")));
    EXPECT_EQ(o.error, "parse: Cannot convert argument to float");
    EXPECT_EQ(o.time, kUntouched);

    o = parse(message("/Time", ",", {}));
    EXPECT_EQ(o.error, kUnderrun);
    EXPECT_EQ(o.time, kUntouched);

    // Tag promises a float the datagram does not hold (two of its four bytes).
    o = parse(concat({message("/Time", ",f", {}), text("AB")}));
    EXPECT_EQ(o.error, kUnderrun);
    EXPECT_EQ(o.time, kUntouched);
}

TEST(OscMessage, NonFiniteTimeIsRefused) {
    for (const float bad :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
        const Outcome o = parse(timeMessage(bad));
        EXPECT_EQ(o.error.rfind("parse: ", 0), 0u) << o.error;
        EXPECT_EQ(o.time, kUntouched);
    }
}

TEST(OscMessage, OnlyTheExactTimeAddressIsRead) {
    for (const char* other : {"/time", "/TIME", "/Timer", "/Time/x", "/Tim", "/", "/Ti"}) {
        const Outcome o = parse(message(other, ",f", floatArgument(9.0F)));
        EXPECT_EQ(o.error, "") << other;
        EXPECT_EQ(o.time, kUntouched) << other;
    }
    // Other addresses are not checked further: a bad argument there is no error.
    EXPECT_EQ(parse(message("/Other", ",s", {})).error, "");
}

TEST(OscMessage, TagStringWithoutCommaFailsWhateverTheAddress) {
    for (const char* address : {"/Time", "/Other"}) {
        const Outcome o = parse(message(address, "f", floatArgument(1.0F)));
        EXPECT_EQ(o.error, "parse: Tag string doesn't start with ','") << address;
        EXPECT_EQ(o.time, kUntouched);
    }
}

TEST(OscMessage, UnterminatedOrShortPartsAreUnderruns) {
    EXPECT_EQ(parse({}).error, kUnderrun);
    EXPECT_EQ(parse(text("/Ti")).error, kUnderrun);
    // No zero at the end of any 4-byte group of the address.
    EXPECT_EQ(parse(text("/Time,f")).error, kUnderrun);
    // Address fine, tag string missing or unterminated.
    EXPECT_EQ(parse(oscString("/Time")).error, kUnderrun);
    EXPECT_EQ(parse(concat({oscString("/Time"), text(",fff")})).error, kUnderrun);
}

TEST(OscBundle, ElementsAreHandledInOrderAndNestedBundlesAreWalked) {
    EXPECT_EQ(parse(bundle({element(timeMessage(3.0F)), element(timeMessage(4.0F))})).time, 4.0F);
    const Bytes inner = bundle({element(timeMessage(5.0F))});
    EXPECT_EQ(parse(bundle({element(timeMessage(3.0F)), element(inner)})).time, 5.0F);
    EXPECT_EQ(parse(bundle({element(inner), element(timeMessage(6.0F))})).time, 6.0F);
    // Other messages inside a bundle are skipped.
    const Bytes other = message("/Other", ",f", floatArgument(1.0F));
    EXPECT_EQ(parse(bundle({element(timeMessage(8.0F)), element(other)})).time, 8.0F);
}

TEST(OscBundle, MarkerAndTimeTagAloneChangeNothing) {
    const Bytes empty = bundle({});
    ASSERT_EQ(empty.size(), 16u);
    const Outcome o = parse(empty);
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.time, kUntouched);
}

TEST(OscBundle, FifteenBytesStartingWithTheMarkerAreAMessage) {
    // Read as a message, "#bundle" is its address and "abcd" its tag string.
    const Outcome o = parse(concat({oscString("#bundle"), text(std::string("abc\0xyz", 7))}));
    EXPECT_EQ(o.error, "parse: Tag string doesn't start with ','");
    Bytes fifteen = concat({oscString("#bundle"), oscString(",f"), text("123")});
    ASSERT_EQ(fifteen.size(), 15u);
    EXPECT_EQ(parse(fifteen).error, ""); // a message to "#bundle": ignored
}

TEST(OscBundle, FaultyElementFailsButEarlierElementsStay) {
    // Size field larger than what follows.
    Outcome o = parse(bundle({element(timeMessage(3.0F)), element(timeMessage(4.0F), 64)}));
    EXPECT_EQ(o.error, kUnderrun);
    EXPECT_EQ(o.time, 3.0F);

    // Negative size.
    o = parse(bundle({element(timeMessage(3.0F)), element(timeMessage(4.0F), 0xFFFFFFF0u)}));
    EXPECT_EQ(o.error, kUnderrun);
    EXPECT_EQ(o.time, 3.0F);

    // A size that is not a multiple of four puts the next size field off the boundary.
    const Bytes oddFirst = concat({timeMessage(3.0F), text("x")});
    o = parse(bundle({element(oddFirst), element(timeMessage(4.0F))}));
    EXPECT_EQ(o.error, kUnaligned);
    EXPECT_EQ(o.time, 3.0F);

    // A cut size field.
    o = parse(concat({bundle({element(timeMessage(3.0F))}), text(std::string(2, '\0'))}));
    EXPECT_EQ(o.error, kUnderrun);
    EXPECT_EQ(o.time, 3.0F);

    // An empty element is an empty message.
    EXPECT_EQ(parse(bundle({element({})})).error, kUnderrun);
}

Bytes nested(int bundles, float seconds) {
    Bytes packet = timeMessage(seconds);
    for (int i = 0; i < bundles; ++i) {
        packet = bundle({element(packet)});
    }
    return packet;
}

TEST(OscBundle, NestingDepthIsBounded) {
    EXPECT_EQ(parse(nested(kMaxBundleDepth, 2.0F)).time, 2.0F);
    const Outcome o = parse(nested(kMaxBundleDepth + 1, 2.0F));
    EXPECT_EQ(o.error, "parse: Bundles nested too deeply");
    EXPECT_EQ(o.time, kUntouched);
}

// Every prefix of a valid datagram either parses or raises one of the parser's errors, and
// never reads past its end (ASan watches the exact-size copies).
TEST(OscPacket, EveryTruncationFailsCleanly) {
    const Bytes full = bundle({element(timeMessage(1.0F)),
                               element(bundle({element(message("/Time", ",i", intArgument(2)))})),
                               element(message("/Other", ",s", oscString("abc")))});
    ASSERT_EQ(parse(full).time, 2.0F);
    for (std::size_t size = 0; size < full.size(); ++size) {
        const Outcome o = parse(Bytes(full.begin(), full.begin() + static_cast<long>(size)));
        const bool known = o.error.empty() || o.error == kUnderrun || o.error == kUnaligned ||
                           o.error.rfind("parse: ", 0) == 0;
        EXPECT_TRUE(known) << size << ": " << o.error;
        EXPECT_TRUE(o.time == kUntouched || o.time == 1.0F || o.time == 2.0F) << size;
    }
}

TEST(OscPacket, UnalignedArgumentIsRefused) {
    // A message placed one byte off the boundary: its float argument is unaligned.
    const Bytes valid = timeMessage(1.0F);
    alignas(4) std::byte storage[32] = {};
    std::memcpy(storage + 1, valid.data(), valid.size());
    float time = kUntouched;
    try {
        handlePacket(makePacketView(storage + 1, valid.size()), time);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unaligned pointer");
    }
    EXPECT_EQ(time, kUntouched);
}

TEST(OscErrors, FormAHierarchyWithTheirTexts) {
    const OSCPP::UnderrunError underrun;
    const OSCPP::Error& asBase = underrun;
    EXPECT_STREQ(asBase.what(), "Buffer underrun");
    const OSCPP::ParseError parseError("Cannot convert argument to float");
    const std::exception& asStd = parseError;
    EXPECT_STREQ(asStd.what(), "Cannot convert argument to float");
}

} // namespace
} // namespace lumarok
