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

Bytes argument64(std::uint64_t bits) {
    Bytes out;
    appendBigEndian(out, static_cast<std::uint32_t>(bits >> 32));
    appendBigEndian(out, static_cast<std::uint32_t>(bits));
    return out;
}

Bytes doubleTime(double seconds) {
    return message("/Time", ",d", argument64(std::bit_cast<std::uint64_t>(seconds)));
}

Bytes nested(int bundles, float seconds) {
    Bytes packet = timeMessage(seconds);
    for (int i = 0; i < bundles; ++i) {
        packet = bundle({element(packet)});
    }
    return packet;
}

// What each datagram does to the time, and the error it raises (none: ""). A time only
// changes with a usable first argument of a message to exactly "/Time"; elements of a
// bundle are handled in order, and a faulty one keeps what came before it.
TEST(OscPacket, EachDatagramSetsTheTimeOrFailsLeavingIt) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const std::string notFinite = "parse: Time is not a finite number";
    const std::string noComma = "parse: Tag string doesn't start with ','";
    const Bytes other = message("/Other", ",f", floatArgument(1.0F));
    const Bytes inner = bundle({element(timeMessage(5.0F))});
    const struct {
        const char* what;
        Bytes datagram;
        float time;
        std::string error = "";
    } cases[] = {
        {"float", timeMessage(12.5F), 12.5F},
        {"int", message("/Time", ",i", intArgument(7)), 7.0F},
        {"negative int", message("/Time", ",i", intArgument(-3)), -3.0F},
        {"first argument only",
         message("/Time", ",fs", concat({floatArgument(2.0F), oscString("x")})), 2.0F},
        {"trailing bytes unread", concat({timeMessage(1.5F), text("junk")}), 1.5F},
        {"double", doubleTime(19.625), 19.625F},
        {"negative double", doubleTime(-2.5), -2.5F},
        {"int64", message("/Time", ",h", argument64(42)), 42.0F},
        {"negative int64", message("/Time", ",h", argument64(static_cast<std::uint64_t>(-7))),
         -7.0F},
        {"double NaN", doubleTime(kNaN), kUntouched, notFinite},
        {"double infinity", doubleTime(kInf), kUntouched, notFinite},
        {"double past float", doubleTime(1e300), kUntouched, notFinite},
        {"double cut short", message("/Time", ",d", intArgument(1)), kUntouched, kUnderrun},
        {"int64 missing", message("/Time", ",h", {}), kUntouched, kUnderrun},
        {"string", message("/Time", ",s", oscString("12.5")), kUntouched,
         "parse: Cannot convert argument to float"},
        {"no argument", message("/Time", ",", {}), kUntouched, kUnderrun},
        {"float cut short", concat({message("/Time", ",f", {}), text("AB")}), kUntouched,
         kUnderrun},
        {"float NaN", timeMessage(std::numeric_limits<float>::quiet_NaN()), kUntouched, notFinite},
        {"float infinity", timeMessage(std::numeric_limits<float>::infinity()), kUntouched,
         notFinite},
        {"float -infinity", timeMessage(-std::numeric_limits<float>::infinity()), kUntouched,
         notFinite},
        {"/time", message("/time", ",f", floatArgument(9.0F)), kUntouched},
        {"/TIME", message("/TIME", ",f", floatArgument(9.0F)), kUntouched},
        {"/Timer", message("/Timer", ",f", floatArgument(9.0F)), kUntouched},
        {"/Time/x", message("/Time/x", ",f", floatArgument(9.0F)), kUntouched},
        {"/Tim", message("/Tim", ",f", floatArgument(9.0F)), kUntouched},
        {"/", message("/", ",f", floatArgument(9.0F)), kUntouched},
        {"other address, bad argument unread", message("/Other", ",s", {}), kUntouched},
        {"/Time tag without comma", message("/Time", "f", floatArgument(1.0F)), kUntouched,
         noComma},
        {"/Other tag without comma", message("/Other", "f", floatArgument(1.0F)), kUntouched,
         noComma},
        {"empty", {}, kUntouched, kUnderrun},
        {"short address", text("/Ti"), kUntouched, kUnderrun},
        {"unterminated address", text("/Time,f"), kUntouched, kUnderrun},
        {"no tag string", oscString("/Time"), kUntouched, kUnderrun},
        {"unterminated tag string", concat({oscString("/Time"), text(",fff")}), kUntouched,
         kUnderrun},
        {"bundle in order", bundle({element(timeMessage(3.0F)), element(timeMessage(4.0F))}), 4.0F},
        {"nested last", bundle({element(timeMessage(3.0F)), element(inner)}), 5.0F},
        {"nested first", bundle({element(inner), element(timeMessage(6.0F))}), 6.0F},
        {"other message skipped", bundle({element(timeMessage(8.0F)), element(other)}), 8.0F},
        {"marker and time tag alone", bundle({}), kUntouched},
        {"15 bytes from the marker: a message",
         concat({oscString("#bundle"), text(std::string("abc\0xyz", 7))}), kUntouched, noComma},
        {"a message to #bundle", concat({oscString("#bundle"), oscString(",f"), text("123")}),
         kUntouched},
        {"element longer than the rest",
         bundle({element(timeMessage(3.0F)), element(timeMessage(4.0F), 64)}), 3.0F, kUnderrun},
        {"negative element size",
         bundle({element(timeMessage(3.0F)), element(timeMessage(4.0F), 0xFFFFFFF0u)}), 3.0F,
         kUnderrun},
        {"size off the boundary",
         bundle({element(concat({timeMessage(3.0F), text("x")})), element(timeMessage(4.0F))}),
         3.0F, kUnaligned},
        {"cut size field",
         concat({bundle({element(timeMessage(3.0F))}), text(std::string(2, '\0'))}), 3.0F,
         kUnderrun},
        {"empty element", bundle({element({})}), kUntouched, kUnderrun},
        {"deepest nesting", nested(kMaxBundleDepth, 2.0F), 2.0F},
        {"too deep", nested(kMaxBundleDepth + 1, 2.0F), kUntouched,
         "parse: Bundles nested too deeply"},
    };
    for (const auto& c : cases) {
        const Outcome o = parse(c.datagram);
        EXPECT_EQ(o.time, c.time) << c.what;
        EXPECT_EQ(o.error, c.error) << c.what;
    }
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

} // namespace
} // namespace lumarok
