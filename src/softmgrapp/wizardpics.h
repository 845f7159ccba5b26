// The wizard's built-in pictures (drawn by scripts/mkwizardpics.py in the flat theme's
// colours and kept as PNG files in the program).
#pragma once

class cPicture;
class cPicturesList;

// The 636 x 443 background; false when it cannot be decoded.
bool loadWizardBackground(cPicture& out);
// Ids 1 to 7: the step numbers; 20 a completed step; 21 the current step (16 x 14).
bool loadStepIcons(cPicturesList& list);
// The 29 x 22 folder of the target folder page.
bool loadFolderPicture(cPicture& out);
