#pragma once

// The interface files of the video editor: "PelmarVideoEditor", "CoverSelectorController" and
// "CoverSelectorTableCell", with their views, outlets and actions.
// Threads: thread-safe (registration happens once).

namespace pelmar::editor::internal {

// Registers the builders with ui::Nib (once per process).
void registerEditorNibs();

}  // namespace pelmar::editor::internal
