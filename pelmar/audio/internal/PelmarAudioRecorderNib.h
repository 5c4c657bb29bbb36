#pragma once

// The interface file "PelmarAudioRecorder": the audio recorder's views, outlets and actions.
// Threads: thread-safe (registration happens once).

namespace pelmar::audio::internal {

// Registers the builder of "PelmarAudioRecorder" with ui::Nib (once per process).
void registerPelmarAudioRecorderNib();

}  // namespace pelmar::audio::internal
