// cPictNEF: Nikon raw files (NEF, NRW). A TIFF structure whose IFD0 holds a thumbnail and
// lists sub-directories (the raw image, a larger JPEG preview), and whose EXIF maker note
// ("Nikon\0" header) holds the Nikon data: compression kind, linearization table (Huffman
// predictors and tone curve), colour balance. Strips are Nikon Huffman-coded, packed
// (plain, chunked or interlaced), 16-bit words or the two 12-bit big-endian packings; a raw
// directory of 8-bit or otherwise ordinary TIFF strips is decoded by the TIFF decoder.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

// The maker-note directory, walked by a walker of its own.
class cNEFProps : public cTiffGeneric {
public:
    void reset();
    bool onTag(int tag, int type, const void* data, int size) override;

    _typebuf<unsigned char> linearization;  // 0x96
    unsigned short compression = 0;         // 0x93
    _typebuf<unsigned char> balance;        // 0x97
    unsigned int shutterCount = 0;          // 0xA7
    unsigned int serial = 0;                // 0x1D
    _typebuf<unsigned char> preview;        // 0x100
    double nrwBalance[4] = {0, 0, 0, 0};    // 0x14
    bool haveNrwBalance = false;
};

// The preview directory: the JPEG's window (513, 514).
class cNEFJpegPreview : public cTiffGeneric {
public:
    bool onTag(int tag, int type, const void* data, int size) override;
    unsigned int offset = 0, length = 0;
};

class cPictNEF : public cPictBase, public cRawTiffWalker {
public:
    enum { kUnknownModel = 0x7fffff };
    // The description of one strip as the strip decoders take and rewrite it.
    struct sStrip {
        long long rowBytes = 0;  // bytes per row as stored
        unsigned int bits = 0;   // bits per sample
        long long rows = 0;
        bool bigEndian = false;
        _typebuf<unsigned short> out;  // rows x samples-per-row samples
        long long samples = 0;         // samples per row of out
    };

    static bool validFor(cFileIOTarget* io, sPictInfo* info);
    static unsigned int getModel(const char* model);

    int typeOf() override { return pkNEF; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    bool onTag(int tag, int type, const void* data, int size) override;
    bool onRawTag(int tag, int type, const void* data, int size, unsigned int offset) override;

    // Per-model rules (by the model index of the last walk).
    unsigned int blackLevel() const;
    unsigned int whiteLevel() const;
    bool getCropInfo(sMarginInfo& m) const;
    bool getScale(double& h, double& v) const;
    bool defWhiteBalance(double (&b)[4]) const;
    bool isBayerRGB() const { return myModel != 59; }
    bool getNonRGBColorMix(double (&mix)[3][4]) const;
    bool decryptWhiteBalance(double (&b)[4]) const;
    unsigned int modelIndex() const { return myModel; }
    const cNEFProps& props() const { return myProps; }

    // The tone curve of the linearization record for `bits`-bit samples; false when the
    // record claims values beyond its length.
    static bool getCurveTblFromLinearizationData(const _typebuf<unsigned char>& data, bool bigEndian,
                                                 _typebuf<unsigned short>& curve, unsigned int bits);
    // Strip decoders: `in` the stored bytes, `s` the description (out filled).
    bool decompressHaffman(const _typebuf<unsigned char>& in, sStrip& s);
    static bool decompressPacked(const _typebuf<unsigned char>& in, sStrip& s, bool interlaced);
    static bool decompressPackedChunked(const _typebuf<unsigned char>& in, sStrip& s, long long chunk);
    static bool decompressAs16BPP(const _typebuf<unsigned char>& in, sStrip& s, long long width);
    static bool decompressBPack(const _typebuf<unsigned char>& in, sStrip& s);
    static bool decompressBPackTp2(const _typebuf<unsigned char>& in, sStrip& s);

private:
    enum eMode { mIfd0, mExif, mRaw, mOther };
    void reset();
    void resetImage();
    // Walks IFD0, EXIF and the maker note; headerless maker notes only when allowed.
    bool walk(cFileIOTarget* io, bool allowHeaderless);
    bool imageComplete() const;
    bool readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame, unsigned int& bits);
    bool decodeStrip(const _typebuf<unsigned char>& in, unsigned int compression, sStrip& s);
    // Whether the raw directory's strips are an ordinary TIFF image's (8-bit samples, or a
    // compression other than Nikon's and plain), and their decoding by the TIFF decoder
    // (rawDir 0: IFD0 is the image).
    bool plainStrips() const;
    bool decodePlain(cFileIOTarget* io, unsigned int rawDir);

    cNEFProps myProps;
    unsigned int myModel = kUnknownModel;
    eMode myMode = mIfd0;
    // Image directory values (IFD0, then the raw directory).
    unsigned int myWidth = 0, myHeight = 0, myBits = 0, myCompression = 1, mySamples = 1, myRowsPerStrip = 0;
    _typebuf<unsigned int> myStripOffsets, myStripCounts;
    sCFAData myCfa;
    // Container values.
    _typebuf<unsigned int> mySubIfds;
    char myMake[64] = {0}, myModelName[64] = {0};
    unsigned int myMakerNote = 0, myMakerNoteSize = 0;
    int myMakerNoteForm = 0;  // 1, 2, or 3 for headerless
    bool myIfd0Complete = false;
    unsigned int myThumbOffset = 0, myThumbLength = 0;  // a JPEG in IFD0 (513/514)
};
