// Typed picture properties (make, model, dates, exposure, thumbnails, maker notes)
// and the small id-sorted table a picture keeps them in.
#pragma once

#include "base/buffers.h"
#include "base/timestamp.h"

class cPictBase;

// Property ids 0-21; each id has one fixed type (see cPictProp::typeOfId).
enum ePictPropId {
    ppOrientation = 0,        // int: EXIF orientation 1-8
    ppDateTime = 1,           // timestamp: file change date and time
    ppDateTimeOriginal = 2,   // timestamp: when the picture was taken
    ppMake = 3,               // string: camera maker
    ppModel = 4,              // string: camera model
    ppSoftware = 5,           // string
    ppExposureTime = 6,       // double: seconds
    ppFNumber = 7,            // double
    ppISO = 8,                // int: ISO speed
    ppFocalLength = 9,        // double: millimetres
    ppFlash = 10,             // int: EXIF flash bits
    ppDescription = 11,       // string
    ppCopyright = 12,         // string
    ppThumbnail = 13,         // image: a decoder's embedded thumbnail
    ppAltImage = 14,          // image: another embedded picture (a larger preview)
    ppGPSLatitude = 15,       // double: degrees, south negative
    ppGPSLongitude = 16,      // double: degrees, west negative
    ppDateTimeDigitized = 17, // timestamp
    ppWidth = 18,             // int: image width tag
    ppHeight = 19,            // int: image height tag
    ppCompression = 20,       // int: compression tag
    ppMakerNote = 21,         // raw bytes with their offset in the stream
    ppCount = 22
};

// One property: an id, its type and the value of that type.
class cPictProp {
public:
    enum eType { tInt = 0, tDouble = 1, tTime = 2, tString = 3, tImage = 4, tRaw = 5 };

    cPictProp(int id, int type);
    cPictProp(const cPictProp&) = delete;
    cPictProp& operator=(const cPictProp&) = delete;
    ~cPictProp();  // deletes an owned image

    // The fixed type of ids 0-21; -1 for any other id.
    static int typeOfId(int id);

    int id() const { return myId; }
    int type() const { return myType; }

    // Setters refuse (false) a value of another type than the property's.
    bool setInt(long long v);
    bool setDouble(double v);
    bool setTime(const sTimestamp& v);
    bool setString(const char* s, long long length = -1);
    // Takes ownership of `p` and deletes the image held before (unless it is `p`).
    bool setImage(cPictBase* p);
    // Gives up the owned image without deleting it.
    cPictBase* takeImage();
    bool setRaw(const void* data, long long size, unsigned long long offset);

    long long intValue = 0;
    double doubleValue = 0.0;
    sTimestamp timeValue = {0, 0, 0, 0, 0, 0};
    _guardchar<char> stringValue;
    _typebuf<unsigned char> rawValue;
    unsigned long long rawOffset = 0;  // where the raw bytes lie in the stream they came from
    cPictBase* image() const { return myImage; }

private:
    int myId;
    int myType;
    cPictBase* myImage = nullptr;
};

// Properties kept sorted by id; owns them.
class cPictPropTable {
public:
    cPictPropTable() {}
    cPictPropTable(const cPictPropTable&) = delete;
    cPictPropTable& operator=(const cPictPropTable&) = delete;
    ~cPictPropTable() { clear(); }

    cPictProp* find(int id) const;
    // Finds the property or, for ids 0-21, creates it empty with its id's type.
    cPictProp* findOrCreate(int id);
    bool remove(int id);
    void clear();
    long long count() const { return myCount; }
    cPictProp* at(long long i) const { return i >= 0 && i < myCount ? myItems.ptr[i] : nullptr; }
    // Moves every property into `to` (which is emptied first).
    void moveTo(cPictPropTable& to);

private:
    long long lowerBound(int id) const;
    _typebuf<cPictProp*> myItems;
    long long myCount = 0;
};
