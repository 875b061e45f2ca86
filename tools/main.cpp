// The ruvivedu command line: `render` and `info` over the tool library.
#include "frame_renderer.h"
#include "frame_sequence.h"
#include "image_file.h"
#include "plugin_info.h"
#include "render_job.h"
#include "render_options.h"
#include "tool_error.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#if defined(_WIN32)
#include <cstdio>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

using namespace ruvivedu::tool;

/// Option text as typed; each is checked by the tool library so every
/// refusal reads the same way.
struct RenderText {
    std::string shape, dot_size, rotation, offset, sampling, path, depth, downsample, frames, jobs, region;
};

RenderOptions to_options(RenderOptions options, const RenderText& text)
{
    if (!text.shape.empty())
        options.shape = parse_shape(text.shape);
    if (!text.dot_size.empty())
        options.dot_size = parse_number("--dot-size", text.dot_size);
    if (!text.rotation.empty())
        options.rotation = parse_number("--rotation", text.rotation);
    if (!text.offset.empty())
        options.offset = parse_offset(text.offset);
    if (!text.sampling.empty())
        options.sampling = parse_sampling(text.sampling);
    if (!text.path.empty())
        options.path = parse_path(text.path);
    if (!text.depth.empty())
        options.depth = parse_depth(text.depth);
    if (!text.downsample.empty())
        std::tie(options.downsample_x, options.downsample_y) = parse_downsample(text.downsample);
    if (!text.frames.empty())
        options.frames = parse_frame_range(text.frames);
    if (!text.jobs.empty())
        options.jobs = parse_jobs(text.jobs, kMaxJobs);
    if (!text.region.empty())
        options.region = parse_region(text.region);
    return options;
}

#if RUVIVEDU_TOOL_WITH_OIIO
constexpr char kFilesHelp[] =
    "Files: PNG 8/16-bit (float renders are written as 16-bit), TIFF 8/16-bit and float, OpenEXR float,\n"
    "JPEG 8-bit RGB, PAM 8/16-bit; other formats as OpenImageIO writes them. Alpha is straight "
    "(unpremultiplied).\n";
#else
constexpr char kFilesHelp[] =
    "Files: PAM 8/16-bit (float renders are written as 16-bit), uncompressed TIFF 8/16-bit and float.\n"
    "Alpha is straight (unpremultiplied).\n";
#endif

#if RUVIVEDU_TOOL_WITH_OIIO
const std::string kCompressionHelp =
    "How the output file is compressed. PNG: a zlib level 0 (none) to 9 (smallest), default " +
    std::to_string(kPngDefaultLevel) +
    " (fast; on halftone pictures level 6 saves about an eighth of the size at three times the time). OpenEXR: none, "
    "rle, zips, zip (the default), piz, "
    "pxr24, dwaa, dwab (pxr24 and the dwa methods lose precision), zip:LEVEL, dwaa:QUALITY. TIFF: none, lzw, zip "
    "(the default), zip:LEVEL, packbits";
#else
const std::string kCompressionHelp = "How the output file is compressed: TIFF files are written uncompressed (none)";
#endif

