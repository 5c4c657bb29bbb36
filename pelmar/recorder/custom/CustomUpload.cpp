#include "pelmar/recorder/custom/CustomUpload.h"

#include <system_error>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"

namespace pelmar::recorder::internal {

void uploadCustomRecording(const std::shared_ptr<Pelmar>& pelmar,
                           const std::filesystem::path& file) {
    if (!pelmar) {
        return;
    }
    auto chosen = foundation::Sandbox::temporaryDirectory() / file.filename();
    std::error_code ec;
    if (std::filesystem::equivalent(chosen, file, ec)) {
        chosen = file;
    } else {
        std::filesystem::copy_file(file, chosen, std::filesystem::copy_options::overwrite_existing,
                                   ec);
        if (ec) {
            chosen = file;
        }
    }
    // A percent-encoded URL: the engine decodes it, so blanks and non-ASCII in a path survive.
    pelmar->uploadFromPath(foundation::fileURLFromPath(chosen), Json::object(), nullptr, nullptr,
                           nullptr);
}

}  // namespace pelmar::recorder::internal
