// The format factory's table: one entry per decoder kind, probed in a fixed order.
#pragma once

#include "picts/pictbase.h"

typedef bool (*tPictProbe)(cFileIOTarget* io, cPictBase::sPictInfo* info);
typedef cPictBase* (*tPictCreate)();

struct sPictFactoryEntry {
    int kind;             // cPictBase::ePictKind
    tPictProbe validFor;  // null: the decoder is not built in; the slot keeps its place
    tPictCreate create;
};

// The table in probing order, and its length.
const sPictFactoryEntry* pictFactoryTable(int& count);
