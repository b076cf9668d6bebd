#include "clock/osc_time_provider.hpp"
#include "net/osc_packet.hpp"
#include "net/udp_socket.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using lumarok::OscTimeProvider;

// "/Time" ",f" and a big-endian float: 16 bytes.
std::array<std::byte, 16> timeDatagram(float seconds) {
    std::array<std::byte, 16> out{};
    std::memcpy(out.data(), "/Time\0\0\0,f\0\0", 12);
    const auto bits = std::bit_cast<std::uint32_t>(seconds);
    for (int i = 0; i < 4; ++i) {
        out[static_cast<std::size_t>(12 + i)] = static_cast<std::byte>(bits >> (24 - 8 * i));
    }
    return out;
}

void getTimeNothingPending(benchmark::State& state) {
    OscTimeProvider provider(0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(provider.getTime());
    }
}
BENCHMARK(getTimeNothingPending);

void getTimeWithPendingDatagrams(benchmark::State& state) {
    const auto pending = static_cast<int>(state.range(0));
    OscTimeProvider provider(0);
    lumarok::UdpSocket sender(0);
    float sent = 0.0F;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < pending; ++i) {
            sent += 1.0F;
            sender.sendTo({lumarok::kLoopbackAddress, provider.port()}, timeDatagram(sent));
        }
        state.ResumeTiming();
        const double time = provider.getTime();
        if (time != static_cast<double>(sent)) {
            state.SkipWithError("not every pending datagram was handled");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * pending);
}
BENCHMARK(getTimeWithPendingDatagrams)->Arg(100);

void parseBundleOfTwoMessages(benchmark::State& state) {
    alignas(4) std::array<std::byte, 56> datagram{};
    std::memcpy(datagram.data(), "#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x10", 20);
    const auto first = timeDatagram(3.0F);
    std::memcpy(datagram.data() + 20, first.data(), first.size());
    std::memcpy(datagram.data() + 36, "\0\0\0\x10", 4);
    const auto second = timeDatagram(4.0F);
    std::memcpy(datagram.data() + 40, second.data(), second.size());
    float lastTime = 0.0F;
    for (auto _ : state) {
        lumarok::handlePacket(lumarok::makePacketView(datagram.data(), datagram.size()), lastTime);
        benchmark::DoNotOptimize(lastTime);
    }
    if (lastTime != 4.0F) {
        state.SkipWithError("bundle not parsed");
    }
}
BENCHMARK(parseBundleOfTwoMessages);

} // namespace
