// The property store, the file-type tables, the reader choice and the picture reader.
#include "propreader/fileobjectprops.h"

#include <cstring>

#include "propreader/winexeprops.h"

namespace {

// Types of ids 0-21.
const int kPropTypes[22] = {1, 1, 1, 4, 1, 1, 2, 2, 2, 2, 2, 2, 5, 5, 2, 2, 1, 3, 3, 3, 1, 1};

struct sFileType {
    const char* extension;  // null for the video types
    const char* contentType;
    const char* name;
    int media;
};

const sFileType kTypes[33] = {
    {"exe", "application/x-msdownload", "Microsoft Application", 0},
    {"bmp", "image/bmp", "Bitmap Image File", 1},
    {"dcm", "application/dicom", "Digital Imaging and Communications in Medicine", 1},
    {"gif", "image/gif", "Graphics Interchange Format", 1},
    {"icns", "image/icns", "Apple Icon Image", 1},
    {"ico", "image/ico", "Windows Icon Image", 1},
    {"jpf", "image/jpf", "JPEG 2000 Image", 1},
    {"jp2", "image/jp2", "JPEG 2000 Image", 1},
    {"jpg", "image/jpeg", "JPEG Image", 1},
    {"pcx", "image/x-pcx", "PCX Image", 1},
    {"png", "image/png", "Portable Network Graphics", 1},
    {"ppm", "image/x-portable-pixmap", "Portable Pixmap Format", 1},
    {"tga", "image/x-tga", "Truevision TGA", 1},
    {"tiff", "image/tiff", "Tagged Image File Format", 1},
    {"pict", "image/x-image", "Generic Image", 1},
    {"arw", "image/x-sony-arw", "SONY Raw Image", 1},
    {"cr2", "image/x-canon-cr2", "CANON Raw Image", 1},
    {"crw", "image/x-canon-crw", "CANON Legacy Raw Image", 1},
    {"dng", "image/x-adobe-dng", "Digital Negative Format", 1},
    {"h3f", "image/x-hasselblad-h3f", "Hasselblad Raw Image", 1},
    {"iiq", "image/x-phaseone-iiq", "Phase One Raw Image", 1},
    {"mos", "image/x-mamiya-mos", "Mamiya Leaf Raw Image", 1},
    {"mrw", "image/x-minolta-mrw", "Minolta Raw Image", 1},
    {"nef", "image/x-nikon-nef", "NIKON Raw Image", 1},
    {"orf", "image/x-olympus-orf", "Olympus Raw Image", 1},
    {"pef", "image/x-pentax-pef", "PENTAX Raw Image", 1},
    {"raf", "image/x-fujifilm-raf", "Fujifilm Raw Image", 1},
    {"rwl", "image/x-panasonic-rwl", "Panasonic Raw Image", 1},
    {"srw", "image/x-samsung-srw", "SAMSUNG Raw Image", 1},
    {"tiff", "image/x-tiff-ep", "TIFF for Electronic Photography", 1},
    {"x3f", "image/x-sigma-x3f", "Sigma Raw Image", 1},
    {nullptr, "video/mp4", "QT/MP4", 3},
    {nullptr, "video/avi", "RIFF/AVI", 3},
};

bool validType(int type) { return type >= 0 && type < 33; }

}  // namespace

// --- tables ---

int cFileObjectProps::prop_type(int id) { return id >= 0 && id < 22 ? kPropTypes[id] : ptNone; }

const char* cFileObjectProps::default_extension(int type) { return validType(type) ? kTypes[type].extension : nullptr; }

const char* cFileObjectProps::content_type(int type) { return validType(type) ? kTypes[type].contentType : nullptr; }

const char* cFileObjectProps::type_name(int type) { return validType(type) ? kTypes[type].name : nullptr; }

int cFileObjectProps::media_type(int type) { return validType(type) ? kTypes[type].media : 0; }

// --- reader choice ---

cFileObjectProps* cFileObjectProps::guessObj(cFileIOTarget* io) {
    if (!io) return nullptr;
    cPictBase::sPictInfo info;
    cPictBase* picture = cPictBase::mkPicture(io, &info);
    if (picture) return new cSimpleImageProps(picture);
    io->set_fp(0);
    if (cWinExeProps::validFor(io)) return new cWinExeProps();
    return nullptr;
}

// --- the store ---

void cFileObjectProps::close() {
    myPreviewW = myPreviewH = -1;
    myInts.destroy();
    myDoubles.destroy();
    myStrings.destroy();
    myPicts.destroy();
    myTimes.destroy();
}

const char* cFileObjectProps::prop_string(int id) {
    _guardchar<char>* s = myStrings.find(id);
    return s ? s->ptr : nullptr;
}

