// libFuzzer target for the tool's PAM reader (tools/picture_codecs.cpp): any
// bytes as a PAM file. What it accepts must keep FilePicture's promises and
// come back unchanged through the PAM writer (picture_check.h).
#include "picture_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    picture_check::round_trip(data, size, ruvivedu::tool::decode_pam, ruvivedu::tool::encode_pam);
    return 0;
}
