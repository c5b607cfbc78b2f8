#include "FuzzTarget.h"
#include "FuzzTargets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace fs = std::filesystem;
using veyra::fuzz::Target;

namespace {

const fs::path fuzzDirectory = VEYRA_FUZZ_DIR;

std::vector<fs::path> inputsOf(const std::string &target)
{
    std::vector<fs::path> files;
    for (const char *kind : { "corpus", "regressions" }) {
        const fs::path folder = fuzzDirectory / kind / target;
        if (!fs::is_directory(folder))
            continue;
        for (const fs::directory_entry &entry : fs::directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public testing::TestWithParam<Target> { };

} // namespace

namespace veyra::fuzz {
// Shown by the test listing instead of the raw bytes of the record.
void PrintTo(const Target &target, std::ostream *stream)
{
    *stream << target.name;
}
} // namespace veyra::fuzz

// Every committed seed and every input that once found a fault goes through its target on
// every test run, so a fixed fault that comes back fails here without a fuzzing campaign.
TEST_P(FuzzReplay, CommittedInputsPass)
{
    const Target target = GetParam();
    const std::vector<fs::path> files = inputsOf(target.name);
    EXPECT_FALSE(files.empty()) << "no seeds for " << target.name;
    for (const fs::path &file : files) {
        std::ifstream stream(file, std::ios::binary);
        const std::string input((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        try {
            target.run(input);
        } catch (const veyra::fuzz::Finding &finding) {
            ADD_FAILURE() << file << ": " << finding.what;
        } catch (const std::exception &error) {
            ADD_FAILURE() << file << ": exception escaped: " << error.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(veyra::fuzz::targets),
    [](const testing::TestParamInfo<Target> &info) { return std::string(info.param.name); });

TEST(FuzzReplayLayout, EveryInputFolderBelongsToATarget)
{
    std::set<std::string> names;
    for (const Target &target : veyra::fuzz::targets)
        names.insert(target.name);
    for (const char *kind : { "corpus", "regressions" })
        for (const fs::directory_entry &entry : fs::directory_iterator(fuzzDirectory / kind))
            EXPECT_TRUE(names.count(entry.path().filename().string())) << entry.path() << " has no target";
}
