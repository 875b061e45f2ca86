// libFuzzer target for the tool's TIFF reader (tools/picture_codecs.cpp): any
// bytes as a TIFF file, either byte order. What it accepts must keep
// FilePicture's promises and come back unchanged through the TIFF writer
// (picture_check.h).
#include "picture_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    picture_check::round_trip(data, size, ruvivedu::tool::decode_tiff, ruvivedu::tool::encode_tiff);
    return 0;
}
