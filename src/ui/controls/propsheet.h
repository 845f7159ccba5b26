// cPropSheetChild: a scrolling sheet of properties in collapsible sections; each row is a
// selectable name on the left and a value control chosen by the row's type on the right.
// The owner fills it with setSection / setProperty and hears of input through
// cPropSheetActions carrying the section and property numbers.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "ui/controls/button.h"
#include "ui/controls/scrollable.h"
#include "ui/controls/selectable.h"
#include "ui/controls/splitter.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"

class cPicturesList;
class cEditChild;

class cPropSheetChild : public cScrollableElement {
public:
    // Row types: the value control and whether an action button follows it.
    enum ePropTypes {
        ptText = 0,        // static text
        ptTextButton = 1,  // static text and action button
        ptLink = 2,        // link
        ptEdit = 3,        // editable edit
        ptEditROButton = 4,// read-only edit and action button
        ptEditRO = 5,      // read-only edit
        ptCombo = 6        // list-only combo box
    };
    // Codes of cPropSheetAction.
    enum eSheetActions { eActSelected = 6, eActButton = 7, eActLink = 8, eActActivated = 9, eActComboChanged = 10 };

    struct sSectProp {
        int section = 0;
        int property = 0;
    };
    class cPropSheetAction : public cChildAction {
    public:
        cPropSheetAction(int type, int section, int property) : cChildAction(type), section(section), property(property) {}
        int section, property;
    };

    // One row. The value control is owned; the button is attached only for types 1 and 4.
    struct sPropertyDescr {
        cSelectableElement name;
        _guardchar<char> description;
        int type = ptText;
        void* assoc = nullptr;
        cChildElement* value = nullptr;
        cButtonChild button;
        ~sPropertyDescr() { delete value; }
    };

    // The values panel: value controls are drawn on theme colour 14.
    class cWTPanelChild : public cPanelChild {
    public:
        bool onBackgroundRequest(cCanvas* canvas, sRect* rect) override;
    };

    // A section's header bar: collapse button and bold title.
    class cSectionHeaderChild : public cStaticElement {
    public:
        void setTitle(const char* text);
        void setBtHint(const char* text);
        void refImage(cPicture* picture);
        cButtonChild* button() { return &myButton; }
        cStaticElement* title() { return &myTitle; }
        const char* wantLangResource() override { return "ciom::propsheet"; }
        void onInitData() override;

    private:
        cButtonChild myButton;
        cStaticElement myTitle;
    };

    // A section: header, then names and values side by side under a splitter.
    class cSectionChild : public cChildElement {
    public:
        // Lays the rows out; the section's height.
        int rebuildSect(bool header);
        cSectionHeaderChild* header() { return &myHeader; }
        cSplitterChild* splitter() { return &mySplitter; }
        bool collapsed() const { return myCollapsed; }

        void onSizeChanged() override;
        bool onAction(cChildElement* sender, cChildAction* action) override;
        void onInitData() override;
        bool wantAcceptFoucs() override { return false; }

    private:
        friend class cPropSheetChild;
        void splitEvenly();

        cSectionHeaderChild myHeader;
        cSplitterChild mySplitter;
        cPanelChild myNames;
        cWTPanelChild myValues;
        cFasterTreeList<cChildElement*, sSectProp> myNameMap;
        cFasterTreeList<cChildElement*, sSectProp> myButtonMap;
        cFasterTreeList<cChildElement*, sSectProp> myComboMap;
        cFasterTreeList<cChildElement*, sSectProp> myLinkMap;
        cFasterTreeList<int, sPropertyDescr> myProps;
        bool myCollapsed = false;
        bool myShowHints = false;
    };

    cPropSheetChild() {}
    ~cPropSheetChild() override;

    void startChanges();
    void endChanges();
    void build();
    void setSectColor(unsigned int colour);
    void setSectFrameColor(unsigned int colour);
    unsigned int sectColor() const { return mySectColour; }
    unsigned int sectFrameColor() const { return mySectFrame; }
    void showSections(bool on);
    void showHints(bool on);
    void setImagesList(cPicturesList* list) { myImages = list; }

    bool setSection(int section, const char* name);
    cSplitterChild* sectionSplit(int section);
    bool setProperty(int section, int property, const char* name, const char* description, const char* value,
                     ePropTypes type);
    bool setPropertyVal(int section, int property, const char* value);
    bool setPropertyVal(int section, int property, unsigned long long value, bool hex, char separator);
    bool setPropertyVal(int section, int property, int id, void* assoc, const char* text, bool select);
    bool clearPropertyVals(int section, int property);
    bool select(int section, int property, int id);
    bool selectCapt(int section, int property, bool notify);
    bool setPropertyAssoc(int section, int property, void* assoc);
    void* assoc(int section, int property);
    const char* value(int section, int property);
    long long int_value(int section, int property);
    int value_id(int section, int property);
    void* value_assoc(int section, int property);
    bool wipeVal(int section, int property);
    bool focus(int section, int property);
    using cChildElement::focus;
    bool setPropertyColor(int section, int property, unsigned int colour);
    bool setImage(int section, int property, cPicture* picture);
    bool setImage(int section, int property, int id);
    bool setSetExHint(int section, int property, const char* hint);
    cButtonChild* actionButton(int section, int property);
    cEditChild* editControl(int section, int property);
    bool hasSection(int section);
    bool hasProp(int section, int property);
    const char* sectionName(int section);
    const char* propName(int section, int property);
    const char* propDescr(int section, int property);
    bool remove(int section, int property);
    bool remove(int section);
    bool clear();

    // The section element (for tests and owners that place things by it), or null.
    cSectionChild* section(int section) { return mySections.find(section); }
    // The row's value control (the combo box itself for type 6), or null.
    cChildElement* valueControl(int section, int property);
    cSelectableElement* nameLabel(int section, int property);

    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool wantCaptureArrows() override { return true; }
    const char* wantLangResource() override { return "ciom::propsheet"; }
    void onInitData() override;
    void onPaintArea(cCanvas* canvas) override;

private:
    sPropertyDescr* prop(int section, int property);
    void relayout();
    void toggle(cSectionChild* s);
    bool moveSelection(bool down);

    bool myInChanges = false;
    bool myPending = false;
    bool myShowSections = true;
    bool myShowHints = false;
    unsigned int mySectColour = 0;
    unsigned int mySectFrame = 0;
    cPicturesList* myImages = nullptr;
    cFasterTreeList<int, cSectionChild> mySections;
};
