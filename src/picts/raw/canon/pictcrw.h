// cPictCRW: Canon CRW raw files, a "heap" of tagged records (CIFF): the root heap holds the
// sensor data, the JPEG preview and the image heap; the image heap the picture size and the
// camera heap (model, white balance, sensor geometry, decoder table). The sensor data is a
// Huffman code over blocks of 64 differences, with 2 low bits a sample kept apart by some models.
#pragma once

#include "base/fileiotarget.h"
#include "picts/pictbase.h"

// Walks one heap's directory and hands every record to onTag.
class cCRWTagProcessor {
public:
    virtual ~cCRWTagProcessor() {}
    // A record: for heap values (inHeap) the length and offset in host order, the offset
    // counted from the heap's start; for in-record values the record's two words as stored.
    virtual bool onTag(cFileIOTarget* heap, int tag, unsigned int first, unsigned int second, bool inHeap) = 0;
    // False for a failed read, a directory that does not fit the heap, an empty directory,
    // a record of an ending kind, or onTag answering false.
    bool process(cFileIOTarget* heap, bool bigEndian);

protected:
    bool myBigEndian = false;
};

class cPictCRW : public cPictBase {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkCRW; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    // The block code: `count` samples of rows `width` wide from `code`; with low bits
    // (`low`, count / 4 bytes) each sample gains 2 low bits. Only positions below count are
    // written. False for a table set above 2.
    static bool decodeSamples(const unsigned char* code, long long codeSize, const unsigned char* low,
                              long long width, long long count, int table, unsigned short* out);

    // The code tables: 16 counts, then the symbols (13 and 164 bytes of them).
    static const unsigned char kFirstTree[3][29];
    static const unsigned char kSecondTree[3][180];

    // What the file gave (after a probe or decode).
    struct sInfo {
        unsigned int heapStart = 0;
        unsigned int sensorOffset = 0, sensorLength = 0;  // from the file's start
        unsigned int previewOffset = 0, previewLength = 0;
        unsigned int imageOffset = 0, imageLength = 0;    // inside the root heap
        unsigned int width = 0, height = 0;
        unsigned int modelId = 0;
        unsigned short sensor[7] = {};
        int wbIndex = 1;
        double levels[4] = {84, 52, 51, 65};  // by colour code: red, green, blue, second green
        unsigned int table = 0, codeOffset = 0;
    };
    const sInfo& info() const { return myInfo; }

private:
    bool processStream(cFileIOTarget* io, bool sizeOnly);

    sInfo myInfo;
    bool myBigEndian = false;
};
