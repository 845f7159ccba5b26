// cCustomForm: the base of forms and dialogs: a client panel, Enter and Escape handed to
// onFormAccept / onFormCancel first, and the close request through onClose.
#pragma once

#include "ui/childelement.h"

class cPanelChild;

class cCustomForm : public cChildElement {
public:
    cCustomForm();
    ~cCustomForm() override;

    // The inner panel children are attached to; it fills the form.
    cPanelChild* clientArea() { return myClient; }

    // Runs once the form and its children are constructed in their window.
    virtual void onAfterConstruct() {}
    // Enter and Escape without modifiers, whatever has the focus; true swallows the key
    // (Space is left to the focused button).
    virtual bool onFormAccept() { return false; }
    virtual bool onFormCancel() { return false; }

    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    void onPaint(cCanvas* canvas) override;
    bool wantAcceptFoucs() override { return false; }

private:
    cPanelChild* myClient;
};
