// cJP2Tcd: the tile decoder. One tile at a time: its structure of resolutions, bands,
// precincts and code-blocks (T.800 B.5-B.7), tier 2 (packets, Annex B), tier 1 (code-blocks,
// Annex D), the inverse wavelet (Annex F), then the component transforms and the DC level
// shift (Annex G) on the way into the output image.
#pragma once

#include "picts/jpeg2000/j2kimage.h"
#include "picts/jpeg2000/j2kparams.h"

// T.800 B.10.2 tag tree over a grid of code-blocks.
class cJP2TgtTree {
public:
    struct sNode {
        int parent = -1;
        int value = 999;
        int low = 0;
        bool known = false;
    };
    // False when the grid is empty or there is no memory for it.
    bool init(unsigned int w, unsigned int h);
    void reset();
    // True when the leaf's value is below threshold; reads bits as needed.
    template <class BitReader>
    bool decode(BitReader& bio, unsigned int leaf, int threshold);
    unsigned int width() const { return myW; }
    unsigned int height() const { return myH; }

private:
    unsigned int myW = 0, myH = 0;
    _typebuf<sNode> myNodes;
};

// A piece of a code-block's data inside the tile's data (one packet's contribution).
struct sJP2Chunk {
    long long offset;
    unsigned int len;
};

// One codeword segment of a code-block (T.800 B.10.7): its bytes are the chunks firstChunk
// .. firstChunk + numChunks - 1 of the code-block, one per packet that added to it.
struct sJP2Seg {
    unsigned int firstChunk = 0;
    unsigned int numChunks = 0;
    unsigned int len = 0;
    unsigned int numpasses = 0;
    unsigned int maxpasses = 0;
    unsigned int newpasses = 0;  // of the packet being read
    unsigned int newlen = 0;
};

struct sJP2Cblk {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    _typebuf<sJP2Chunk> chunks;  // in the order the packets brought them
    unsigned int numChunks = 0;
    _typebuf<sJP2Seg> segs;
    unsigned int numsegs = 0;
    unsigned int numbps = 0;
    unsigned int lblock = 3;
    unsigned int totalPasses = 0;
    bool included = false;  // included by an earlier layer
    bool corrupt = false;   // more passes than bit-planes allow
};

struct sJP2Precinct {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    unsigned int cw = 0, ch = 0;  // code-blocks across and down
    unsigned int firstCblk = 0;   // index into the band's code-blocks
    cJP2TgtTree incl, imsb;
};

struct sJP2Band {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    unsigned int bandno = 0;  // 0 LL, 1 HL, 2 LH, 3 HH
    int numbps = 0;
    float stepsize = 1.0f;
    _classbuf<sJP2Precinct> precincts;
    _classbuf<sJP2Cblk> cblks;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

struct sJP2Resolution {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    unsigned int pw = 0, ph = 0;  // precincts across and down
    unsigned int pdx = 15, pdy = 15;
    unsigned int numbands = 0;
    sJP2Band bands[3];
};

struct sJP2TileComp {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    unsigned int numres = 0;        // resolutions to decode
    unsigned int numresTotal = 0;   // coded resolutions
    unsigned int resnoDecoded = 0;  // highest resolution whose packets were decoded
    _classbuf<sJP2Resolution> resolutions;
    _typebuf<int> data;  // integers (5/3) or floats (9/7), whole tile component
    long long w() const { return (long long)x1 - x0; }
    long long h() const { return (long long)y1 - y0; }
};

class cJP2Tcd {
public:
    cJP2Tcd() {}
    cJP2Tcd(cJP2Image* img, sJP2CodingParameters* cp) : myImage(img), myCp(cp) {}
    cJP2Tcd(const cJP2Tcd&) = delete;
    cJP2Tcd& operator=(const cJP2Tcd&) = delete;
    void setup(cJP2Image* img, sJP2CodingParameters* cp) { myImage = img, myCp = cp; }

    // Builds the structure of tile tileno; false on sizes it refuses.
    bool initDecodeTile(unsigned int tileno);
    // Tiers 2 and 1, the inverse wavelet and an array-based component transform. The tile's
    // coded bytes are freed once its code-blocks are decoded: a tile is decoded once.
    bool decodeTile(unsigned int tileno, int threads);
    // Writes the decoded tile into out (its components' sample arrays allocated on first use):
    // the component transform, the DC level shift and the clamp in one pass from the tile's
    // samples to out's rows, bands of rows shared among `threads`. A tile that covers a whole
    // component is finished in place and hands its samples over. With noteResolution false
    // the components' resnoDecoded is left alone: tiles copied from several threads at once
    // must not all write it (the caller notes it afterwards).
    bool updateImageData(cJP2Image* out, bool noteResolution = true, int threads = 1);

    // The tile's bounds on the reference grid.
    static void tileBounds(const cJP2Image& img, const sJP2CodingParameters& cp, unsigned int tileno, unsigned int& x0,
                           unsigned int& y0, unsigned int& x1, unsigned int& y1);

private:
    bool t2Decode(const unsigned char* data, long long len);
    bool t1Decode(int threads);
    bool dwtDecode(int threads);
    bool customMctDecode();

    cJP2Image* myImage = nullptr;
    sJP2CodingParameters* myCp = nullptr;
    cJP2Tcp* myTcp = nullptr;
    unsigned int myTileNo = 0;
    unsigned int myX0 = 0, myY0 = 0, myX1 = 0, myY1 = 0;
    _classbuf<sJP2TileComp> myComps;
};

template <class BitReader>
bool cJP2TgtTree::decode(BitReader& bio, unsigned int leaf, int threshold) {
    // Walk from the root down to the leaf (T.800 B.10.2).
    int stack[32];
    int depth = 0;
    int node = (int)leaf;
    while (node >= 0 && depth < 32) {
        stack[depth++] = node;
        node = myNodes.ptr[node].parent;
    }
    int low = 0;
    while (depth > 0) {
        sNode& n = myNodes.ptr[stack[--depth]];
        if (low > n.low)
            n.low = low;
        else
            low = n.low;
        while (low < threshold && low < n.value) {
            if (bio.bit())
                n.value = low;
            else
                low++;
        }
        n.low = low;
    }
    return myNodes.ptr[leaf].value < threshold;
}
