#pragma once

// How the window's own kinds of controls appear to assistive technology (screen readers, through
// the desktop's accessibility bus), where Qt's own description of the widget would mislead:
// - the window (TMainForm) is a window, not a plain pane;
// - a click panel (TClickPanel) is a link that can be pressed while it is active, and plain text
//   otherwise; its name is its accessible name, or else its text;
// - the status band (TStatusBand) is a status bar;
// - its bar (TProgressStrip) is a progress bar whose value is the whole percent done, 0 to 100, or
//   0 of 0 (busy) for a transfer of unknown size.
// Every other control keeps Qt's own description.

namespace tarnwick {

// Installs the descriptions above for the whole program, before the first window is built.
// Window's thread only; installing more than once is harmless.
void InstallAccessibility();

}  // namespace tarnwick
