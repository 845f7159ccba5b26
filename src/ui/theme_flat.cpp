// The flat theme: light surfaces, dark ink and one blue accent. Every number the
// controls read is listed here with its meaning; pictures are drawn by themedraw.
#include "ui/theme.h"
#include "ui/themedraw.h"

namespace {

// Colours are 0x00BBGGRR; rgb() keeps the table readable as the usual #RRGGBB.
constexpr unsigned int rgb(unsigned int hex) {
    return ((hex & 0xFF) << 16) | (hex & 0xFF00) | ((hex >> 16) & 0xFF);
}

const sCIThemeDimension kDimensions[cCITheme::kDimensions] = {
    // value, minimum, maximum
    {10, 4, 32},     // 0  form margin
    {6, 2, 16},      // 1  spacing between controls
    {22, 18, 40},    // 2  standard control height
    {5, 0, 32},      // 3  top tool bar: distance from the form's top
    {5, 0, 32},      // 4  top tool bar: distance from the form's sides
    {28, 20, 48},    // 5  top tool bar height
    {20, 16, 40},    // 6  list row height
    {28, 20, 48},    // 7  bottom button row height
    {5, 0, 32},      // 8  bottom button row: distance from the form's bottom
    {10, 0, 32},     // 9  bottom button row: distance from the form's right edge
    {13, 11, 24},    // 10 check box size
    {16, 12, 32},    // 11 tree indent per level
    {4, 2, 12},      // 12 hint text padding
    {24, 18, 40},    // 13 tab height
    {5, 3, 12},      // 14 splitter thickness
    {2, 0, 8},       // 15 edit text padding
    {24, 16, 64},    // 16 tool button minimum width
    {20, 16, 40},    // 17 popup item height
    {1, 0, 4},       // 18 control border width
    {15, 10, 32},    // 19 scroll bar thickness
    {30, 20, 64},    // 20 scroll bar length up to which only the small arrows show
    {48, 30, 96},    // 21 scroll bar length up to which only the arrows show
    {12, 8, 32},     // 22 shortest thumb, and shortest scroll bar
    {22, 16, 40},    // 23 column header height
    {22, 16, 40},    // 24 property sheet section header height
};

const unsigned int kColours[cCITheme::kColors] = {
    rgb(0xF3F5F8),  // 0  form background (labels and status lines sit on it)
    rgb(0xF3F5F8),  // 1  panel background
    rgb(0x2F80ED),  // 2  accent
    rgb(0x1F6AD1),  // 3  accent, dark
    rgb(0x1F2933),  // 4  text
    rgb(0x9AA5B1),  // 5  disabled text, empty-list message
    rgb(0x111827),  // 6  title text
    rgb(0x1F6AD1),  // 7  link text
    rgb(0x9AA5B1),  // 8  edit banner text
    rgb(0xFFFFFF),  // 9  selected item text
    rgb(0xFFFFFF),  // 10 selected edit text
    rgb(0xFFFDF2),  // 11 hint background
    rgb(0xC9D2DC),  // 12 hint frame
    rgb(0x1F2933),  // 13 hint text
    rgb(0xFFFFFF),  // 14 control background
    rgb(0xEAF2FD),  // 15 hover background
    rgb(0x2F80ED),  // 16 selected item background (focused)
    rgb(0x2F80ED),  // 17 edit selection (focused)
    rgb(0xDCE3EA),  // 18 selection without focus
    rgb(0xE4E9EF),  // 19 grid lines
    rgb(0xFFFFFF),  // 20 item frame, normal (flat: none visible)
    rgb(0xC9D2DC),  // 21 control frame
    rgb(0x8DB8F0),  // 22 item frame, hover
    rgb(0x2F80ED),  // 23 focus ring
    rgb(0x1F2933),  // 24 selected item text without focus
    rgb(0x1F6AD1),  // 25 selected item frame (focused)
    rgb(0xC3CDD8),  // 26 selected item frame without focus
    rgb(0xFFFFFF),  // 27 edit background: normal; navigation bar
    rgb(0xF7FAFE),  // 28 edit background: hover; read-only value frames
    rgb(0xFFFFFF),  // 29 edit background: focused
    rgb(0xF0F2F5),  // 30 edit background: disabled
    rgb(0xF7F9FB),  // 31 edit background: alternate
    rgb(0xC9D2DC),  // 32 edit frame: normal
    rgb(0x8DB8F0),  // 33 edit frame: hover
    rgb(0x2F80ED),  // 34 edit frame: focused
    rgb(0xDDE3E9),  // 35 edit frame: disabled
    rgb(0xC9D2DC),  // 36 edit frame: alternate
    rgb(0x2F80ED),  // 37 progress fill, start
    rgb(0x5B9BF2),  // 38 progress fill, end
    rgb(0xE4E9EF),  // 39 progress track
    rgb(0xF3F5F8),  // 40 tool bar background
    rgb(0xE4ECF7),  // 41 tool bar button hover
    rgb(0xF3F5F8),  // 42 splitter outer bands
    rgb(0xC9D2DC),  // 43 splitter middle line
    rgb(0xC9D2DC),  // 44 description area frame
    rgb(0xFFFFFF),  // 45 description area background
    rgb(0xD5DCE4),  // 46 property section frame
    rgb(0xE9EEF4),  // 47 property section header
    rgb(0xFFFFFF),  // 48 property sheet background
    rgb(0x1F2933),  // 49 property section title
    rgb(0x1F2933),  // 50 property name and value text
    rgb(0xFFFFFF),  // 51 property name and value background
    rgb(0xFFFFFF),  // 52 inner line of raised 3D borders
    rgb(0xC9D2DC),  // 53 button light edge: normal
    rgb(0xB4BFCB),  // 54 button dark edge: normal
    rgb(0x2F80ED),  // 55 button light edge: focused
    rgb(0x1F6AD1),  // 56 button dark edge: focused
    rgb(0x8DB8F0),  // 57 button light edge: hover and pressed
    rgb(0x5B9BF2),  // 58 button dark edge: hover and pressed
    rgb(0xDDE3E9),  // 59 button light edge: disabled
    rgb(0xDDE3E9),  // 60 button dark edge: disabled
    rgb(0x1F3A5F),  // 61 message box first line
};

// Glyph arguments: kind | state << 8 | direction << 12 | on.
constexpr int G(int kind, int state = 0, int dir = 0, bool on = false) {
    return kind | (state << 8) | (dir << 12) | (on ? 0x4000 : 0);
}
// Scroll pieces: piece | state << 8 | vertical << 12.
constexpr int S(int piece, int state, bool vertical) { return piece | (state << 8) | (vertical ? 0x1000 : 0); }

#define GL(w, h, arg) {w, h, drawGlyph, arg, 0}
#define SC(w, h, arg) {w, h, drawScrollPiece, arg, 0}
#define BF(w, h, state) {w, h, drawButtonFace, state, 0}
#define SOLID(argb) {1, 1, nullptr, 0, argb}

// A horizontal piece is `len` long and 15 high; a vertical one 15 wide and `len` high.
#define HS(len, piece, state) SC(len, 15, S(piece, state, false))
#define VS(len, piece, state) SC(15, len, S(piece, state, true))

const sCIThemePicture kPictures[cCITheme::kPictures] = {
    GL(9, 9, G(tgArrow, 0, 0)),            // 0  arrow left
    GL(9, 9, G(tgArrow, 0, 1)),            // 1  arrow up
    GL(9, 9, G(tgArrow, 0, 2)),            // 2  arrow right
    GL(9, 9, G(tgArrow, 0, 3)),            // 3  arrow down
    GL(9, 9, G(tgArrow, 3, 0)),            // 4  arrow left, disabled
    GL(9, 9, G(tgArrow, 3, 1)),            // 5  arrow up, disabled
    GL(9, 9, G(tgArrow, 3, 2)),            // 6  arrow right, disabled
    GL(9, 9, G(tgArrow, 3, 3)),            // 7  arrow down, disabled
    GL(9, 9, G(tgArrow, 1, 0)),            // 8  arrow left, hover
    GL(9, 9, G(tgArrow, 1, 1)),            // 9  arrow up, hover
    GL(9, 9, G(tgArrow, 1, 2)),            // 10 arrow right, hover
    GL(9, 9, G(tgArrow, 1, 3)),            // 11 arrow down, hover
    GL(13, 13, G(tgRadio)),                // 12 radio button
    GL(13, 13, G(tgRadio, 0, 0, true)),    // 13 radio button, selected
    GL(13, 13, G(tgRadio, 3)),             // 14 radio button, disabled
    GL(13, 13, G(tgRadio, 3, 0, true)),    // 15 radio button, selected, disabled
    GL(9, 9, G(tgPlus)),                   // 16 plus
    GL(9, 9, G(tgMinus)),                  // 17 minus
    GL(10, 10, G(tgClose)),                // 18 close cross
    GL(6, 12, G(tgGrip)),                  // 19 splitter grip
    GL(16, 16, G(tgSearch)),               // 20 search
    GL(16, 16, G(tgGear)),                 // 21 settings
    GL(16, 16, G(tgRefresh)),              // 22 refresh
    BF(2, 24, 0),                          // 23 button face: normal
    BF(2, 24, 1),                          // 24 button face: focused
    BF(2, 24, 2),                          // 25 button face: hover
    BF(2, 24, 3),                          // 26 button face: pressed
    BF(2, 24, 4),                          // 27 button face: disabled
    GL(9, 9, G(tgArrow, 0, 3)),            // 28 combo box drop button arrow
    GL(12, 12, G(tgEllipsis)),             // 29 "change value" button of property sheets
    GL(13, 13, G(tgCheckBox)),             // 30 check box
    GL(13, 13, G(tgCheckBox, 0, 0, true)), // 31 check box, checked
    GL(13, 13, G(tgCheckBox, 1)),          // 32 check box, focused
    GL(13, 13, G(tgCheckBox, 1, 0, true)), // 33 check box, focused, checked
    GL(13, 13, G(tgCheckBox, 3)),          // 34 check box, disabled
    GL(13, 13, G(tgCheckBox, 3, 0, true)), // 35 check box, disabled, checked
    GL(16, 16, G(tgArrow, 0, 0)),          // 36 large arrow left
    GL(16, 16, G(tgArrow, 0, 1)),          // 37 large arrow up
    GL(16, 16, G(tgArrow, 0, 2)),          // 38 large arrow right
    GL(16, 16, G(tgArrow, 0, 3)),          // 39 large arrow down
    GL(16, 16, G(tgBack)),                 // 40 back
    GL(16, 16, G(tgForward)),              // 41 forward
    GL(18, 18, G(tgComputer)),             // 42 computer (root of the folder tree)
    GL(18, 18, G(tgDrive)),                // 43 drive, file system
    GL(18, 18, G(tgDriveRemovable)),       // 44 removable or network file system
    GL(18, 18, G(tgFileText)),             // 45 text file
    GL(18, 18, G(tgPicture)),              // 46 picture file
    GL(18, 18, G(tgFolderOpen)),           // 47 open folder
    GL(18, 18, G(tgFolder)),               // 48 folder
    GL(18, 18, G(tgPackage)),              // 49 package
    GL(18, 18, G(tgHome)),                 // 50 home folder
    GL(18, 18, G(tgPlaces)),               // 51 places
    GL(18, 18, G(tgUser)),                 // 52 user
    GL(18, 18, G(tgGlobe)),                // 53 web address
    GL(18, 18, G(tgLock)),                 // 54 locked
    GL(18, 18, G(tgDownload)),             // 55 download
    GL(18, 18, G(tgTrash)),                // 56 removal
    GL(18, 18, G(tgClock)),                // 57 date
    GL(18, 18, G(tgDocLines)),             // 58 document
    GL(18, 18, G(tgGear)),                 // 59 settings
    GL(18, 18, G(tgFile)),                 // 60 file
    GL(18, 18, G(tgUp)),                   // 61 parent folder
    GL(18, 18, G(tgSearch)),               // 62 search
    GL(18, 18, G(tgLink)),                 // 63 link or other object
    GL(18, 18, G(tgInfo)),                 // 64 information, small
    GL(18, 18, G(tgWarning)),              // 65 warning, small
    GL(9, 9, G(tgPlusBox)),                // 66 section collapsed: click to expand
    GL(9, 9, G(tgMinusBox)),               // 67 section expanded: click to hide
    GL(16, 16, G(tgPlusBox)),              // 68 tree: collapsed branch (expand glyph)
    GL(16, 16, G(tgMinusBox)),             // 69 tree: expanded branch (collapse glyph)
    GL(16, 16, G(tgTreeLine)),             // 70 tree: leaf with a following sibling
    GL(16, 16, G(tgTreeLineEnd)),          // 71 tree: last leaf
    GL(5, 10, G(tgDropArrow)),             // 72 tool bar overflow drop-down arrow
    GL(27, 27, G(tgInfo)),                 // 73 message box: information
    GL(27, 27, G(tgQuestion)),             // 74 message box: question
    GL(27, 27, G(tgWarning)),              // 75 message box: warning
    GL(27, 27, G(tgError)),                // 76 message box: error
    GL(16, 16, G(tgOk)),                   // 77 OK, Yes, Accept
    GL(16, 16, G(tgCancel)),               // 78 Cancel, No, Stop
    GL(16, 16, G(tgStop)),                 // 79 stop
    GL(16, 16, G(tgOpen)),                 // 80 open
    GL(16, 16, G(tgSave)),                 // 81 save
    GL(16, 16, G(tgHome)),                 // 82 home
    GL(16, 16, G(tgPlaces)),               // 83 places
    GL(16, 16, G(tgNewFolder)),            // 84 new folder
    SOLID(0xFF2F80ED),                     // 85 accent (solid)
    SOLID(0xFFF1F3F6),                     // 86 corner between two scroll bars (solid)
    // Horizontal scroll bar: end pieces take 1 + 14 + 5 + 2 + 5 + 14 = 41 pixels.
    HS(1, spEndCap, 0),                    // 87 end cap at the start
    HS(1, spTrack, 0),                     // 88 track
    HS(1, spTrack, 1),                     // 89 track, hover
    HS(1, spTrack, 2),                     // 90 track, pressed
    HS(1, spThumbMiddle, 0),               // 91 thumb middle
    HS(1, spThumbMiddle, 1),               // 92 thumb middle, hover
    HS(1, spThumbMiddle, 2),               // 93 thumb middle, pressed
    HS(3, spThumbStart, 0),                // 94 thumb start cap
    HS(3, spThumbStart, 1),                // 95 thumb start cap, hover
    HS(3, spThumbStart, 2),                // 96 thumb start cap, pressed
    HS(3, spThumbEnd, 0),                  // 97 thumb end cap
    HS(3, spThumbEnd, 1),                  // 98 thumb end cap, hover
    HS(3, spThumbEnd, 2),                  // 99 thumb end cap, pressed
    HS(14, spArrowStart, 0),               // 100 left arrow button
    HS(14, spArrowStart, 1),               // 101 left arrow button, hover
    HS(14, spArrowStart, 2),               // 102 left arrow button, pressed
    HS(14, spArrowEnd, 0),                 // 103 right arrow button
    HS(14, spArrowEnd, 1),                 // 104 right arrow button, hover
    HS(14, spArrowEnd, 2),                 // 105 right arrow button, pressed
    HS(5, spJoint, 0),                     // 106 joint beside an arrow
    HS(5, spJoint, 1),                     // 107 joint, hover
    HS(5, spJoint, 2),                     // 108 joint, pressed
    HS(2, spSeparator, 0),                 // 109 separator between the arrows
    HS(6, spSmallStart, 0),                // 110 small left arrow
    HS(6, spSmallStart, 1),                // 111 small left arrow, hover
    HS(6, spSmallStart, 2),                // 112 small left arrow, pressed
    HS(6, spSmallEnd, 0),                  // 113 small right arrow
    HS(6, spSmallEnd, 1),                  // 114 small right arrow, hover
    HS(6, spSmallEnd, 2),                  // 115 small right arrow, pressed
    // Vertical scroll bar: the same pieces turned.
    VS(1, spEndCap, 0),                    // 116 end cap at the top
    VS(1, spTrack, 0),                     // 117 track
    VS(1, spTrack, 1),                     // 118 track, hover
    VS(1, spTrack, 2),                     // 119 track, pressed
    VS(1, spThumbMiddle, 0),               // 120 thumb middle
    VS(1, spThumbMiddle, 1),               // 121 thumb middle, hover
    VS(1, spThumbMiddle, 2),               // 122 thumb middle, pressed
    VS(3, spThumbStart, 0),                // 123 thumb top cap
    VS(3, spThumbStart, 1),                // 124 thumb top cap, hover
    VS(3, spThumbStart, 2),                // 125 thumb top cap, pressed
    VS(3, spThumbEnd, 0),                  // 126 thumb bottom cap
    VS(3, spThumbEnd, 1),                  // 127 thumb bottom cap, hover
    VS(3, spThumbEnd, 2),                  // 128 thumb bottom cap, pressed
    VS(14, spArrowStart, 0),               // 129 up arrow button
    VS(14, spArrowStart, 1),               // 130 up arrow button, hover
    VS(14, spArrowStart, 2),               // 131 up arrow button, pressed
    VS(14, spArrowEnd, 0),                 // 132 down arrow button
    VS(14, spArrowEnd, 1),                 // 133 down arrow button, hover
    VS(14, spArrowEnd, 2),                 // 134 down arrow button, pressed
    VS(5, spJoint, 0),                     // 135 joint beside an arrow
    VS(5, spJoint, 1),                     // 136 joint, hover
    VS(5, spJoint, 2),                     // 137 joint, pressed
    VS(2, spSeparator, 0),                 // 138 separator between the arrows
    VS(6, spSmallStart, 0),                // 139 small up arrow
    VS(6, spSmallStart, 1),                // 140 small up arrow, hover
    VS(6, spSmallStart, 2),                // 141 small up arrow, pressed
    VS(6, spSmallEnd, 0),                  // 142 small down arrow
    VS(6, spSmallEnd, 1),                  // 143 small down arrow, hover
    VS(6, spSmallEnd, 2),                  // 144 small down arrow, pressed
    GL(6, 6, G(tgSegment)),                // 145 navigation bar segment separator
    GL(6, 6, G(tgSegment, 1)),             // 146 navigation bar segment separator, active
    GL(16, 16, G(tgBack, 3)),              // 147 back, disabled
    GL(16, 16, G(tgForward, 3)),           // 148 forward, disabled
    GL(16, 16, G(tgUp)),                   // 149 parent folder
    GL(16, 16, G(tgTrash)),                // 150 remove
    GL(16, 16, G(tgDownload)),             // 151 download
    GL(16, 16, G(tgGlobe)),                // 152 web address
    GL(16, 16, G(tgLock)),                 // 153 locked
    GL(16, 16, G(tgClock)),                // 154 date
    GL(16, 16, G(tgPackage)),              // 155 package
    GL(16, 16, G(tgUser)),                 // 156 user
};

}  // namespace

const sCIThemeTable gCI_Flat_ThemeTable = {kDimensions, kColours, kPictures};

cCITheme gCI_Flat_Theme(&gCI_Flat_ThemeTable);
