// Resource ids of the Windows programs (splitter.rc.in). Plain defines: windres reads this too.
#pragma once

// The program's icon, at 32, 48 and 64 pixels; the first icon of the file, so Explorer shows it
// for the program too.
#define SPLITTER_IDI_ICON 1
// The 400 x 200 background picture that draws the borderless window's frame.
#define SPLITTER_IDB_BACKGROUND 2
// The same, 800 x 400, drawn for twice the pixel density (192 DPI).
#define SPLITTER_IDB_BACKGROUND_2X 3
