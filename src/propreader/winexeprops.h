// cWinExeProps: version strings, link time and icon of a Windows PE file (executable or
// library), read from its resource section through a stream on any platform.
#pragma once

#include "base/lists.h"
#include "base/stringkey.h"
#include "propreader/fileobjectprops.h"

class cWinExeProps : public cFileObjectProps {
public:
#pragma pack(push, 1)
    // The 40-byte section header as stored.
    struct sImageSectionHeader {
        unsigned char Name[8];
        unsigned int VirtualSize;
        unsigned int VirtualAddress;
        unsigned int SizeOfRawData;
        unsigned int PointerToRawData;
        unsigned int PointerToRelocations;
        unsigned int PointerToLinenumbers;
        unsigned short NumberOfRelocations;
        unsigned short NumberOfLinenumbers;
        unsigned int Characteristics;
    };
#pragma pack(pop)
    // One resource of the tree: its RVA, size and language id.
    struct sResRef {
        unsigned int address;
        unsigned int size;
        unsigned int language;
    };
    // Type -> name or id -> language entries in directory order. Keys are the entries'
    // Name fields as signed ints: ids positive, names (high bit set) negative.
    typedef cFasterTreeList<int, _List<sResRef> > tResNames;
    typedef cFasterTreeList<int, tResNames> tResTree;
    // Version strings by their stored key (case-sensitive), UTF-8.
    typedef cFasterTreeList<cStringKey, _guardchar<char> > tStrMap;

    // Limits on what a file may make us read or walk.
    static const unsigned int kMaxResSection = 64u << 20;  // bytes of .rsrc read into memory
    static const int kMaxResEntries = 1 << 16;             // directory entries over the whole tree
    static const int kMaxVersionDepth = 8;                 // nesting of version nodes
    static const unsigned int kMaxIconBytes = 4u << 20;    // one icon image resource
    static const int kMaxIconSide = 256;                   // pixels a side: the most an icon directory can name

    int typeOf() override { return ftExe; }
    // Reads version strings (properties 6-9, 11), the link time (13) and, when both preview
    // wishes are non-zero, one icon (3). True once the resource tree was parsed; the int
    // and the bool are not used.
    bool load(cFileIOTarget* io, int flags, bool wantPreview) override;

    // True when the stream, read from its current position, is a PE file whose ".rsrc"
    // section has a non-zero size and offset and lies inside the stream.
    static bool validFor(cFileIOTarget* io);

    // Walks a list of version nodes (the whole stream, at most 64 KiB) into map; true on
    // success. Nodes nest at most kMaxVersionDepth deep.
    static bool loadStrProps(cFileIOTarget* io, tStrMap& map);

    // The directory walk over the section bytes b of size s. False for a malformed tree:
    // an entry or directory outside the section, a wrong kind of entry, a directory
    // reached twice, or more than kMaxResEntries entries.
    static bool parseResources(const unsigned char* b, unsigned int s, tResTree& tree);

private:
    struct sWalk;
    static bool parseResNames(const unsigned char* b, unsigned int s, unsigned int o, tResNames& names, sWalk& walk);
    static bool parseResLangs(const unsigned char* b, unsigned int s, unsigned int o, _List<sResRef>& langs,
                              sWalk& walk);
    // The header checks: the resource section header and the link time; base is the
    // stream position where the file starts.
    static bool readHeaders(cFileIOTarget* io, unsigned long long base, sImageSectionHeader& rsrc,
                            unsigned int& timeStamp);
    static bool walkNodes(const unsigned char* p, long long n, tStrMap& map, int depth);

    void loadVersion(cFileIOTarget* io, unsigned long long base, const sImageSectionHeader& rsrc, tResTree& tree);
    void loadIcon(cFileIOTarget* io, unsigned long long base, const sImageSectionHeader& rsrc, tResTree& tree);
};
