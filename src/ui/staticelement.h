// cStaticElement: the text and picture element (labels, status lines, the base of check
// boxes, links and selectable items). setText may be called from a job's thread.
#pragma once

#include "ciplatform/canvas.h"
#include "ui/childelement.h"

class cPicture;

class cStaticElement : public cChildElement {
public:
    // How the text is laid out: one line cut with "..." or wrapped at words.
    enum eTextDispMode { eTDMSingleLine = 0, eTDMWrapped = 1 };

    cStaticElement() {}

    // Takes the element's own lock, so jobs may call it; repaints through the UI thread.
    void setText(const char* text, cCanvas::eTextAlign align, bool repaint = true);
    void setText(const char* text, long long length = -1, bool repaint = true) override;
    cCanvas::eTextAlign alignment() const { return myAlign; }

    void setFont(cFontObject* font);
    cFontObject* font() const { return myFont; }
    // Colours are 0x00BBGGRR; 0xFF000000 the theme's, -1 none. Each repaints on a change only.
    void setTextColor(unsigned int colour);
    void setBgColor(unsigned int colour);
    void setFrameColor(unsigned int colour);
    void setColorSchema(unsigned int text, unsigned int background, unsigned int frame);
    unsigned int textColor() const { return myTextColour; }
    unsigned int bgColor() const { return myBgColour; }
    unsigned int frameColor() const { return myFrameColour; }
    void setTextMargin(int margin);
    int textMargin() const { return myMargin; }
    void setTextDispMode(int mode);
    int textDispMode() const { return myMode; }
    // The picture is shown left of the text; not owned.
    virtual void setImage(cPicture* picture, bool repaint = true);
    cPicture* image() const { return myImage; }

    // The size the text (one line) and the picture need, margins included.
    bool wantsSize(sSize& size);
    bool wantsSize(sSize* size) { return size && wantsSize(*size); }

    void onPaint(cCanvas* canvas) override;
    void onInitData() override;
    bool wantAcceptFoucs() override { return false; }

    // Gap between the picture and the text.
    static const int kPictureGap = 4;

private:
    cCanvas::eTextAlign myAlign = cCanvas::taLeft;
    cFontObject* myFont = nullptr;
    unsigned int myTextColour = 0xFF000000u;
    unsigned int myBgColour = 0xFF000000u;
    unsigned int myFrameColour = 0xFFFFFFFFu;
    int myMargin = 0;
    int myMode = eTDMSingleLine;
    cPicture* myImage = nullptr;
};
