// cFileObjectProps: typed properties of a file read through a stream (type, picture size,
// preview, version strings, link time), the file-type tables, and cSimpleImageProps, the
// reader for every picture the picture library recognises.
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/fileiotarget.h"
#include "base/timestamp.h"
#include "picts/pictdummy.h"

class cFileObjectProps {
public:
    // Property types answered by prop_type.
    enum ePropType { ptNone = 0, ptInt = 1, ptString = 2, ptDouble = 3, ptPicture = 4, ptTime = 5 };
    // Property ids with a meaning in this system (0-21 are typed, see prop_type).
    enum eProp {
        fpWidth = 0, fpHeight = 1, fpPages = 2, fpPreview = 3, fpProductName = 6, fpDescription = 7,
        fpCompany = 8, fpCopyright = 9, fpVersion = 11, fpTimeStamp = 13
    };
    // File types: 0 Windows executable, 1-30 pictures, 31-32 video (see the tables).
    enum eFileType { ftExe = 0, ftGenericImage = 14 };

    cFileObjectProps() {}
    cFileObjectProps(const cFileObjectProps&) = delete;
    cFileObjectProps& operator=(const cFileObjectProps&) = delete;

    // --- virtual operations (this order is part of the interface) ---
    // The file type id of what this reader reads.
    virtual int typeOf() = 0;
    // Reads the properties of io. The int is not used by the readers of this system;
    // wantPreview lets a picture without an embedded preview be decoded for one.
    virtual bool load(cFileIOTarget* io, int flags, bool wantPreview) = 0;
    // Forgets the preview wish (back to -1 x -1) and every property.
    virtual void close();
    virtual ~cFileObjectProps() {}

    // A new reader for io owned by the caller: a picture reader when the picture library
    // recognises the stream, else a Windows executable reader when it is a PE file with a
    // resource section; null otherwise or for a null stream.
    static cFileObjectProps* guessObj(cFileIOTarget* io);

    // The type of property id; ptNone outside 0-21.
    static int prop_type(int id);
    // Extension for types 0-30, content type and readable name for 0-32; else null.
    static const char* default_extension(int type);
    static const char* content_type(int type);
    static const char* type_name(int type);
    // 0 application, 1 image, 3 video; 0 outside 0-32.
    static int media_type(int type);

    const char* default_extension() { return default_extension(typeOf()); }
    const char* content_type() { return content_type(typeOf()); }
    const char* type_name() { return type_name(typeOf()); }
    int media_type() { return media_type(typeOf()); }

    // The wished preview size: -1 no limit (default), 0 no preview wanted. Set it again
    // after close and before load.
    void setPreviewPreferrences(int width, int height) {
        myPreviewW = width;
        myPreviewH = height;
    }
    int previewWidth() const { return myPreviewW; }
    int previewHeight() const { return myPreviewH; }

    // Stored values, null when absent.
    int* prop_int(int id) { return myInts.find(id); }
    double* prop_float(int id) { return myDoubles.find(id); }
    sTimestamp* prop_time(int id) { return myTimes.find(id); }
    const char* prop_string(int id);
    cPictDummy* prop_pict(int id) { return myPicts.find(id); }
    // True when a value of id's own type is stored under id (false outside 0-21).
    bool has_prop(int id);

    // Each stores (replacing) a value when id is of that type; false otherwise.
    bool setProp(int id, int value);
    bool setProp(int id, double value);
    bool setProp(int id, const char* text);
    // length bytes of text (-1: up to its terminator).
    bool setProp(int id, const char* text, long long length);
    bool setProp(int id, const sTimestamp& value);
    // Id 3 only: moves the picture's pixels into the stored picture, leaving it empty.
    bool setProp(int id, cPictBase* picture);

protected:
    int myPreviewW = -1;
    int myPreviewH = -1;
    cFasterTreeList<int, int> myInts;
    cFasterTreeList<int, double> myDoubles;
    cFasterTreeList<int, _guardchar<char> > myStrings;
    cFasterTreeList<int, cPictDummy> myPicts;
    cFasterTreeList<int, sTimestamp> myTimes;
};

// Properties of a picture: size, pages and a preview, through the decoder the factory
// probed. The same stream must be passed to every load.
class cSimpleImageProps : public cFileObjectProps {
public:
    // Takes over decoder (deleted with the reader; may be null).
    explicit cSimpleImageProps(cPictBase* decoder);
    ~cSimpleImageProps() override;

    int typeOf() override { return myType; }
    bool load(cFileIOTarget* io, int flags, bool wantPreview) override;

    // The file type for a decoder kind (cPictBase::typeOf); 14 for kinds without one.
    static int fileTypeOfKind(int kind);

private:
    cPictBase* myPicture = nullptr;
    int myType = ftGenericImage;
};
