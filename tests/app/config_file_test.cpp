#include "app/command_line.hpp"
#include "app/config_file.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lumarok {
namespace {

using Args = std::vector<std::string>;

// Every field of the options, as text, so that two parses compare in one line.
std::string summary(const Options& o) {
    std::ostringstream out;
    const auto placement = [&](const Placement& p) {
        out << p.flipX << p.flipY << p.quarterTurns << "/" << p.scale << "/" << p.offsetX << ":"
            << p.offsetY << " ";
    };
    const auto* render = std::get_if<RenderMode>(&o.mode);
    const auto* exporting = std::get_if<ExportIldaMode>(&o.mode);
    out << "mode=" << o.mode.index() << " show=" << o.showFolder << " osc=" << o.osc
        << " i=" << o.intensity << "(" << o.intensityText << ") audio=" << o.audioSource
        << " display=" << o.display << " verbosity=" << o.verbosity
        << " render=" << (render ? render->clockSeconds : -1)
        << " out=" << (render ? render->out : "") << " port=" << o.oscPort
        << " address=" << o.oscAddress << " from=";
    for (const AddressRange& range : o.oscFrom) {
        out << range.text() << ",";
    }
    out << " projectors=";
    for (const WantedProjector& projector : o.projectors) {
        out << projector.name << ":";
        placement(projector.placement);
    }
    out << " all=" << o.allProjectors.has_value() << " ";
    placement(o.allProjectors.value_or(Placement{}));
    out << "interface=" << o.interfaceName << " status=";
    for (const Ipv4Endpoint& target : o.statusTo) {
        out << target.text() << ",";
    }
    out << " ltc=" << o.ltc << "(" << o.ltcSource << ") ilda=" << (exporting ? exporting->file : "")
        << " fps=" << o.fps.value_or(-1) << " from=" << o.fromSeconds.value_or(-1)
        << " to=" << o.toSeconds.value_or(-1);
    return out.str();
}

class ConfigFile : public testing::Test {
protected:
    std::string write(const std::string& text) {
        test::writeFile(path, text);
        return path;
    }
    void TearDown() override { std::filesystem::remove(path); }
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("lumarok-config-" + std::to_string(::getpid()) + ".toml"))
                                 .string();
};

TEST_F(ConfigFile, SettingsEqualTheSameOptionsOnTheCommandLine) {
    const struct {
        const char* file;
        Args commandLine; // after --config FILE
        Args same;        // the same without a file
    } cases[] = {
        {"laser = true\nintensity = 20\nprojector = [\"left:flip-x\", \"right\"]\n"
         "status-to = [\"127.0.0.1:9000\"]\nshow = \"/s\"\nverbose = true\ninterface = \"veth0\"\n"
         "audio-source = \"m.monitor\"\nosc = true\nosc-port = 9000\nosc-address = \"127.0.0.1\"\n"
         "osc-from = [\"10.0.0.0/8\", \"192.168.1.7\"]\n",
         {},
         {"--laser",     "-i",         "20",          "--projector",    "left:flip-x",
          "--projector", "right",      "--status-to", "127.0.0.1:9000", "--show",
          "/s",          "-v",         "--interface", "veth0",          "--audio-source",
          "m.monitor",   "--osc",      "--osc-port",  "9000",           "--osc-address",
          "127.0.0.1",   "--osc-from", "10.0.0.0/8",  "--osc-from",     "192.168.1.7"}},
        // The command line wins: a value replaces the key, a list the whole list, and its
        // -i is the first; a key it does not give stays.
        {"laser = true\nintensity = 20\nprojector = [\"a\", \"b\"]\nshow = \"/s\"\n"
         "quiet = true\n",
         {"-i", "50", "--projector", "c", "--show=/t", "-v"},
         {"--laser", "-i", "50", "--projector", "c", "--show", "/t", "-v"}},
        {"render = 19.6\nout = \"x.png\"\nintensity = 100\n",
         {},
         {"--render", "19.6", "--out", "x.png", "-i", "100"}},
        {"export-ilda = \"a.ild\"\nfps = 25\nfrom = 1\nto = 2.5\n",
         {},
         {"--export-ilda", "a.ild", "--fps", "25", "--from", "1", "--to", "2.5"}},
        {"ltc = true\nprojector = \"all:flip-y\"\nlaser = true\n# a comment\n",
         {},
         {"--ltc", "--projector", "all:flip-y", "--laser"}},
        {"", {"--laser"}, {"--laser"}},
        {"laser = true\nrate = 45000\nprojector = [\"etherdream:10.0.0.9\", \"idn:10.0.0.7/1\"]\n",
         {},
         {"--laser", "--rate", "45000", "--projector", "etherdream:10.0.0.9", "--projector",
          "idn:10.0.0.7/1"}},
    };
    for (const auto& c : cases) {
        Args args{"--config", write(c.file)};
        args.insert(args.end(), c.commandLine.begin(), c.commandLine.end());
        EXPECT_EQ(summary(parseOptions(args)), summary(parseOptions(c.same))) << c.file;
    }
    // A fraction, and a switch set to false, which gives no option at all.
    const Options fractional = parseOptions({"--config", write("intensity = 12.5\nlaser = false\n"
                                                               "ltc = \"line_in\"\n")});
    EXPECT_FLOAT_EQ(fractional.intensity, 0.125f);
    EXPECT_FALSE(fractional.is<LaserMode>());
    EXPECT_EQ(fractional.ltcSource, "line_in");
    EXPECT_EQ(parseOptions({"--config", write("rate = 45000\n")}).pointRate, 45000u);
}

