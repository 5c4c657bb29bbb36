#pragma once

// The seven interface files of the player screen, one per controller look: the background, the
// play/pause and mute images, the progress bar and the time labels, bound to the screen's
// outlets. DEFAULT, MODERN and MINIMALIST place the controls straight in the screen's view; the
// other looks group them on a panel along the bottom.
// Threads: thread-safe (registration happens once).

namespace pelmar::player::internal {

// Registers the builders with ui::Nib (once per process).
void registerPlayerControllerNibs();

}  // namespace pelmar::player::internal
