// cExifDecoder: reads EXIF/TIFF metadata (main, EXIF, GPS, interoperability and thumbnail
// directories) into a picture's properties.
#pragma once

#include "picts/pictbase.h"
#include "picts/tiffwalk/tiffgeneric.h"

class cExifDecoder : public cTiffGeneric {
public:
    // Directory kinds: what the directory being walked is.
    enum eDirKind { dkMain = 0, dkExif = 1, dkGPS = 2, dkInterop = 3, dkThumbnail = 4 };
    enum { teExif = 8 };                       // the EXIF reader's own error code
    enum { kMaxThumbnailBytes = 16 << 20 };    // a larger thumbnail is not read

    cExifDecoder() {}

    // Walks the TIFF structure from the stream's header: the first directory as `kind`,
    // then the EXIF, GPS and interoperability directories it points to and, for a main
    // directory, the thumbnail directory that follows it.
    bool decode(cPictBase* picture, cFileIOTarget* io, int kind);
    // Walks one directory at offset (and the EXIF, GPS and interoperability directories
    // it points to); size all ones means the whole stream.
    bool decodeDirect(cPictBase* picture, cFileIOTarget* io, int kind, unsigned int offset, bool bigEndian,
                      bool bigTiff, unsigned long long size);

    bool onRawTag(int tag, int type, const void* data, int size, unsigned int offset) override;
    // Fills the properties; derived classes pass tags they do not handle on to it.
    bool onTag(int tag, int type, const void* data, int size) override;

    int dirKind() const { return myDirKind; }
    // The thumbnail's bytes as stored (JPEG), kept whether or not it could be decoded.
    const _typebuf<unsigned char>& thumbnailData() const { return myThumbData; }
    unsigned int thumbnailOffset() const { return myThumbOffset; }

protected:
    bool walkDirectory(int kind, unsigned int offset);
    bool walkPending();
    void finishGPS();
    void finishThumbnail();
    bool setString(int id, const void* data, int size);

    cPictBase* myPicture = nullptr;  // not owned
    int myDirKind = dkMain;
    unsigned int myExifOffset = 0, myGPSOffset = 0, myInteropOffset = 0, myNextIfd = 0;
    unsigned int myThumbOffset = 0, myThumbLength = 0;
    _typebuf<unsigned char> myThumbData;
    double myLat = 0, myLon = 0;
    char myLatRef = 0, myLonRef = 0;
    bool myHaveLat = false, myHaveLon = false;
    unsigned int myMakerNoteOffset = 0;  // offset of the value being delivered
};
