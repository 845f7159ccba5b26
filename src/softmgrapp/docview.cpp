// The document area: the scrolling document viewer on a white page.
#include "softmgrapp/docview.h"

#include "cihlpdoc/sidocbox.h"
#include "cihlpview/sidocviewer.h"

cChildElement* makeDocumentView(cChildElement* parent, cSiDocContainer* doc) {
    cSiDocViewer* view = new cSiDocViewer;
    if (parent) parent->attach(view, 0, 0, 10, 10);
    view->refSiDoc(doc, 0xFFFFFF);
    return view;
}
