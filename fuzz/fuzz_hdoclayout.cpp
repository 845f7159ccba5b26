// libFuzzer target: documents the loader accepts, laid out and drawn as the viewer does
// (a band of rows painted, the rest measured), with their link zones.
#include <cstddef>
#include <cstdint>

#include "cihlpdoc/sidocloader.h"
#include "ciplatform/canvas.h"

namespace {

struct cZones : cSiDocActiveTarget {
    void resetActive() override {}
    bool setActive(char*, int, int, int, int) override { return true; }
};

// Boxes of a tree, counted without recursion, stopping past the limit.
long long countBoxes(cSiDocContainer* root, long long limit) {
    cSiDocContainer* stack[kSiDocMaxNesting + 2];
    _List<cPtr<cSiDocBox> >::sItem* at[kSiDocMaxNesting + 2];
    int depth = 0;
    long long n = 0;
    stack[0] = root;
    at[0] = root->children().head;
    while (depth >= 0 && n <= limit) {
        _List<cPtr<cSiDocBox> >::sItem* it = at[depth];
        if (!it) {
            depth--;
            continue;
        }
        at[depth] = it->next;
        n++;
        cSiDocContainer* c = dynamic_cast<cSiDocContainer*>(it->value.ptr);
        if (c && depth + 1 < kSiDocMaxNesting + 2) {
            stack[++depth] = c;
            at[depth] = c->children().head;
        }
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cSiDocLoader loader;
    if (!loader.load(data, (long long)size)) return 0;
    cCanvas canvas(160, 200);
    cZones zones;
    for (int lang = 0; lang <= 10; lang++) {
        cSiDocContainer* root = loader.forLang(lang);
        // Layout time grows with boxes times nesting; keep each run short.
        if (!root || countBoxes(root, 4000) > 4000) continue;
        sSiDocDrawProps props;
        props.rightLimit = 160;
        props.activeTarget = &zones;
        long long work = 0;
        props.work = &work;
        sSize size;
        root->wantsSize(&canvas, props, size);
        props.y = -100;
        props.paintTop = 0;
        props.paintBottom = 200;
        root->draw(&canvas, props, size);
    }
    return 0;
}
