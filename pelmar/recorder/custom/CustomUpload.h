#pragma once

#include <filesystem>
#include <memory>

namespace pelmar {
class Pelmar;
}

// The upload of a finished custom recording, shared by the recorder and its preview.
// Threads: call on the main thread (the facade's upload is main-thread only).

namespace pelmar::recorder::internal {

// Copies `file` into the temporary folder under its own name (the file itself when the copy
// fails, or when it is there already) and hands the chosen file's "file://" URL to the facade's
// uploadFromPath with no data and no closures: progress and results reach only the facade's
// uploading delegate. Nothing without a facade.
void uploadCustomRecording(const std::shared_ptr<Pelmar>& pelmar,
                           const std::filesystem::path& file);

}  // namespace pelmar::recorder::internal
