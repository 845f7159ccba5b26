// The document area as a plain white panel with the document's text wrapped in it.
#include "softmgrapp/docview.h"

#include <string>
#include <vector>

#include "base/buffers.h"
#include "cihlpdoc/sidocbox.h"
#include "ciplatform/canvas.h"
#include "softmgrapp/appcontrols.h"
#include "ui/childelement.h"

namespace {

class cPlainDocView : public cChildElement {
public:
    _guardchar<char> body;
    void onPaint(cCanvas* canvas) override {
        sRect all = {0, 0, width(), height()};
        canvas->drawRect(&all, 0xFFFFFF, 0xFFFFFF);
        if (body.empty()) return;
        canvas->setTextMode(mkStdFont());
        canvas->setTextColors(0x655654, 0xFFFFFF);
        sSize used;
        canvas->drawTextWrapped(10, 8, width() - 20, height() - 16, cCanvas::taLeft, body.ptr, used);
    }
    bool wantDoubleBuffer() override { return true; }
};

}  // namespace

void documentPlainText(cSiDocContainer* doc, _guardchar<char>& out) {
    std::string text;
    // Depth-first without recursion: a document may nest containers arbitrarily deep.
    std::vector<cSiDocBox*> stack;
    if (doc) stack.push_back(doc);
    while (!stack.empty() && text.size() < (1u << 20)) {
        cSiDocBox* box = stack.back();
        stack.pop_back();
        if (box->isBreak() && !text.empty() && text.back() != '\n') text += '\n';
        if (cSiDocContainer* c = dynamic_cast<cSiDocContainer*>(box)) {
            std::vector<cSiDocBox*> kids;
            for (auto* it = c->children().head; it; it = it->next)
                if (it->value.ptr) kids.push_back(it->value.ptr);
            for (auto k = kids.rbegin(); k != kids.rend(); ++k) stack.push_back(*k);
        } else if (cSiDocText* t = dynamic_cast<cSiDocText*>(box)) {
            // Words are boxes of their own: a blank between neighbours on a line.
            if (t->text() && *t->text()) {
                if (!text.empty() && text.back() != '\n' && text.back() != ' ') text += ' ';
                text += t->text();
            }
        }
    }
    out.set(text.c_str());
}

cChildElement* makeDocumentView(cChildElement* parent, cSiDocContainer* doc) {
    cPlainDocView* view = new cPlainDocView;
    documentPlainText(doc, view->body);
    if (parent) parent->attach(view, 0, 0, 10, 10);
    return view;
}
