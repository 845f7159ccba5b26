// The manager's package icons: read through the file-properties readers and scaled.
#pragma once

#include "ciplatform/picture.h"

// A package's icon at dim x dim (scaled, alpha kept) from its icon file; false when the
// file cannot be read or decoded.
bool loadPackageIcon(const char* path, int dim, cPicture& out);

// The built-in icon at dim x dim, made from the application's 128 x 128 icon.
bool builtinIcon(int dim, cPicture& out);

// Scales top-down 0xAARRGGBB pixels by area averaging, colour weighted by alpha: unlike
// cPicture::stretchTo, which averages each channel alone, the transparent black around an
// icon does not darken its soft edges.
bool scalePicture(const cPicture& from, int w, int h, cPicture& out);
