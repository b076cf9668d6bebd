#include "preview/preview_window.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

namespace lumarok {
namespace {

// Sets or removes DISPLAY for one test and puts the old value back.
class DisplayVariable {
public:
    explicit DisplayVariable(const char* value) {
        if (const char* old = std::getenv("DISPLAY")) {
            saved_ = old;
        }
        if (value != nullptr) {
            setenv("DISPLAY", value, 1);
        } else {
            unsetenv("DISPLAY");
        }
    }
    ~DisplayVariable() {
        if (saved_) {
            setenv("DISPLAY", saved_->c_str(), 1);
        } else {
            unsetenv("DISPLAY");
        }
    }
    DisplayVariable(const DisplayVariable&) = delete;
    DisplayVariable& operator=(const DisplayVariable&) = delete;

private:
    std::optional<std::string> saved_;
};

// runPreview must refuse before glutInit, which would end the whole process.
std::string refusal(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    bool rendered = false;
    try {
        runPreview(argc, argv.data(), [&](std::vector<LaserSample>&) { rendered = true; });
    } catch (const std::runtime_error& error) {
        EXPECT_FALSE(rendered);
        return error.what();
    }
    ADD_FAILURE() << "runPreview did not refuse";
    return {};
}

TEST(PreviewWindow, RefusesWithAClearMessageWhenNoDisplayIsSet) {
    const DisplayVariable none(nullptr);
    EXPECT_NE(refusal({"lumarok"}).find("DISPLAY is not set"), std::string::npos);
    const DisplayVariable empty("");
    EXPECT_NE(refusal({"lumarok"}).find("DISPLAY is not set"), std::string::npos);
}

TEST(PreviewWindow, RefusesWhenTheDisplayCannotBeOpened) {
    const DisplayVariable unreachable(":4321");
    const std::string message = refusal({"lumarok", "-osc"});
    EXPECT_NE(message.find("cannot open X display \":4321\""), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos); // one line
}

TEST(PreviewWindow, TheDisplayOptionWinsOverTheVariableAsForGlut) {
    const DisplayVariable unreachable(":4321");
    const std::string message = refusal({"lumarok", "-display", ":4322"});
    EXPECT_NE(message.find("\":4322\""), std::string::npos) << message;
}

} // namespace
} // namespace lumarok
