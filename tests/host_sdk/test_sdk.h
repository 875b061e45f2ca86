// The test SDK: our own declarations of the host API (src/shell/host_api.h)
// cut into the host SDK's header files, so that a build against it meets
// the SDK's layout and platform check, and lacks what the SDK lacks.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace ruvivedu::test_sdk {

/// The two kinds of SDK release the tree must build against: an older one
/// (the 17.1 era) and a newer one (the 23.4 era), which adds a few names.
enum class Flavour { older, newer };

/// One generated header: its path under the SDK folder ("Headers/A.h") and
/// its whole text.
struct SdkFile {
    std::string path;
    std::string text;
};

/// host_api.h cannot be cut as it stands; the text says where and why.
struct SplitError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Names the sheet of SDK facts says no release declares. Neither our
/// declarations nor the code compiled against the SDK may use them.
const std::vector<std::string>& names_no_sdk_declares();

/// Names only newer releases declare (with their values), so the older
/// flavour lacks them and code must spell their values.
struct NewerName {
    std::string name;
    std::string value;
};
const std::vector<NewerName>& names_only_newer_sdks_declare();

/// Cuts the own-declarations branch of host_api.h (given as text) along its
/// "// SDK header: PATH" lines into the SDK's files, in the SDK's folder
/// layout, with the includes each SDK header has. Constants become anonymous
/// enums as in the SDK. Throws SplitError for a declaration outside any
/// marked part, an unknown header, a header left empty or a name that no
/// SDK declares.
std::vector<SdkFile> make_test_sdk(const std::string& host_api_text, Flavour flavour);

}  // namespace ruvivedu::test_sdk
