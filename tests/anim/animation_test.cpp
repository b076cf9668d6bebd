#include "anim/animation.hpp"
#include "core/data_error.hpp"

#include "anim/temp_data_dir.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

namespace lumarok {
namespace {

using test::TempDataDir;

std::filesystem::path basicDir() {
    return test::sourceDir() + "/tests/data/anim/basic";
}

// Builds an Animation from Sequence.txt text, counting how often each scene is read.
struct InMemoryShow {
    std::map<std::string, int> reads;
    nlohmann::json splitMap;

    Animation load(const std::string& sequenceText) {
        std::istringstream text(sequenceText);
        return Animation(AnimationSource{text, "Sequence.txt", splitMap, "split_map.json",
                                         [this](const std::string& baseName) {
                                             ++reads[baseName];
                                             return Scene{};
                                         }});
    }
};

// The message of the DataError that loading raises, and the type of the
// exception it wraps.
template <typename Load> std::pair<std::string, std::string> loadError(Load&& load) {
    try {
        load();
    } catch (const DataError& e) {
        try {
            std::rethrow_if_nested(e);
        } catch (const std::invalid_argument&) {
            return {e.what(), "invalid_argument"};
        } catch (const std::out_of_range&) {
            return {e.what(), "out_of_range"};
        } catch (const nlohmann::json::type_error&) {
            return {e.what(), "type_error"};
        } catch (const nlohmann::json::parse_error&) {
            return {e.what(), "parse_error"};
        } catch (...) {
            return {e.what(), "other"};
        }
        return {e.what(), "not nested"};
    }
    return {"no error", ""};
}

TEST(Animation, LoadsADataDirectory) {
    testing::internal::CaptureStdout();
    const Animation animation(basicDir());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    ASSERT_EQ(animation.sequence.size(), 4u);
    ASSERT_EQ(animation.scenes.size(), 2u) << "1F and 1f are different scenes";
    const SequenceEntry& part2 = animation.sequence[0];
    EXPECT_DOUBLE_EQ(part2.startSeconds, 2.04);
    EXPECT_EQ(part2.sceneIndex, 0);
    EXPECT_EQ(part2.firstFrame, 70);
    EXPECT_EQ(part2.lastFrame, 79);
    EXPECT_FALSE(part2.flipVertical || part2.flipHorizontal);

    const SequenceEntry& backwards = animation.sequence[1];
    EXPECT_EQ(backwards.sceneIndex, 0);
    EXPECT_EQ(backwards.firstFrame, 3);
    EXPECT_EQ(backwards.lastFrame, 1);
    EXPECT_TRUE(backwards.flipVertical && backwards.flipHorizontal);

    const SequenceEntry& lowerCase = animation.sequence[2];
    EXPECT_EQ(lowerCase.sceneIndex, 1);
    EXPECT_FALSE(lowerCase.flipVertical);
    EXPECT_TRUE(lowerCase.flipHorizontal);

    const SequenceEntry& negative = animation.sequence[3];
    EXPECT_DOUBLE_EQ(negative.startSeconds, -0.5);
    EXPECT_EQ(negative.firstFrame, 32);
    EXPECT_EQ(negative.lastFrame, 32);
    EXPECT_FALSE(negative.flipVertical || negative.flipHorizontal) << "cleared by a scene line";

    const Scene& scene = animation.scenes[0];
    ASSERT_EQ(scene.frames.size(), 3u);
    EXPECT_EQ(scene.frames[0], scene.frames[1]);
    ASSERT_EQ(scene.frames[2].size(), 1u);
    EXPECT_EQ(scene.frames[2][0].size(), 3u);
    ASSERT_EQ(animation.scenes[1].frames.size(), 1u);
}

TEST(Animation, DefaultConstructionReadsTheWorkingDirectorysData) {
    TempDataDir work;
    std::filesystem::create_directory(work.path() / "data");
    std::filesystem::copy(basicDir(), work.path() / "data");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(work.path());
    const Animation animation;
    std::filesystem::current_path(previous);
    EXPECT_EQ(animation.sequence.size(), 4u);
    EXPECT_EQ(animation.scenes.size(), 2u);
}

TEST(Animation, ReadsEachSceneOnceInOrderOfFirstMention) {
    InMemoryShow show;
    show.splitMap = nlohmann::json::parse(R"({"2B": [3, 4]})");
    const Animation animation = show.load("1 ('anim', {'name': '2B-0', 'from': 0, 'to': 1})\n"
                                          "2 ('anim', {'name': '1F-0', 'from': 0, 'to': 1})\n"
                                          "3 ('anim', {'name': '2B-2', 'from': 0, 'to': 1})\n"
                                          "4 ('anim', {'name': '2B-1', 'from': 5, 'to': 1})");
    EXPECT_EQ(show.reads, (std::map<std::string, int>{{"1F", 1}, {"2B", 1}}));
    ASSERT_EQ(animation.sequence.size(), 4u);
    EXPECT_EQ(animation.sequence[0].sceneIndex, 0);
    EXPECT_EQ(animation.sequence[1].sceneIndex, 1);
    EXPECT_EQ(animation.sequence[2].sceneIndex, 0);
    EXPECT_EQ(animation.sequence[2].firstFrame, 7);
    EXPECT_EQ(animation.sequence[3].firstFrame, 8);
    EXPECT_EQ(animation.sequence[3].lastFrame, 4);
}

TEST(Animation, MissingSequenceAndSplitMapLeaveThingsEmpty) {
    TempDataDir dir;
    EXPECT_TRUE(Animation(dir.path()).sequence.empty());

    // Clips of a scene's first piece ("5-0") never consult the split map, so it may be absent.
    dir.write("Sequence.txt", "1 ('anim', {'name': '5-0', 'from': 0, 'to': 3})\n");
    dir.write("script5.json", R"({"data": [], "indices": []})");
    const Animation animation(dir.path());
    ASSERT_EQ(animation.scenes.size(), 1u);
    EXPECT_TRUE(animation.scenes[0].frames.empty());
}

// A fault in a show folder's files is one DataError naming the file (and the line of
// Sequence.txt), wrapping the error that found it.
TEST(Animation, DataFaultsNameTheFileAndLine) {
    const std::string clip = "1 ('anim', {'name': '1-0', 'from': 0, 'to': 3})\n";
    const struct {
        std::vector<std::pair<std::string, std::string>> files; // a name ending in / is a folder
        std::string message;                                    // after the folder's path
        std::string type;
    } cases[] = {
        {{{"Sequence.txt", "0 ('scene', {})\n1 ('anim', {'name': '5-0', 'from': 0, 'to': 3})\n"}},
         "/script5.json: cannot open the scene file",
         "not nested"},
        {{{"Sequence.txt",
           "0 ('scene', {})\n1 ('anim', {'name': '1-0', 'from': zero, 'to': 3})\n"}},
         "/Sequence.txt:2: invalid stoi argument",
         "invalid_argument"},
        {{{"Sequence.txt", "1 ('anim', {'name': '1-0', 'from': 0, 'to': 3000000000})"}},
         "/Sequence.txt:1: stoi argument out of range",
         "out_of_range"},
        {{{"split_map.json", "{\"1\": [1,"}, {"Sequence.txt", clip}},
         "/split_map.json: [json.exception.parse_error.101]",
         "parse_error"},
        {{{"split_map.json", "{}"},
          {"script1.json", R"({"indices": [0], "data": {"0": 1}})"},
          {"Sequence.txt", clip}},
         "/script1.json: [json.exception.type_error.302] type must be array, but is object",
         "type_error"},
        // Base names cannot leave the data folder.
        {{{"script1/", ""},
          {"outside.json", R"({"indices": [0], "data": [1, 208, 1, 0, 0]})"},
          {"Sequence.txt", "1 ('anim', {'name': '1/../outside-0', 'from': 0, 'to': 0})\n"}},
         "/Sequence.txt:1: ",
         "invalid_argument"},
    };
    for (const auto& c : cases) {
        TempDataDir dir;
        for (const auto& [name, text] : c.files) {
            if (name.ends_with('/')) {
                std::filesystem::create_directory(dir.path() / name);
            } else {
                dir.write(name, text);
            }
        }
        const auto [message, type] = loadError([&] { Animation{dir.path()}; });
        EXPECT_EQ(message.rfind(dir.path().string() + c.message, 0), 0u) << message;
        EXPECT_EQ(type, c.type) << message;
    }
}

TEST(Animation, SplitMapFaultsRaiseTheJsonErrors) {
    const std::string clip = "7 ('anim', {'name': '1F-2', 'from': 0, 'to': 1})";
    struct Case {
        const char* splitMap;
        const char* error;
    };
    const Case cases[] = {
        {"null", "[json.exception.type_error.302] type must be number, but is null"},
        {R"({"1f": [1, 2]})", "[json.exception.type_error.302] type must be number, but is null"},
        {R"({"1F": [1]})", "[json.exception.type_error.302] type must be number, but is null"},
        {R"({"1F": [1, "2"]})",
         "[json.exception.type_error.302] type must be number, but is string"},
        {R"({"1F": "12"})",
         "[json.exception.type_error.305] cannot use operator[] with a numeric argument with "
         "string"},
        {R"([1, 2])",
         "[json.exception.type_error.305] cannot use operator[] with a string argument with "
         "array"},
    };
    for (const Case& c : cases) {
        InMemoryShow show;
        show.splitMap = nlohmann::json::parse(c.splitMap);
        const auto [message, type] = loadError([&] { show.load(clip); });
        EXPECT_EQ(message, std::string("Sequence.txt:1: split_map.json: ") + c.error) << c.splitMap;
        EXPECT_EQ(type, "type_error");
    }
    InMemoryShow show;
    show.splitMap = nlohmann::json::parse(R"({"1F": [1.9, true, 5]})");
    EXPECT_EQ(show.load(clip).sequence.at(0).firstFrame, 2) << "booleans count, floats truncate";
}

TEST(Animation, SplitOffsetsThatOverflowAreRefused) {
    InMemoryShow show;
    show.splitMap = nlohmann::json::parse(R"({"1F": [2147483647, 2147483647]})");
    const auto [message, type] =
        loadError([&] { show.load("7 ('anim', {'name': '1F-2', 'from': 0, 'to': 1})"); });
    EXPECT_EQ(message, "Sequence.txt:1: frame number out of range");
    EXPECT_EQ(type, "out_of_range");
}

TEST(LoadScene, ReadsFramesByIndex) {
    std::istringstream text(R"({"data": [2, 208, 1, 0, 0, 223, 2, 10, 10, 20, 20],
                                "indices": [0, 0, 6, 7], "note": null} trailing text)");
    testing::internal::CaptureStdout();
    const Scene scene = readScene(text);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(scene.frames.size(), 4u);
    EXPECT_EQ(scene.frames[0].size(), 2u);
    EXPECT_EQ(scene.frames[0], scene.frames[1]);
    EXPECT_TRUE(scene.frames[2].empty()) << "a point count is not a command count";
    EXPECT_TRUE(scene.frames[3].empty()) << "a faulty list still counts as a frame";
    EXPECT_NE(out.find("unexpected draw cmd"), std::string::npos) << out;
}

TEST(LoadScene, ConvertsNumbersAndBooleans) {
    const Scene scene = sceneFromJson(
        nlohmann::json::parse(R"({"indices": [0.7], "data": [true, 208.9, 1, 255.5, false]})"));
    ASSERT_EQ(scene.frames.size(), 1u);
    ASSERT_EQ(scene.frames[0].size(), 1u);
    EXPECT_FLOAT_EQ(scene.frames[0][0][0].x, 0.0f);
    EXPECT_FLOAT_EQ(scene.frames[0][0][0].y, 4504.5f);
}

TEST(LoadScene, ShapeErrorsAreTheJsonLibrarys) {
    struct Case {
        const char* text;
        const char* error; // empty: a scene without frames
    };
    const Case cases[] = {
        {"{}", ""},
        {"null", ""},
        {R"({"data": [1, 2]})", ""},
        {R"({"indices": [0]})", "[json.exception.type_error.302] type must be array, but is null"},
        {R"({"indices": [0], "data": 5})",
         "[json.exception.type_error.302] type must be array, but is number"},
        {R"({"indices": [0], "data": [1, "208"]})",
         "[json.exception.type_error.302] type must be number, but is string"},
        {R"({"indices": "0", "data": []})",
         "[json.exception.type_error.302] type must be array, but is string"},
        {R"([{"indices": [0]}])",
         "[json.exception.type_error.305] cannot use operator[] with a string argument with array"},
        {R"("scene")", "[json.exception.type_error.305] cannot use operator[] with a string "
                       "argument with string"},
    };
    for (const Case& c : cases) {
        std::istringstream text(c.text);
        try {
            const Scene scene = readScene(text);
            EXPECT_STREQ(c.error, "") << c.text;
            EXPECT_TRUE(scene.frames.empty()) << c.text;
        } catch (const nlohmann::json::type_error& e) {
            EXPECT_STREQ(e.what(), c.error) << c.text;
        }
    }
    std::istringstream truncated(R"({"indices": [0], "data": [1, 2)");
    EXPECT_THROW(readScene(truncated), nlohmann::json::parse_error);
}

// Clips play while start < t < end, so one that starts where another ends does
// not add to it; the points bound counts each scene's largest frame.
TEST(Animation, ClipsPlayingAtOnceAreBounded) {
    const auto load = [](const std::string& sequenceText) {
        std::istringstream text(sequenceText);
        return loadError([&] {
                   Animation(AnimationSource{text, "Sequence.txt", nullptr, "split_map.json",
                                             [](const std::string& baseName) {
                                                 Scene scene; // 200 frames
                                                 scene.frames.resize(200);
                                                 if (baseName == "1") { // one of 65536 points
                                                     scene.frames[7].push_back(Polyline(65536));
                                                 }
                                                 return scene;
                                             }});
               })
            .first;
    };
    std::string four;
    for (int k = 0; k < 4; ++k) {
        four += "0 ('anim', {'name': '1-0', 'from': 0, 'to': 199})\n";
    }
    EXPECT_EQ(load(four + "8000 ('anim', {'name': '1-0', 'from': 0, 'to': 199})\n"), "no error");
    EXPECT_EQ(load(four + "7999 ('anim', {'name': '1-0', 'from': 0, 'to': 199})\n"),
              "Sequence.txt: the clips playing at 7.999 s draw up to 327680 points at once, "
              "more than the limit of 262144");
    std::string many;
    for (int k = 0; k < 65; ++k) {
        many += std::to_string(k) + " ('anim', {'name': '2-0', 'from': 9, 'to': 0})\n";
    }
    EXPECT_EQ(load(many),
              "Sequence.txt: 65 clips play at once at 0.064 s, more than the limit of 64");
}

TEST(Animation, LargestPolylineCountSumsTheClipsPlayingAtOnce) {
    InMemoryShow show;
    Animation animation = show.load("0 ('anim', {'name': '1-0', 'from': 0, 'to': 0})\n");
    animation.scenes.assign(2, Scene{});
    animation.scenes[0].frames = {Frame(2), Frame(3)}; // at most 3 polylines
    animation.scenes[1].frames = {Frame(1)};
    // Scene 0 plays 0-0.4 s and again from 0.4 s, when the first clip has gone; scene 1
    // plays 0.2-1.0 s over both; a clip of a missing scene adds nothing.
    animation.sequence = {{0.0, 0, 0, 9}, {0.2, 1, 0, 19}, {0.4, 0, 9, 0}, {0.5, 7, 0, 9}};
    EXPECT_EQ(largestPolylineCount(animation), 4u);
    animation.sequence.push_back({0.3, 0, 0, 1});
    EXPECT_EQ(largestPolylineCount(animation), 7u);
}

} // namespace
} // namespace lumarok
