// cPictX3F: Sigma X3F files. Three-layer sensors give every pixel all three colours, so the
// raw formats read here need no demosaicing; files of other raw formats show their largest
// embedded JPEG preview instead.
#pragma once

#include "base/fastertreelist.h"
#include "picts/pictbase.h"

class cPictX3F : public cPictBase {
public:
    enum { kMaxSections = 65536 };
    struct sPreview {
        unsigned int offset = 0;
        unsigned int length = 0;
        unsigned int columns = 0;
        unsigned int rows = 0;
    };

    static bool validFor(cFileIOTarget* io, sPictInfo* info);
    // Reads the section directory; false for a wrong magic, a directory offset out of
    // range, a short read, or no raw section.
    bool loadX3F(cFileIOTarget* io);

    int typeOf() override { return pkX3F; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    unsigned int rawFormat() const { return myRawFormat; }

    // Fills a code lookup of 256 entries from 13 (length, left-aligned code) pairs: entry i
    // fills the 256 >> length slots from its code on with (length << 8 | i), never past the
    // table's end. False for a length of 32 or more.
    static bool fillCodeTable(const unsigned char pairs[26], unsigned short table[256]);

private:
    void reset();
    bool decodeFormat5(cFileIOTarget* io, unsigned short* frame);
    bool decodeFormat30(cFileIOTarget* io, unsigned short* frame);
    // The largest preview, or with both bounds the largest whose area fits within them.
    const sPreview* choosePreview(long long maxWidth, long long maxHeight);

    cFasterTreeList<long long, sPreview> myPreviews;  // by area; the first of an area wins
    unsigned int myRawOffset = 0;
    unsigned int myRawLength = 0;
    unsigned int myRawFormat = 0;
};
