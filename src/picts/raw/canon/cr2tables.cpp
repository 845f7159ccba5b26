// The per-model tables of the CR2 decoder: white level and camera-to-output matrix, and the
// masked sensor margins, keyed by the maker note's model id. Filled once per process under
// std::call_once, so decoders created on several threads at once see complete tables.
#include <mutex>

#include "picts/raw/canon/pictcr2.h"

namespace {

typedef double tMatrix[3][3];

const tMatrix kIdentity = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
// Unlisted models with an id above 0x80000000 (and listed ones whose own matrix we lack).
const tMatrix kFallbackDslr = {{1.917578, -0.957236, 0.039658},
                               {-0.054073, 1.265895, -0.211822},
                               {0.102728, -0.541266, 1.438539}};
// Compact models of a complementary-colour family.
const tMatrix kFallbackCompact = {{-2.268888, 2.888262, -2.687824},
                                  {0.851138, -0.661897, 0.147596},
                                  {-0.091639, 1.10168, 1.257355}};

struct sColorRow {
    unsigned int id;
    unsigned short white;
    const tMatrix* m;  // null: the fallback for the id
};

const tMatrix k218 = {{2.06819, -1.32034, 0.25215}, {-0.038154, 1.36546, -0.327309}, {0.035687, -0.378776, 1.34309}};
const tMatrix k285 = {{1.9644, -1.11971, 0.155311}, {-0.241156, 1.67372, -0.432566}, {0.013887, -0.54982, 1.53593}};
const tMatrix k001 = {{1.91758, -0.957236, 0.039658}, {-0.054073, 1.26589, -0.211822}, {0.102728, -0.541266, 1.43854}};
const tMatrix k167 = {{2.46953, -2.4106, 0.941076}, {-0.080818, 1.46185, -0.381036}, {0.113871, -0.579097, 1.46523}};
const tMatrix k404 = {{-1.71971, 2.36181, -2.72231}, {0.68266, -0.562744, 0.196526}, {0.168274, 0.855459, 1.17515}};
const tMatrix k114 = {{1.55039, -0.633976, 0.083589}, {-0.115432, 1.64569, -0.530264}, {0.068474, -0.49518, 1.42671}};

// In insertion order; 0x1140000 first (its presence tells the table is filled).
const sColorRow kColors[] = {
    {0x1140000, 0, &k114},     {0x1668000, 4000, nullptr},  {0x80000285, 15488, &k285}, {0x80000349, 0, &k285},
    {0x80000218, 15600, &k218}, {0x80000213, 3692, nullptr}, {0x80000382, 11000, nullptr}, {0x80000401, 11000, nullptr},
    {0x80000302, 15490, nullptr}, {0x80000406, 15490, nullptr}, {0x80000250, 13584, nullptr}, {0x80000289, 13584, nullptr},
    {0x80000325, 15490, nullptr}, {0x80000326, 13584, nullptr}, {0x80000168, 4000, nullptr}, {0x80000346, 13645, nullptr},
    {0x80000393, 13645, nullptr}, {0x80000347, 13645, nullptr}, {0x80000175, 4095, nullptr}, {0x80000234, 0, nullptr},
    {0x80000190, 16224, nullptr}, {0x80000261, 15763, nullptr}, {0x80000287, 12279, nullptr}, {0x80000170, 4000, nullptr},
    {0x80000189, 4095, nullptr}, {0x80000236, 3726, nullptr}, {0x80000176, 14605, nullptr}, {0x80000252, 10947, nullptr},
    {0x80000270, 15831, nullptr}, {0x80000286, 13584, nullptr}, {0x80000301, 13645, nullptr}, {0x80000254, 3651, nullptr},
    {0x80000288, 13584, nullptr}, {0x80000327, 13584, nullptr}, {0x80000328, 13584, nullptr}, {0x80000404, 13584, nullptr},
    {0x80000422, 13584, nullptr}, {0x80000432, 13584, nullptr}, {0x80000331, 0, nullptr},     {0x80000215, 15280, nullptr},
    {0x80000188, 3712, nullptr}, {0x80000281, 15280, nullptr}, {0x80000169, 15280, nullptr}, {0x80000232, 3712, nullptr},
    {0x80000174, 3712, nullptr}, {0x80000001, 3616, &k001},    {0x80000167, 13150, &k167},  {0x80000269, 15438, nullptr},
    {0x80000350, 15438, nullptr}, {0x80000408, 15438, nullptr}, {0x80000405, 15438, nullptr}, {0x80000417, 15438, nullptr},
    {0x2490000, 0, nullptr},     {0x2700000, 0, nullptr},     {0x2920000, 0, nullptr},     {0x3330000, 0, nullptr},
    {0x3080000, 0, nullptr},     {0x4040000, 0, &k404},       {0x1100000, 0, nullptr},     {0x1190000, 0, nullptr},
    {0x1290000, 0, nullptr},     {0x1400000, 0, nullptr},     {0x2230000, 0, nullptr},     {0x1370000, 0, nullptr},
    {0x3010000, 0, nullptr},     {0x1120000, 0, nullptr},     {0x1110000, 0, nullptr},     {0x1210000, 0, nullptr},
    {0x1310000, 0, nullptr},     {0x1390000, 0, nullptr},     {0x1380000, 0, nullptr},     {0x2720000, 0, nullptr},
    {0x2950000, 0, nullptr},     {0x3110000, 0, nullptr},     {0x3360000, 0, nullptr},     {0x2460000, 0, nullptr},
    {0x3340000, 0, nullptr},     {0x1950000, 0, nullptr},     {0x2520000, 0, nullptr},     {0x3070000, 0, nullptr},
};

struct sMarginRow {
    unsigned int left, right, top, bottom;
    unsigned int ids[7];  // 0 ends the list
};

const sMarginRow kMargins[] = {
    {74, 0, 12, 0, {0x80000174, 0x80000232, 0x80000175, 0x80000234}},
    {78, 0, 20, 2, {0x80000169}},
    {142, 62, 45, 0, {0x80000281}},
    {126, 0, 100, 2, {0x80000269}},
    {98, 0, 13, 0, {0x80000188}},
    {62, 10, 20, 2, {0x80000215}},
    {72, 0, 52, 0, {0x80000346, 0x80000301, 0x80000326, 0x80000331}},
    {42, 0, 18, 2, {0x80000254, 0x80000236}},
    {62, 0, 18, 0, {0x80000288}},
    {142, 0, 51, 0, {0x80000327, 0x80000404, 0x80000422, 0x80000270, 0x80000286, 0x80000287}},
    {76, 0, 35, 0, {0x80000432}},
    {42, 0, 14, 0, {0x80000189}},
    {30, 6, 18, 2, {0x80000190}},
    {22, 0, 18, 2, {0x80000176}},
    {62, 0, 26, 0, {0x80000252}},
    {62, 0, 51, 0, {0x80000261}},
    {90, 0, 34, 0, {0x80000213}},
    {158, 0, 51, 0, {0x80000218, 0x80000250}},
    {122, 2, 80, 0, {0x80000285}},
    {136, 0, 42, 0, {0x80000349}},
    {160, 0, 64, 0, {0x80000382, 0x80000401}},
    {72, 0, 38, 0, {0x80000302, 0x80000289, 0x80000325, 0x80000328}},
    {120, 0, 44, 0, {0x80000406}},
    {264, 0, 36, 0, {0x80000405, 0x80000417, 0x80000408, 0x3980000, 0x3940000, 0x4070000, 0x4180000}},
    {72, 0, 34, 0, {0x80000393, 0x80000347, 0x3740000}},
    {264, 0, 34, 0, {0x80000350}},
    {72, 0, 50, 0, {0x3840000}},
    {80, 12, 52, 2, {0x3080000}},
    {80, 0, 50, 0, {0x3640000}},
    {96, 0, 16, 0, {0x3780000, 0x3970000, 0x3850000, 0x3930000, 0x4100000, 0x3950000}},
    {48, 24, 12, 12, {0x2230000}},
    {12, 36, 11, 12, {0x2490000}},
    {8, 52, 16, 8, {0x2700000, 0x2720000}},
    {52, 8, 12, 12, {0x2920000, 0x2950000}},
    {104, 8, 11, 65, {0x3330000, 0x3110000, 0x3360000}},
    {96, 24, 18, 0, {0x3540000}},
    {96, 24, 18, 13, {0x3550000}},
    {96, 8, 18, 0, {0x3340000, 0x3750000}},
    {192, 0, 12, 0, {0x2460000}},
};

const tMatrix& fallbackMatrix(unsigned int id, unsigned short& white) {
    if (id > 0x80000000u) {
        white = 3616;
        return kFallbackDslr;
    }
    white = 0;
    switch (id) {
        case 0x1560000: case 0x1570000: case 0x1960000: case 0x1990000: case 0x2130000:
        case 0x2140000: case 0x2180000: case 0x2380000: case 0x2390000: return kFallbackCompact;
        default: return kIdentity;
    }
}

void copyMatrix(const tMatrix& from, double (&to)[3][3]) {
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) to[r][c] = from[r][c];
}

