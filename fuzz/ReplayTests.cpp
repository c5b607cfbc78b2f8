#include "FuzzModels.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

// Every committed seed and every input that once found a fault goes through its target on every
// test run, so a fixed fault that comes back fails here without a fuzzing campaign.
TEST(FuzzReplay, CommittedInputsPass)
{
    std::set<std::string> seeded;
    for (const char *kind : { "corpus", "regressions" })
        for (const fs::directory_entry &folder : fs::directory_iterator(fs::path(VEYRA_FUZZ_DIR) / kind)) {
            const std::string name = folder.path().filename().string();
            ASSERT_TRUE(veyra::fuzz::targets().contains(name)) << folder.path() << " has no target";
            for (const fs::directory_entry &file : fs::directory_iterator(folder)) {
                if (file.path().filename().string().front() == '.')
                    continue;
                seeded.insert(name);
                std::ostringstream bytes;
                bytes << std::ifstream(file.path(), std::ios::binary).rdbuf();
                try {
                    veyra::fuzz::targets()[name](bytes.str());
                } catch (const std::exception &error) {
                    ADD_FAILURE() << file.path() << ": " << error.what();
                }
            }
        }
    for (const auto &[name, run] : veyra::fuzz::targets())
        EXPECT_TRUE(seeded.contains(name)) << "no seeds for " << name;
}
