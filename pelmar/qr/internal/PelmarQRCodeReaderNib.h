#pragma once

// The interface file "PelmarQRCodeReaderViewController": the preview area and the back button.
// Threads: thread-safe (registration happens once).

namespace pelmar::qr::internal {

// Registers the builder with ui::Nib (once per process).
void registerPelmarQRCodeReaderNib();

}  // namespace pelmar::qr::internal
