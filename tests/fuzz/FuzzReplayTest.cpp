// Test of the fuzz targets without libFuzzer: every seed of a target and every input that once
// made one crash runs through it again, so a mended fault stays mended.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"

void PrintTo(const FUZZTARGET& target, std::ostream* os) {
    *os << target.name;
}

namespace {

std::vector<std::filesystem::path> Inputs(const std::string& target) {
    std::vector<std::filesystem::path> files;
    for (const char* kind : {"corpus", "regressions"}) {
        const std::filesystem::path folder = std::filesystem::path(ZB_FUZZ_DIR) / kind / target;
        if (!std::filesystem::is_directory(folder)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    }
    return files;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzReplay : public ::testing::TestWithParam<FUZZTARGET> {};

TEST_P(FuzzReplay, EverySeedAndFormerCrashRunsThrough) {
    FuzzSetUp();
    const std::vector<std::filesystem::path> inputs = Inputs(GetParam().name);
    EXPECT_FALSE(inputs.empty()) << "no seeds for " << GetParam().name;
    for (const auto& path : inputs) {
        SCOPED_TRACE(path.string());
        const std::string bytes = ReadFile(path);
        EXPECT_EQ(GetParam().entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         ::testing::ValuesIn(kFuzzTargets, kFuzzTargets + kFuzzTargetCount),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
