// The embedded preview that raw files carry (a JPEG, or a whole TIFF), decoded whole or scaled
// while decoding.
#pragma once

#include "picts/pictbase.h"

// Decodes the JPEG stored at [offset, offset + length) of io into target. Without bounds
// (null or not positive), or with bounds at least the JPEG's size, the whole JPEG is
// decoded; otherwise it is rendered while decoding into an 8-bit picture fitted within
// maxWidth x maxHeight (aspect kept, never enlarged). The bounds receive the size given.
// False for an empty window, bytes that are not a JPEG we decode, or a failed decode.
bool rawJpegPreview(cFileIOTarget* io, unsigned long long offset, unsigned long long length, cPictBase* target,
                    long long* maxWidth, long long* maxHeight);
// The same for a whole TIFF that starts at offset of io and runs to its end (its offsets
// count from there); false unless that window is a TIFF we decode.
bool rawTiffPreview(cFileIOTarget* io, unsigned long long offset, cPictBase* target, long long* maxWidth,
                    long long* maxHeight);
