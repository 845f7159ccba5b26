// The Software Manager copy: the command block every executable of this program carries,
// and writing the pristine executable (with its bundle files) for the manager's place.
//
// Command block (8192 bytes, integers little-endian). Pristine: "<ICMDBLOCK>" and zeros.
// Filled: byte 0 is 1 or 2; u32 at 260 is the block's own offset in the executable, u32
// at 264 the pristine executable's size, from 268 patch records (u32 offset, u16 length
// L, L pristine bytes) in ascending offset order, ended by offset 0xFFFFFFFF. The record
// at the block's own offset has length 0 and stands for the whole (pristine) block.
#pragma once

#include "base/fileiotarget.h"

const int kCmdBlockSize = 8192;
extern volatile unsigned char _cmdBlock[kCmdBlockSize];

// Whether this program's block is pristine.
bool isPureICmd();
// Whether a block (8192 bytes) is pristine.
bool isPureICmd(const unsigned char* block);
// Offset of the first copy of this program's pristine block in a stream (read from its
// start), or -1 (also when this program's block is not pristine).
long long findICmd(cFileIOTarget* stream);

// Writes the pristine executable `source` to `output`; when `targetFolder` (the folder
// that holds the manager executable, "<bundle>/Contents/MacOS") has a "/" and `source`
// two, also Resources/icon.icns (copied from the source's bundle), PkgInfo and
// Info.plist into the target's Contents. False on the first failure.
bool saveSoftMgr(const char* source, cFileIOTarget* output, const char* targetFolder);

// Writes the pristine form of the executable `source` whose command block reads
// `block` (8192 bytes) to `output`: a byte copy for a pristine block, the patch records
// applied for a filled one. False for any other block, a record list that is out of
// order or runs past its area, or a pristine size beyond the source.
bool writePristine(cFileIOTarget* source, const unsigned char* block, cFileIOTarget* output);
