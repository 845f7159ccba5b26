// cPictBase::mkPicture: probes the decoders in one fixed order.
#include "picts/pictfactory.h"

// Probing order. Strong signatures come first; every TIFF-structured camera raw format is
// probed before DNG, DNG before TIFF-EP and both before plain TIFF, so a plain TIFF is what
// remains; signature-less formats come last.
//
//   1 JPEG          12 NEF (after the Canon formats)   23 RAF (after IIQ)
//   2 PNG           13 3FR (after NEF, before DNG)     24 DNG (after every camera raw)
//   3 GIF           14 MOS                             25 TIFF-EP (after DNG)
//   4 BMP           15 MRW                             26 TIFF (after all of the above)
//   5 ICO           16 RWL (after MRW)                 27 XPM
//   6 ICNS          17 ORF (after RWL)                 28 PPM
//   7 JP2           18 X3F (after ORF)                 29 PCX
//   8 J2K           19 PEF (after X3F)                 30 DICOM (after PCX)
//   9 CR2           20 ARW (after PEF)                 31 DICOM without preamble
//  10 CRW           21 SRW                             32 JBIG2 (last but one)
//  11 CR3           22 IIQ (after SRW)                 33 TGA (weakest signature, last)
//
// The plain DIB is not probed here: it has no header and is only read from resources.
// A slot whose decoder is not built in has a null probe and is skipped.

#include "picts/bmp/pictdib.h"
#include "picts/dicom/pictdicom.h"
#include "picts/gif/pictgif.h"
#include "picts/icns/picticns.h"
#include "picts/jbig2/pictjbig2.h"
#include "picts/jpeg/pictjpeg.h"
#include "picts/jpeg2000/pictjp2.h"
#include "picts/pcx/pictpcx.h"
#include "picts/png/pictpng.h"
#include "picts/ppm/pictppm.h"
#include "picts/raw/canon/pictcr2.h"
#include "picts/raw/canon/pictcr3.h"
#include "picts/raw/canon/pictcrw.h"
#include "picts/raw/fuji/pictraf.h"
#include "picts/raw/hasselblad/pict3fr.h"
#include "picts/raw/leaf/pictmos.h"
#include "picts/raw/minolta/pictmrw.h"
#include "picts/raw/nikon/pictnef.h"
#include "picts/raw/olympus/pictorf.h"
#include "picts/raw/panasonic/pictrwl.h"
#include "picts/raw/pentax/pictpef.h"
#include "picts/raw/phaseone/pictiiq.h"
#include "picts/raw/samsung/pictsrw.h"
#include "picts/raw/sigma/pictx3f.h"
#include "picts/raw/sony/pictarw.h"
#include "picts/tga/picttga.h"
#include "picts/tiff/pictdng.h"
#include "picts/tiff/picttiff.h"
#include "picts/tiff/picttiffep.h"
#include "picts/xpm/pictxpm.h"

namespace {
template <class T>
cPictBase* createDecoder() {
    return new T;
}

#define QMX_NO_DECODER(kind) {kind, nullptr, nullptr}
#define QMX_DECODER(kind, cls) {kind, &cls::validFor, &createDecoder<cls>}

const sPictFactoryEntry kFactory[] = {
    QMX_DECODER(cPictBase::pkJPEG, cPictJPEG),   QMX_DECODER(cPictBase::pkPNG, cPictPNG),
    QMX_DECODER(cPictBase::pkGIF, cPictGIF),    QMX_DECODER(cPictBase::pkBMP, cPictBMP),
    QMX_DECODER(cPictBase::pkICO, cPictICO),    QMX_DECODER(cPictBase::pkICNS, cPictICNS),
    QMX_DECODER(cPictBase::pkJP2, cPictJP2),   QMX_DECODER(cPictBase::pkJ2K, cPictJ2K),
    QMX_DECODER(cPictBase::pkCR2, cPictCR2),    QMX_DECODER(cPictBase::pkCRW, cPictCRW),
    QMX_DECODER(cPictBase::pkCR3, cPictCR3),    QMX_DECODER(cPictBase::pkNEF, cPictNEF),
    QMX_DECODER(cPictBase::pk3FR, cPict3FR),    QMX_DECODER(cPictBase::pkMOS, cPictMOS),
    QMX_DECODER(cPictBase::pkMRW, cPictMRW),    QMX_DECODER(cPictBase::pkRWL, cPictRWL),
    QMX_DECODER(cPictBase::pkORF, cPictORF),    QMX_DECODER(cPictBase::pkX3F, cPictX3F),
    QMX_DECODER(cPictBase::pkPEF, cPictPEF), QMX_DECODER(cPictBase::pkARW, cPictARW),
    QMX_DECODER(cPictBase::pkSRW, cPictSRW),    QMX_DECODER(cPictBase::pkIIQ, cPictIIQ),
    QMX_DECODER(cPictBase::pkRAF, cPictRAF),    QMX_DECODER(cPictBase::pkDNG, cPictDNG),
    QMX_DECODER(cPictBase::pkTIFFEP, cPictTIFF_EP), QMX_DECODER(cPictBase::pkTIFF, cPictTIFF),
    QMX_DECODER(cPictBase::pkXPM, cPictXPM),    QMX_DECODER(cPictBase::pkPPM, cPictPPM),
    QMX_DECODER(cPictBase::pkPCX, cPictPCX),    QMX_DECODER(cPictBase::pkDICOM, cPictDICOM),
    QMX_DECODER(cPictBase::pkDICOMLegacy, cPictDICOMLegacy), QMX_DECODER(cPictBase::pkJBIG2, cPictJBIG2),
    QMX_DECODER(cPictBase::pkTGA, cPictTGA),
};
}  // namespace

const sPictFactoryEntry* pictFactoryTable(int& count) {
    count = (int)(sizeof(kFactory) / sizeof(kFactory[0]));
    return kFactory;
}

cPictBase* cPictBase::mkPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!io) return nullptr;
    unsigned long long start = io->get_fp();
    int n;
    const sPictFactoryEntry* table = pictFactoryTable(n);
    for (int i = 0; i < n; i++) {
        const sPictFactoryEntry& e = table[i];
        if (!e.validFor || !e.create) continue;
        sPictInfo probe;
        if (!io->set_fp(start)) return nullptr;
        bool ok = e.validFor(io, &probe);
        // Probes may stop anywhere; the next one, and the caller, start where we did.
        io->set_fp(start);
        if (!ok) continue;
        cPictBase* p = e.create();
        if (!p) continue;
        if (info) *info = probe;
        return p;
    }
    return nullptr;
}
