// Runs a fuzz target's entry point over every sample it is given (files, or folders of files), so the
// normal test run replays seeds and past findings without libFuzzer. Names starting with '.' are skipped.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace {

bool Hidden(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

void Collect(const std::filesystem::path& path, std::vector<std::filesystem::path>& samples) {
    if (std::filesystem::is_directory(path)) {
        std::vector<std::filesystem::path> inside;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (!Hidden(entry.path())) {
                inside.push_back(entry.path());
            }
        }
        std::sort(inside.begin(), inside.end());
        for (const auto& entry : inside) {
            Collect(entry, samples);
        }
    } else if (std::filesystem::exists(path)) {
        samples.push_back(path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> samples;
    for (int i = 1; i < argc; ++i) {
        Collect(argv[i], samples);
    }
    for (const auto& sample : samples) {
        std::ifstream in(sample, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", sample.c_str());
            return 1;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", sample.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replayed %zu samples\n", samples.size());
    return 0;
}
