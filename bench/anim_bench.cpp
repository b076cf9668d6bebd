// Loading a data directory, how loading grows with the amount of data, and the
// cost of sampling the animation at its busiest moments.
#include "anim/animation.hpp"
#include "anim/sampler.hpp"
#include "anim/sequence_reader.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using lumarok::Animation;

// A synthetic show shaped like an authored one: scenes of moving outlines
// with tweens that reach back into the previous frame.
constexpr int kScenes = 12;
constexpr int kFramesPerScene = 120;
constexpr int kOutlinesPerFrame = 6;
constexpr int kPointsPerOutline = 30;
constexpr double kShowSeconds = 230.0;

std::string sceneJson(int sceneNumber) {
    std::vector<std::int32_t> data;
    std::vector<std::size_t> indices;
    std::size_t previousOutline = 0;
    const int outlineLength = 2 + 2 * kPointsPerOutline;
    for (int k = 0; k < kFramesPerScene; ++k) {
        const std::size_t list = data.size();
        indices.push_back(list);
        const bool tween = k > 0;
        data.push_back(kOutlinesPerFrame + (tween ? 1 : 0));
        const std::size_t firstOutline = list + 1 + (tween ? 7 : 0);
        if (tween) {
            const auto back = static_cast<std::int32_t>(list + 2 - previousOutline);
            const auto ahead = static_cast<std::int32_t>(firstOutline + outlineLength - (list + 2));
            data.insert(data.end(), {0xE6, back / 256, back % 256, ahead / 256, ahead % 256, 1, 2});
        }
        for (int j = 0; j < kOutlinesPerFrame; ++j) {
            data.push_back(0xD0 + j);
            data.push_back(kPointsPerOutline);
            for (int p = 0; p < kPointsPerOutline; ++p) {
                const double angle = 6.2832 * p / kPointsPerOutline + 0.05 * k;
                const double radius = 15.0 + 3.0 * j + 4.0 * std::sin(0.1 * k + sceneNumber);
                data.push_back(
                    static_cast<std::int32_t>(110 + 20 * j / 3 + radius * std::sin(angle)));
                data.push_back(static_cast<std::int32_t>(127 + radius * std::cos(angle)));
            }
        }
        previousOutline = firstOutline;
    }
    return nlohmann::json{{"indices", indices}, {"data", data}}.dump();
}

void writeFile(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

void generateShow(const fs::path& dir) {
    fs::create_directories(dir);
    nlohmann::json split = nlohmann::json::object();
    for (int s = 0; s < kScenes; ++s) {
        const std::string base = "A" + std::to_string(s);
        split[base] = {kFramesPerScene / 2, kFramesPerScene / 2};
        writeFile(dir / ("script" + base + ".json"), sceneJson(s));
    }
    writeFile(dir / "split_map.json", split.dump());
    std::ostringstream sequence;
    int clip = 0;
    for (double t = 0.0; t < kShowSeconds; t += 1.0, ++clip) {
        if (clip % 7 == 0) {
            sequence << static_cast<int>(t * 1000) << " ('scene_options', ['flip_horizontal'])\n";
        } else if (clip % 7 == 3) {
            sequence << static_cast<int>(t * 1000) << " ('scene', {})\n";
        }
        const int from = (clip * 13) % 10;
        sequence << static_cast<int>(t * 1000) << " ('anim', {'name': 'A" << clip % kScenes << "-"
                 << clip % 2 << "', 'from': " << from << ", 'to': " << from + 49 << "})\n";
    }
    writeFile(dir / "Sequence.txt", sequence.str());
}

// Copies `base` `times` times into `dir`: copy r renames every base name B to
// B + "r" + r (still led by the same hex number) and starts its clips after the
// copies before it, so the show, its scenes and its files all grow `times`-fold.
void repeatShow(const fs::path& base, const fs::path& dir, int times) {
    fs::create_directories(dir);
    std::ifstream splitIn(base / "split_map.json");
    const nlohmann::json split = splitIn ? nlohmann::json::parse(splitIn) : nlohmann::json();
    std::vector<std::string> lines;
    std::ifstream sequenceIn(base / "Sequence.txt");
    double showEnd = 0.0;
    for (std::string line; std::getline(sequenceIn, line);) {
        lines.push_back(line);
        lumarok::FlipFlags flags;
        if (const auto clip = lumarok::readSequenceLine(line, flags)) {
            showEnd = std::max(showEnd, clip->startMs / 1000.0 +
                                            0.04 * (std::abs(clip->to - clip->from) + 1));
        }
    }
    const int shiftMs = static_cast<int>(std::ceil(showEnd + 1.0) * 1000);
    nlohmann::json newSplit = nlohmann::json::object();
    std::ostringstream sequence;
    for (int r = 0; r < times; ++r) {
        const std::string suffix = r == 0 ? "" : "r" + std::to_string(r);
        if (split.is_object()) {
            for (const auto& item : split.items()) {
                newSplit[item.key() + suffix] = item.value();
            }
        }
        for (const std::string& line : lines) {
            lumarok::FlipFlags flags;
            const auto clip = lumarok::readSequenceLine(line, flags);
            if (!clip) {
                sequence << line << "\n";
                continue;
            }
            sequence << clip->startMs + r * shiftMs << " ('anim', {'name': '" << clip->baseName
                     << suffix << "-" << clip->part << "', 'from': " << clip->from
                     << ", 'to': " << clip->to << "})\n";
        }
        for (const auto& entry : fs::directory_iterator(base)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("script", 0) == 0 && entry.path().extension() == ".json") {
                const std::string stem = entry.path().stem().string();
                fs::copy_file(entry.path(), dir / (stem + suffix + ".json"),
                              fs::copy_options::overwrite_existing);
            }
        }
    }
    writeFile(dir / "split_map.json", newSplit.dump());
    writeFile(dir / "Sequence.txt", sequence.str());
    if (fs::exists(base / "remap.txt")) {
        fs::copy_file(base / "remap.txt", dir / "remap.txt", fs::copy_options::overwrite_existing);
    }
}

