// make_test_sdk: writes the test SDK, cut from host_api.h, in both flavours.
//
//   make_test_sdk HOST_API_H OUT_DIR
//
// writes OUT_DIR/older/... and OUT_DIR/newer/..., each an SDK folder
// (Headers/, Headers/SP/, Util/) to set RUVIVEDU_HOST_SDK_DIR to. A file
// whose text is unchanged is left alone, so builds against the tree do not
// recompile for nothing.
#include "test_sdk.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

namespace {

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_if_changed(const std::filesystem::path& path, const std::string& text)
{
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored) && read_file(path) == text)
        return;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace ruvivedu::test_sdk;
    if (argc != 3) {
        std::cerr << "usage: make_test_sdk HOST_API_H OUT_DIR\n";
        return 2;
    }
    try {
        const std::string host_api = read_file(argv[1]);
        const std::filesystem::path out = argv[2];
        for (const auto& [flavour, name] : {std::pair{Flavour::older, "older"}, std::pair{Flavour::newer, "newer"}})
            for (const SdkFile& file : make_test_sdk(host_api, flavour))
                write_if_changed(out / name / file.path, file.text);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "make_test_sdk: " << e.what() << "\n";
        return 1;
    }
}
