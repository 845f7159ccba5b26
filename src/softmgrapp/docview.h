// The document area of the wizard's welcome, notes and licence pages. The pages see
// only this factory, so the viewer behind it can change without touching them.
#pragma once

class cChildElement;
class cSiDocContainer;

// Creates the element that shows a compiled document (the scenario keeps the document;
// the element only refers to it), attached to `parent`; the caller places it. A null
// document gives an empty white area.
cChildElement* makeDocumentView(cChildElement* parent, cSiDocContainer* doc);
