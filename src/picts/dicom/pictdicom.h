// cPictDICOM: the images of a DICOM file (PS3.10 preamble and "DICM", then the data set),
// one page per frame; cPictDICOMLegacy: the same for data sets stored without the preamble.
#pragma once

#include "base/fastertreelist.h"
#include "picts/pictbase.h"

class cPictJPEG;

class cPictDICOM : public cPictBase {
public:
    // One image description (the top-level data set or one sequence item, such as an icon),
    // or one frame split from a multi-frame image.
    struct sDicomInfo {
        unsigned long long offset = 0;  // native: absolute position of the frame's bytes
        unsigned long long length = 0;  // native: their count; encapsulated: the frame's byte count
        unsigned int samples = 0;
        unsigned int planar = 0;
        unsigned int bitsAllocated = 0;
        unsigned int bitsStored = 0;
        unsigned int pixelRep = 0;
        unsigned int columns = 0;
        unsigned int rows = 0;
        unsigned int highBit = 0;
        unsigned int frames = 0;      // (0028,0008) Number of Frames; 0 when absent
        unsigned int fragFirst = 0;   // encapsulated: the frame's first fragment
        unsigned int fragCount = 0;   // encapsulated: its fragment count
        unsigned long long botOffset = 0;  // encapsulated: the Basic Offset Table's value
        unsigned int botLength = 0;
        bool hasHighBit = false;
        bool hasPixels = false;
        bool encapsulated = false;
        bool bigEndian = false;       // pixel data read in a big-endian data set
        bool mono1 = false;           // MONOCHROME1: minimum is white
    };

    cPictDICOM();
    ~cPictDICOM() override;

    // Probe: the stream from its current position is a DICOM file with a usable image.
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkDICOM; }
    // Parses once (the records are kept for later calls); fills the first page's size.
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    // Page 0.
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return true; }
    bool supportsMultipage() override { return true; }
    // Pages: every image record in key order; 0 when the parse fails.
    int getNumPages(cFileIOTarget* io) override;
    bool getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) override;
    bool decodePage(cFileIOTarget* io, int page) override;
    // The page fitted within width x height: rendered straight into target when larger,
    // else decoded and moved there as 32-bit pixels. allowFull is not used.
    bool decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height, int page,
                           bool allowFull, unsigned int background) override;

    // Empties the picture and the records.
    void reset();

protected:
    explicit cPictDICOM(bool legacy);

    struct sFragment {
        unsigned long long itemPos = 0;  // position of the item header
        unsigned long long offset = 0;   // position of the value
        unsigned int length = 0;
        unsigned char head[8] = {};      // the first bytes, to find where a frame starts
    };
    struct sWalk;

    // The records, parsing io first when there are none. False when the parse fails.
    bool ensureParsed(cFileIOTarget* io);
    bool processDICOM(cFileIOTarget* io);
    // One data set or item from pos to end; pos is left after the last element consumed.
    bool walkLevel(sWalk& w, unsigned long long& pos, unsigned long long end, int depth, bool topLevel);
    // Items of a sequence up to seqEnd or its delimitation; UN sequences hold implicit VR items.
    bool walkSequence(sWalk& w, unsigned long long& pos, unsigned long long seqEnd, int depth, bool implicitItems);
    // Encapsulated pixel data: the offset table and the fragment items up to the delimitation.
    bool walkFragments(sWalk& w, unsigned long long& pos, unsigned long long end, int item);
    // Every element that is not a sequence: the image description and pixel data go into the
    // record of the item it was read in. False fails the walk.
    bool onTag(sWalk& w, unsigned short group, unsigned short element, unsigned short vr, unsigned int length,
               unsigned long long position, int item);
    // A US or UL value (legacy data sets: 2 bytes whatever the VR).
    bool getValU32(sWalk& w, unsigned short vr, unsigned int length, unsigned long long position,
                   unsigned int& value);
    // Drops records without a usable image and splits multi-frame ones into one record a frame,
    // keyed above every key present, at most Number of Frames and never past the data.
    bool splitFrames(cFileIOTarget* io);
    // The first fragment of each frame of an encapsulated image.
    bool encapsulatedFrames(cFileIOTarget* io, const sDicomInfo& rec, _typebuf<unsigned int>& starts,
                            unsigned int& count);
    // The record of a key, created empty when missing; null when memory runs out.
    sDicomInfo* img(int key);
    sDicomInfo* pageRecord(int page);

    bool decodeImage(cFileIOTarget* io, sDicomInfo* rec);
    bool decodeNative(cFileIOTarget* io, const sDicomInfo& rec);
    bool decodeEncapsulated(cFileIOTarget* io, const sDicomInfo& rec);
    bool greyFromJpeg(cPictJPEG& jp, const sDicomInfo& rec);

    bool myLegacy;
    cFasterTreeList<int, sDicomInfo> myImages;
    _typebuf<sFragment> myFrags;
    unsigned int myFragCount = 0;
    _typebuf<sDicomInfo*> myPages;  // the records in key order (values never move in the map)
};

// Data sets without the preamble: the whole walk must succeed and give an image. The
// encoding is taken from a meta group when there is one, else guessed from the first element.
class cPictDICOMLegacy : public cPictDICOM {
public:
    cPictDICOMLegacy();
    static bool validFor(cFileIOTarget* io, sPictInfo* info);
    int typeOf() override { return pkDICOMLegacy; }
};

// Decodes one encapsulated JPEG 2000 frame (a codestream or a JP2 file) into out.
// Not built in yet: answers false.
bool decodeEncapsulatedJ2K(const unsigned char* data, long long size, cPictBase& out);
