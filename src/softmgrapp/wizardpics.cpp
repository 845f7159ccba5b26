// Decodes the wizard's built-in PNG pictures.
#include "softmgrapp/wizardpics.h"

#include "ciplatform/picture.h"

namespace {
#include "softmgrapp/wizardpics.inc"
}  // namespace

bool loadWizardBackground(cPicture& out) { return out.create(kWizardBgPng, sizeof kWizardBgPng); }

bool loadStepIcons(cPicturesList& list) {
    struct Icon {
        int id;
        const unsigned char* png;
        unsigned int size;
    } icons[] = {{1, kStepIcon1Png, sizeof kStepIcon1Png}, {2, kStepIcon2Png, sizeof kStepIcon2Png},
                 {3, kStepIcon3Png, sizeof kStepIcon3Png}, {4, kStepIcon4Png, sizeof kStepIcon4Png},
                 {5, kStepIcon5Png, sizeof kStepIcon5Png}, {6, kStepIcon6Png, sizeof kStepIcon6Png},
                 {7, kStepIcon7Png, sizeof kStepIcon7Png}, {20, kStepDonePng, sizeof kStepDonePng},
                 {21, kStepCurrentPng, sizeof kStepCurrentPng}};
    bool ok = true;
    for (const Icon& i : icons) {
        cPicture* p = new cPicture;
        if (!p->create(i.png, i.size)) {
            delete p;
            ok = false;
            continue;
        }
        list.storeImage(i.id, p);
    }
    return ok;
}

bool loadFolderPicture(cPicture& out) { return out.create(kFolderPng, sizeof kFolderPng); }
