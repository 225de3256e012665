// Stands in for libFuzzer where it is not linked: runs the fuzz target once over every file
// given, or every file of every directory given, so seed and crash corpora stay regression tests.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int runFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int failures = 0;
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        std::error_code error;
        if (!std::filesystem::exists(path, error)) {
            std::fprintf(stderr, "%s does not exist\n", path.c_str());
            ++failures;
        } else if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    failures += runFile(entry.path());
                    ++count;
                }
            }
        } else {
            failures += runFile(path);
            ++count;
        }
    }
    std::printf("%d inputs replayed\n", count);
    // A corpus that is missing or empty would replay nothing and prove nothing.
    if (count == 0) {
        std::fprintf(stderr, "no inputs to replay: the corpus is missing or empty\n");
        return 1;
    }
    return failures ? 1 : 0;
}
