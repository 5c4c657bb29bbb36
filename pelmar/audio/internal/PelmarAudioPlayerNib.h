#pragma once

// The interface file "PelmarAudioPlayer": the audio player's views, outlets and actions.
// Threads: thread-safe (registration happens once).

namespace pelmar::audio::internal {

// Registers the builder of "PelmarAudioPlayer" with ui::Nib (once per process).
void registerPelmarAudioPlayerNib();

}  // namespace pelmar::audio::internal
