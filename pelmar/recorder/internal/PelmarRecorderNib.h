#pragma once

// The interface file "PelmarRecorder": the recorder's views, outlets and actions.
// Threads: thread-safe (registration happens once).

namespace pelmar::recorder::internal {

// Registers the builder of "PelmarRecorder" with ui::Nib (once per process).
void registerPelmarRecorderNib();

}  // namespace pelmar::recorder::internal
