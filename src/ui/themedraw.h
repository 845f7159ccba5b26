// Pictures drawn in code for the theme and the language flags. Every routine fills a
// w x h buffer of top-down 0xAARRGGBB pixels that the caller cleared to transparent.
#pragma once

// Glyph kinds for drawGlyph's argument (low byte), with the state in bits 8..11
// (0 normal, 1 hover or focused, 2 pressed, 3 disabled) and, for arrows, the direction
// in bits 12..13 (0 left, 1 up, 2 right, 3 down).
enum eThemeGlyph {
    tgArrow = 1,         // filled triangle
    tgCheckBox,          // box; +0x4000 checked
    tgRadio,             // circle; +0x4000 selected
    tgOk,                // check mark
    tgCancel,            // cross
    tgFolder,
    tgFolderOpen,
    tgFile,
    tgFileText,
    tgLink,              // file with a curved arrow
    tgDrive,
    tgDriveRemovable,
    tgComputer,
    tgHome,
    tgPlaces,            // star
    tgNewFolder,
    tgSave,
    tgOpen,
    tgInfo,
    tgQuestion,
    tgWarning,
    tgError,
    tgPlusBox,           // expand box
    tgMinusBox,          // collapse box
    tgTreeLine,          // vertical line with a branch
    tgTreeLineEnd,       // line ending in a branch
    tgEllipsis,          // "..." button glyph
    tgDropArrow,         // small down chevron
    tgSegment,           // navigation bar separator (chevron right)
    tgStop,
    tgRefresh,
    tgUp,                // folder up
    tgBack,
    tgForward,
    tgSearch,
    tgGrip,              // splitter grip dots
    tgClose,             // small window close cross
    tgPlus,
    tgMinus,
    tgStar,
    tgGear,
    tgDocLines,
    tgPicture,
    tgLock,
    tgGlobe,
    tgDownload,
    tgTrash,
    tgPackage,
    tgClock,
    tgUser,
};

// Scroll-bar pieces: the argument is the piece (eScrollPiece) | state << 8 | vertical << 12.
enum eScrollPiece {
    spEndCap = 0,
    spTrack,
    spThumbStart,
    spThumbEnd,
    spThumbMiddle,
    spArrowStart,
    spArrowEnd,
    spJoint,
    spSeparator,
    spSmallStart,
    spSmallEnd,
};

void drawGlyph(unsigned int* px, int w, int h, int arg);
void drawScrollPiece(unsigned int* px, int w, int h, int arg);
// Button background of a state (0 normal .. 4 disabled): a flat fill with a soft bottom.
void drawButtonFace(unsigned int* px, int w, int h, int state);
void drawLanguageFlag(unsigned int* px, int w, int h, int lang);
