// Which codec takes a file, and the OpenImageIO module loaded on first use.
#include "picture_io.h"

#include "frame_renderer.h"
#include "tool_error.h"

#include <filesystem>
#include <mutex>
#include <vector>

#include <dlfcn.h>

namespace ruvivedu::tool {

#if defined(__APPLE__)
const char kOiioModuleFileName[] = "ruvivedu_oiio.dylib";
#else
const char kOiioModuleFileName[] = "ruvivedu_oiio.so";
#endif

namespace {

struct LoadedModule {
    const PictureCodec* codec = nullptr;
    std::string problem;  ///< why there is no codec
};

/// Where the module may be: beside the tool (the build tree and a copied
/// tool), in ../lib/ruvivedu (an installed tree), and where this build put it.
std::vector<std::filesystem::path> module_candidates()
{
    namespace fs = std::filesystem;
    std::vector<fs::path> candidates;
    const std::string exe_dir = executable_dir();
    if (!exe_dir.empty()) {
        candidates.push_back(fs::path(exe_dir) / kOiioModuleFileName);
        candidates.push_back((fs::path(exe_dir) / ".." / "lib" / "ruvivedu" / kOiioModuleFileName).lexically_normal());
    }
#if defined(RUVIVEDU_OIIO_MODULE_BUILT_AT)
    candidates.push_back(RUVIVEDU_OIIO_MODULE_BUILT_AT);
#endif
    return candidates;
}

LoadedModule load_module()
{
    LoadedModule loaded;
    std::string looked;
    for (const std::filesystem::path& candidate : module_candidates()) {
        std::error_code ec;
        if (!std::filesystem::exists(candidate, ec)) {
            looked += (looked.empty() ? "" : ", ") + candidate.string();
            continue;
        }
        // Never unloaded: its codec objects live as long as the process.
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            loaded.problem = "cannot load " + candidate.string() + ": " + (why ? why : "unknown error");
            return loaded;
        }
        const auto entry = reinterpret_cast<OiioCodecEntry>(::dlsym(handle, kOiioCodecEntry));
        loaded.codec = entry ? entry(kPictureCodecVersion) : nullptr;
        if (!loaded.codec)
            loaded.problem = candidate.string() + " is not the OpenImageIO module of this ruvivedu";
        return loaded;
    }
    loaded.problem =
        std::string("the OpenImageIO module ") + kOiioModuleFileName + " is missing (looked for " + looked + ")";
    return loaded;
}

}  // namespace

const PictureCodec* find_oiio_codec(std::string& problem)
{
    static std::once_flag once;
    static LoadedModule module;
    std::call_once(once, [] { module = load_module(); });
    problem = module.problem;
    return module.codec;
}

const PictureCodec& codec_for(const std::string& path, const char* doing)
{
    const std::string ext = lower_extension(path);
    if (ext == ".png")
        return png_codec();
    if (ext == ".exr")
        return exr_codec();
    std::string problem;
    if (const PictureCodec* oiio = find_oiio_codec(problem))
        return *oiio;
    throw ToolError(std::string("cannot ") + doing + " '" + path + "': " + problem);
}

}  // namespace ruvivedu::tool
