// The application icon, built into the program (the window icon and the manager's own
// entry in its list).
#pragma once

// Its side in pixels.
const int kAppIconDim = 128;

// The icon: kAppIconDim x kAppIconDim pixels 0xAARRGGBB, rows top-down.
const unsigned int* iconColorData();
