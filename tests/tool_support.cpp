// What the ruvivedu tool's tests share.
#include "tool_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <sys/wait.h>
#include <unistd.h>

namespace ruvivedu::tool_tests {

namespace fs = std::filesystem;
using OIIO::TypeDesc;

TempDir::TempDir()
{
    static int serial = 0;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? test->name() : "x";
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests are named "Test/param"
    path_ = fs::temp_directory_path() /
            ("ruvivedu-tool-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + "-" + name);
    fs::create_directories(path_);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::set<std::string> TempDir::entries() const
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.insert(entry.path().filename().string());
    return names;
}

std::string quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

RunResult run_tool(const std::vector<std::string>& args, const std::string& env, std::string* out)
{
    static int serial = 0;
    const std::string base =
        (fs::temp_directory_path() / ("ruvivedu-run-" + std::to_string(::getpid()) + "-" + std::to_string(serial++)))
            .string();
    std::string command = env.empty() ? "" : env + " ";
    command += quote(RUVIVEDU_TOOL_EXE);
    for (const std::string& arg : args)
        command += " " + quote(arg);
    command += " >" + quote(base + ".out") + " 2>" + quote(base + ".err") + " </dev/null";
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.err = slurp(base + ".err");
    if (out)
        *out = slurp(base + ".out");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return result;
}

void write_picture(const std::string& path, int width, int height, int channels, TypeDesc type,
                   const std::function<float(int, int, int)>& value)
{
    std::vector<float> data(std::size_t(width * height * channels));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                data[std::size_t((y * width + x) * channels + c)] = value(x, y, c);
    OIIO::ImageSpec layout(width, height, channels, type);
    if (channels == 4 || channels == 2) {
        layout.alpha_channel = channels - 1;
        layout.attribute("oiio:UnassociatedAlpha", 1);
    }
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << OIIO::geterror();
    ASSERT_TRUE(out->open(path, layout)) << out->geterror();
    ASSERT_TRUE(out->write_image(TypeDesc::FLOAT, data.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

float test_alpha(int x, int y)
{
    return float((x * 37 + y * 11) % 256) / 255.0f;
}

}  // namespace ruvivedu::tool_tests