bool cFileObjectProps::has_prop(int id) {
    switch (prop_type(id)) {
        case ptInt: return myInts.find(id) != nullptr;
        case ptString: return myStrings.find(id) != nullptr;
        case ptDouble: return myDoubles.find(id) != nullptr;
        case ptPicture: return myPicts.find(id) != nullptr;
        case ptTime: return myTimes.find(id) != nullptr;
    }
    return false;
}

bool cFileObjectProps::setProp(int id, int value) {
    if (prop_type(id) != ptInt) return false;
    int* slot = myInts.insert(id);
    if (!slot) return false;
    *slot = value;
    return true;
}

bool cFileObjectProps::setProp(int id, double value) {
    if (prop_type(id) != ptDouble) return false;
    double* slot = myDoubles.insert(id);
    if (!slot) return false;
    *slot = value;
    return true;
}

bool cFileObjectProps::setProp(int id, const char* text) { return setProp(id, text, -1); }

bool cFileObjectProps::setProp(int id, const char* text, long long length) {
    if (prop_type(id) != ptString) return false;
    _guardchar<char>* slot = myStrings.insert(id);
    if (!slot) return false;
    if (!text) {
        slot->clear();
        return true;
    }
    return slot->set(text, length < 0 ? (long long)strlen(text) : length);
}

bool cFileObjectProps::setProp(int id, const sTimestamp& value) {
    if (prop_type(id) != ptTime) return false;
    sTimestamp* slot = myTimes.insert(id);
    if (!slot) return false;
    *slot = value;
    return true;
}

bool cFileObjectProps::setProp(int id, cPictBase* picture) {
    if (id != fpPreview || !picture) return false;
    cPictDummy* slot = myPicts.insert(id);
    if (!slot) return false;
    picture->moveTo(*slot);
    return true;
}

// --- pictures ---

cSimpleImageProps::cSimpleImageProps(cPictBase* decoder) : myPicture(decoder) {
    myType = fileTypeOfKind(decoder ? decoder->typeOf() : 0);
}

cSimpleImageProps::~cSimpleImageProps() { delete myPicture; }

int cSimpleImageProps::fileTypeOfKind(int kind) {
    switch (kind) {
        case cPictBase::pkJPEG: return 8;
        case cPictBase::pkTIFF: return 13;
        case cPictBase::pkPNG: return 10;
        case cPictBase::pkNEF: return 23;
        case cPictBase::pkBMP: return 1;
        case cPictBase::pkICO: return 5;
        case cPictBase::pkJP2: return 7;
        case cPictBase::pkJ2K: return 6;
        case cPictBase::pkCR2: return 16;
        case cPictBase::pkGIF: return 3;
        case cPictBase::pkICNS: return 4;
        case cPictBase::pkCRW: return 17;
        case cPictBase::pkDNG: return 18;
        case cPictBase::pkMOS: return 21;
        case cPictBase::pkTIFFEP: return 29;
        case cPictBase::pkRAF: return 26;
        case cPictBase::pkRWL: return 27;
        case cPictBase::pkIIQ: return 20;
        case cPictBase::pkSRW: return 28;
        case cPictBase::pkPEF: return 25;
        case cPictBase::pkARW: return 15;
        case cPictBase::pkMRW: return 22;
        case cPictBase::pkORF: return 24;
        case cPictBase::pkX3F: return 30;
        case cPictBase::pkTGA: return 12;
        case cPictBase::pkPPM: return 11;
        case cPictBase::pkPCX: return 9;
        case cPictBase::pkDICOM: return 2;
        case cPictBase::pkDICOMLegacy: return 2;
        case cPictBase::pk3FR: return 19;
    }
    return ftGenericImage;
}

bool cSimpleImageProps::load(cFileIOTarget* io, int, bool wantPreview) {
    if (!myPicture || !io) return false;
    cPictBase::sPictInfo info;
    io->set_fp(0);
    if (!myPicture->isPicture(io, &info)) return false;
    setProp(fpWidth, (int)info.width);
    setProp(fpHeight, (int)info.height);
    if (myPicture->supportsMultipage()) {
        io->set_fp(0);
        setProp(fpPages, myPicture->getNumPages(io));
    }
    if (!info.hasPreview && !wantPreview) return true;
    if (myPreviewW == 0 || myPreviewH == 0) return true;
    io->set_fp(0);
    cPictDummy holder;
    long long w = myPreviewW < 0 ? 0x7fffffffLL : myPreviewW;
    long long h = myPreviewH < 0 ? 0x7fffffffLL : myPreviewH;
    if (myPicture->getPreview(io, holder, w, h, true, 0xFFFFFF) == 0 && holder.raw8Bpp()) setProp(fpPreview, &holder);
    return true;
}