std::once_flag gColorsOnce, gMarginsOnce;

}  // namespace

cFasterTreeList<unsigned int, cPictCR2::sCamColor>& cPictCR2::colorTable() {
    static cFasterTreeList<unsigned int, sCamColor> table(512);
    return table;
}

cFasterTreeList<unsigned int, sMarginInfo>& cPictCR2::marginTable() {
    static cFasterTreeList<unsigned int, sMarginInfo> table(512);
    return table;
}

void cPictCR2::initColors() {
    std::call_once(gColorsOnce, [] {
        cFasterTreeList<unsigned int, sCamColor>& t = colorTable();
        for (const sColorRow& r : kColors) {
            sCamColor* c = t.insert(r.id);
            if (!c) return;
            unsigned short unused;
            c->black = 0;
            c->white = r.white;
            copyMatrix(r.m ? *r.m : fallbackMatrix(r.id, unused), c->m);
        }
    });
}

void cPictCR2::initMargins() {
    std::call_once(gMarginsOnce, [] {
        cFasterTreeList<unsigned int, sMarginInfo>& t = marginTable();
        for (const sMarginRow& r : kMargins)
            for (unsigned int id : r.ids) {
                if (!id) break;
                sMarginInfo* m = t.insert(id);
                if (!m) return;
                m->left = r.left;
                m->right = r.right;
                m->top = r.top;
                m->bottom = r.bottom;
            }
    });
}

bool cPictCR2::colorsFor(unsigned int id, sCamColor& out) {
    initColors();
    if (const sCamColor* c = colorTable().find(id)) {
        out = *c;
        return true;
    }
    out.black = 0;
    copyMatrix(fallbackMatrix(id, out.white), out.m);
    return false;
}

bool cPictCR2::marginsFor(unsigned int id, sMarginInfo& out) {
    initMargins();
    if (const sMarginInfo* m = marginTable().find(id)) {
        out = *m;
        return true;
    }
    out = sMarginInfo();
    return false;
}

bool cPictCR2::getColors(unsigned short& black, unsigned short& white, double (&m)[3][3]) const {
    sCamColor c;
    const bool found = colorsFor(myMaker.modelId, c);
    black = c.black;
    white = c.white;
    copyMatrix(c.m, m);
    return found;
}
