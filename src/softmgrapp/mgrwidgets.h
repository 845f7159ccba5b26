// The manager's meeting points with the file-properties readers and the description
// and picture controls: one function or class each, so that the real ones replace them
// here without touching the forms.
#pragma once

#include "ciplatform/picture.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"

// A package's icon at dim x dim (scaled, alpha kept) from its icon file; false when the
// file cannot be read or decoded. Today the picture factory decodes the file directly.
bool loadPackageIcon(const char* path, int dim, cPicture& out);

// The built-in icon at dim x dim, made from the application's 128 x 128 icon.
bool builtinIcon(int dim, cPicture& out);

// Scales top-down 0xAARRGGBB pixels by area averaging.
bool scalePicture(const cPicture& from, int w, int h, cPicture& out);

// The bordered text area with a title (the what's-new text of the update form). Today a
// framed panel with a title line and a wrapped text.
class cMgrDescriptionArea : public cPanelChild {
public:
    void setColours(unsigned int border, unsigned int background, unsigned int text);
    void setTitleSpacing(int spacing);
    void setTitle(const char* title);
    void setBody(const char* text);
    const char* title() { return myTitle ? myTitle->text() : nullptr; }
    const char* body() { return myBody ? myBody->text() : nullptr; }
    void onConstruct() override;

private:
    void place();
    cStaticElement* myTitle = nullptr;
    cStaticElement* myBody = nullptr;
    int mySpacing = 0;
    unsigned int myText = 0x734D32;
};

// The picture element showing one picture (not owned) centred; transparent.
class cMgrPictureElement : public cChildElement {
public:
    void setPicture(cPicture* picture);
    cPicture* picture() const { return myPicture; }
    void onPaint(cCanvas* canvas) override;

private:
    cPicture* myPicture = nullptr;
};
