// cPictureElement: one picture at the top-left corner, with rectangular active zones
// (pointing hand, a click reported as a cActiveZoneAction) and hint zones (a hint shown
// while the pointer rests in one); the picture is also its children's background.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/lists.h"
#include "ciplatform/picture.h"
#include "ui/childelement.h"

class cHintMaster;

class cPictureElement : public cChildElement {
public:
    // A zone as left, top, right, bottom, right and bottom inclusive.
    struct sZoneHint {
        int left = 0, top = 0, right = -1, bottom = -1;
        _guardchar<char> text;  // UTF-8, lines separated by line feeds
        int placement = 0;      // 1: above the zone, else below
    };
    // Type 6: the left button was released over active zone `zone`.
    class cActiveZoneAction : public cChildAction {
    public:
        explicit cActiveZoneAction(int zone) : cChildAction(6), zone(zone) {}
        int zone;
    };

    cPictureElement() {}
    ~cPictureElement() override;

    // Shows picture by reference (the caller keeps it alive while shown) and drops the
    // owned copy; false, changing nothing, for null or a picture without pixels. No repaint.
    bool refPict(cPicture* picture);
    // Replaces the owned copy by a picture decoded from resource bytes; on failure no
    // picture is shown and the result is false.
    bool setPict(const unsigned char* data, unsigned int size);
    // The same from 0xAARRGGBB pixels with rows as picture decoders keep them (bottom-up;
    // top-down when __bmp_res_inversed is set), so a decoded icon shows upright.
    bool setPict(const unsigned int* pixels, int width, int height);
    cPicture* picture() const { return myShown; }

    // Defines or moves active zone id (x, y, w, h); the current zone is forgotten when it is id.
    bool setActive(int id, int x, int y, int w, int h);
    // Defines or redefines hint zone id; a shown hint is closed.
    bool setHint(int id, int x, int y, int w, int h, const char* text, int placement);
    // Changes text and placement of an existing hint zone (false when none); closes a shown hint.
    bool setHint(int id, const char* text, int placement);

    int currentZone() const { return myZone; }
    int currentHintZone() const { return myHintZone; }
    cHintMaster* shownHint() const { return myHint; }

    void onPaint(cCanvas* canvas) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* rect) override;
    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    void onMouseLeft() override;
    bool wantTabStop() override { return false; }
    void onInitData() override;

private:
    struct sArea {
        int left = 0, top = 0, right = -1, bottom = -1;
    };
    int activeAt(int x, int y);
    void closeHint();

    cPicture* myShown = nullptr;
    cPtr<cPicture> myOwned;
    cFasterTreeList<int, sArea> myActive;
    cFasterTreeList<int, sZoneHint> myHints;
    int myZone = -1;
    int myHintZone = -1;
    cHintMaster* myHint = nullptr;
};