/// Progress bars only go to a terminal; a file or pipe gets the summary alone.
bool stderr_is_terminal()
{
#if defined(_WIN32)
    return ::_isatty(::_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

/// Idle OpenMP threads of the plug-in sleep instead of spinning, unless the
/// user chose how they wait: between its renders the tool's own threads
/// decode and encode pictures on the same processors, and a spinning thread
/// would take their time. Set before the module (and its OpenMP runtime) loads.
void let_idle_openmp_threads_sleep()
{
    if (std::getenv("OMP_WAIT_POLICY") || std::getenv("GOMP_SPINCOUNT"))
        return;
#if defined(_WIN32)
    ::_putenv_s("OMP_WAIT_POLICY", "PASSIVE");
#else
    ::setenv("OMP_WAIT_POLICY", "PASSIVE", 0);
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    let_idle_openmp_threads_sleep();
    CLI::App app{"ruvivedu: renders pictures through the k's Ruvivedu halftone plug-in, as its host would"};
    app.require_subcommand(1);
    app.footer(std::string(kFilesHelp) +
               "Exit status: 0 done, 1 a file, the plug-in module or a render failed, 2 bad command line.");

    RenderOptions options;
    RenderText text;
    CLI::App* render = app.add_subcommand("render", "Render IN to OUT (or a numbered sequence) through the plug-in");
    render->add_option("IN", options.input, "Input picture, or a frame pattern (shot.####.png, shot.%04d.png)")
        ->required();
    render->add_option("OUT", options.output, "Output picture or frame pattern; its extension picks the format")
        ->required();
    render->add_option("--shape", text.shape, "circle, square or line (default circle)")->type_name("SHAPE");
    render->add_option("--dot-size", text.dot_size, "Screen cell size in pixels, 1.0 to 1000.0 (default 32.0)")
        ->type_name("F");
    render->add_option("--rotation", text.rotation, "Screen angle in degrees (default 45.0)")->type_name("DEG");
    render->add_option("--offset", text.offset, "Screen origin X,Y in layer pixels (default the layer centre)")
        ->type_name("X,Y");
    render->add_flag("--alpha", options.alpha, "Black ink on transparent paper instead of a grey picture");
    render->add_option("--sampling", text.sampling, "bilinear or nearest (default bilinear)")->type_name("SAMPLING");
    render->add_option("--path", text.path, "smart (SMART_PRE_RENDER + SMART_RENDER, default) or classic (RENDER)")
        ->type_name("PATH");
    render->add_option("--depth", text.depth, "Render depth 8, 16 or 32 (default: the input file's)")
        ->type_name("BITS");
    render
        ->add_option("--downsample", text.downsample,
                     "Reduced-resolution preview N/D or NX/DX,NY/DY: the input is area-averaged by that factor")
        ->type_name("N/D[,N/D]");
    render
        ->add_option("--region", text.region,
                     "Render only this part of the layer, X,Y,W,H in pixels of the rendered layer, as a host asks "
                     "for the part a viewer shows; the output is that part (within the layer)")
        ->type_name("X,Y,W,H");
    render->add_flag("--prescaled", options.prescaled, "With --downsample: IN already is the reduced frame");
    render->add_option("--frames", text.frames, "Frame range A-B for frame patterns (default: every input frame found)")
        ->type_name("A-B");
    render->add_option("--plugin", options.plugin_path, "Plug-in module to load (default: found beside ruvivedu)")
        ->type_name("MODULE");
    render->add_option("--compression", options.compression, kCompressionHelp)->type_name("METHOD");
    render->add_flag("--timings", options.timings,
                     "At the end, tell how long reading, rendering and writing took (for a sequence, summed over "
                     "its frames)");
    render
        ->add_option("--jobs", text.jobs,
                     "Frames of a sequence in flight at once, each read, rendered and written on a thread of its "
                     "own; bounds the memory too (default: one per processor, here " +
                         std::to_string(processor_count()) + ")")
        ->type_name("N");

    bool json = false;
    std::string info_plugin;
    CLI::App* info = app.add_subcommand("info", "Show what a host learns from the plug-in module");
    info->add_flag("--json", json, "Report as JSON");
    info->add_option("--plugin", info_plugin, "Plug-in module to load (default: found beside ruvivedu)")
        ->type_name("MODULE");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "ruvivedu: " << e.what() << " (see ruvivedu --help)\n";
        return kExitUsage;
    }

    try {
        if (render->parsed()) {
            install_interrupt_cleanup();
            run_render(to_options(options, text), std::cerr, stderr_is_terminal());
        } else if (info->parsed()) {
            const PluginInfo report = collect_plugin_info(find_plugin_module(info_plugin, executable_dir()));
            std::cout << (json ? format_info_json(report) : format_info_text(report));
        }
    } catch (const ToolError& e) {
        std::cerr << "ruvivedu: " << e.what() << "\n";
        return e.status();
    } catch (const std::exception& e) {
        std::cerr << "ruvivedu: " << e.what() << "\n";
        return kExitFailure;
    }
    return kExitOk;
}