// The bench's data: the repository's show when it is there, else a generated
// one; and its 1x, 4x and 16x copies, in a temporary directory removed at exit.
class BenchData {
public:
    BenchData() {
        std::string pattern = (fs::temp_directory_path() / "lumarok-anim-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        root_ = pattern;
        fs::path base = fs::path(LUMAROK_SOURCE_DIR) / "data";
        if (!fs::exists(base / "Sequence.txt")) {
            base = root_ / "generated";
            generateShow(base);
        }
        for (const int times : {1, 4, 16}) {
            repeatShow(base, dir(times), times);
        }
        std::fprintf(stderr, "anim_bench: data from %s\n", base.c_str());
    }
    BenchData(const BenchData&) = delete;
    BenchData& operator=(const BenchData&) = delete;
    ~BenchData() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path dir(int times) const { return root_ / ("x" + std::to_string(times)); }

    const Animation& show() {
        if (show_.empty()) {
            show_.emplace_back(dir(1));
        }
        return show_.front();
    }

private:
    fs::path root_;
    std::vector<Animation> show_;
};

BenchData& benchData() {
    static BenchData data;
    return data;
}

std::size_t points(const lumarok::Frame& frame) {
    std::size_t count = 0;
    for (const auto& polyline : frame) {
        count += polyline.size();
    }
    return count;
}

void BM_LoadDataDirectory(benchmark::State& state) {
    const fs::path dir = benchData().dir(static_cast<int>(state.range(0)));
    std::size_t frames = 0;
    for (auto _ : state) {
        const Animation animation(dir);
        frames = 0;
        for (const auto& scene : animation.scenes) {
            frames += scene.frames.size();
        }
        benchmark::DoNotOptimize(frames);
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadDataDirectory)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The moments with the most points on screen, one sample each per iteration.
void BM_SampleBusiestMoments(benchmark::State& state) {
    const Animation& show = benchData().show();
    std::vector<std::pair<std::size_t, double>> load;
    for (double t = 0.0; t < kShowSeconds; t += 0.04) {
        load.emplace_back(points(lumarok::sampleAnimation(show, t)), t);
    }
    std::sort(load.rbegin(), load.rend());
    load.resize(std::min<std::size_t>(load.size(), 8));
    for (auto _ : state) {
        for (const auto& [count, t] : load) {
            const lumarok::Frame frame = lumarok::sampleAnimation(show, t);
            benchmark::DoNotOptimize(frame.data());
        }
    }
    state.counters["points"] = load.empty() ? 0.0 : static_cast<double>(load.front().first);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(load.size()));
}
BENCHMARK(BM_SampleBusiestMoments)->Unit(benchmark::kMicrosecond);

// One output frame's sample at the laser loop's pace, walking through the show.
void BM_SampleAcrossTheShow(benchmark::State& state) {
    const Animation& show = benchData().show();
    double t = 0.0;
    for (auto _ : state) {
        const lumarok::Frame frame = lumarok::sampleAnimation(show, t);
        benchmark::DoNotOptimize(frame.data());
        t = t + 0.0173 < kShowSeconds ? t + 0.0173 : 0.0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SampleAcrossTheShow)->Unit(benchmark::kMicrosecond);

} // namespace