TEST_F(ConfigFile, AFaultIsOneUsageErrorNamingFileLineAndKey) {
    const struct {
        const char* file;
        const char* message; // after "FILE:"
    } cases[] = {
        {"laser = true\nlazer = true\n", "2: unknown key 'lazer'"},
        {"[laser]\non = true\n", "1: laser takes true or false"}, // no tables
        {"config = \"other.toml\"\n", "1: unknown key 'config'"},
        {"intensity = \"20\"\n", "1: intensity takes a number"},
        {"osc-port = 9000.5\n", "1: osc-port takes a whole number"},
        {"laser = \"yes\"\n", "1: laser takes true or false"},
        {"projector = [\"a\", 3]\n", "1: projector takes a list of strings"},
        {"fps = nan\n", "1: fps takes a number"},
        {"osc = true\n\nosc-port = 70000\n", "3: osc-port: invalid --osc-port '70000'"},
        {"laser = true\nstatus-to = [\"255.255.255.255:9000\"]\n", "2: status-to: --status-to"},
        {"laser = true\nprojector = [\"a\", \"a:flip-x\"]\n", "2: projector: --projector a given"},
        {"show = \"\"\n", "1: show: --show needs a value"},
        {"laser = true\nintensity = 1e39\n", "2: intensity: stof argument out of range"},
        {"laser = \n", "1: "}, // not TOML
    };
    for (const auto& c : cases) {
        const std::string file = write(c.file);
        try {
            (void)parseOptions({"--config", file, "--laser"});
            ADD_FAILURE() << "no error for " << c.file;
        } catch (const UsageError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(file + ":" + c.message, 0), 0u)
                << e.what() << " for " << c.file;
        }
    }
    EXPECT_THROW((void)parseOptions({"--config", path + ".missing"}), UsageError);
    // A command-line option that the file gets wrong too is taken from the command line.
    EXPECT_EQ(
        parseOptions({"--config", write("osc = true\nosc-port = 70000\n"), "--osc-port=1"}).oscPort,
        1);
}

TEST_F(ConfigFile, TheInstalledExampleSetsNothingAndNamesOnlyKnownKeys) {
    const std::string example = test::sourceDir() + "/packaging/lumarok.toml";
    EXPECT_TRUE(readConfigFile(example).empty());
    std::ifstream in(example);
    int keys = 0;
    for (std::string line; std::getline(in, line);) {
        // "#key = value": a setting commented out; the one option yet to come is left out.
        if (line.size() < 2 || line[0] != '#' || !std::islower(line[1]) ||
            line.find(" = ") == std::string::npos || line.starts_with("#clock-timeout")) {
            continue;
        }
        ++keys;
        EXPECT_EQ(readConfigFile(write(line.substr(1))).size(), 1u) << line;
    }
    EXPECT_GE(keys, 14);
}

} // namespace
} // namespace lumarok
