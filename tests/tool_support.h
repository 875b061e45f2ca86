// What the ruvivedu tool's tests share: scratch folders, runs of the built
// executable, and synthetic pictures written and read through OpenImageIO.
#pragma once

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace ruvivedu::tool_tests {

/// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    /// Names of everything in the folder, hidden files included.
    std::set<std::string> entries() const;

private:
    std::filesystem::path path_;
};

struct RunResult {
    int status = -1;
    std::string err;
};

/// `text` quoted for the shell.
std::string quote(const std::string& text);

/// The whole file as bytes ("" when it cannot be read).
std::string slurp(const std::string& path);

/// Runs the built tool with `args` and `env` (VAR=value ...) before it;
/// stdout (into `out` when given) and stderr are captured.
RunResult run_tool(const std::vector<std::string>& args, const std::string& env = "", std::string* out = nullptr);

/// Writes a synthetic picture: channel c of pixel (x, y) is value(x, y, c) in [0, 1].
void write_picture(const std::string& path, int width, int height, int channels, OIIO::TypeDesc type,
                   const std::function<float(int, int, int)>& value);

/// A file as stored: its layout and its components in `type`, alpha unassociated.
template <class T>
std::vector<T> read_raw(const std::string& path, OIIO::TypeDesc type, OIIO::ImageSpec* layout_out)
{
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::create(path, false, &config);
    EXPECT_TRUE(in) << OIIO::geterror();
    if (!in)
        return {};
    OIIO::ImageSpec layout;
    EXPECT_TRUE(in->open(path, layout, config)) << in->geterror();
    std::vector<T> data(std::size_t(layout.width) * std::size_t(layout.height) * std::size_t(layout.nchannels));
    EXPECT_TRUE(in->read_image(0, 0, 0, layout.nchannels, type, data.data())) << in->geterror();
    *layout_out = layout;
    return data;
}

/// Alpha that varies across the picture and includes 0 and full.
float test_alpha(int x, int y);

}  // namespace ruvivedu::tool_tests
