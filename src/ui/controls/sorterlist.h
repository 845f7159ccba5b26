// cSerializedKey and cUUSorterList: an ordered map that accepts equal keys and walks them
// in insertion order, by pairing each key with a serial number.
#pragma once

#include "base/fastertreelist.h"

template <class K>
struct cSerializedKey {
    K key;
    int serial = 0;

    cSerializedKey() : key() {}
    cSerializedKey(const K& k) : key(k), serial(0) {}
    cSerializedKey(const K& k, int s) : key(k), serial(s) {}
    bool operator<(const cSerializedKey& o) const { return key < o.key || (!(o.key < key) && serial < o.serial); }
    bool operator>(const cSerializedKey& o) const { return o < *this; }
    bool operator<=(const cSerializedKey& o) const { return !(o < *this); }
};

template <class K, class V>
class cUUSorterList : public cFasterTreeList<cSerializedKey<K>, V> {
public:
    typedef cFasterTreeList<cSerializedKey<K>, V> tBase;
    cUUSorterList() : tBase(1024) {}

    // Equal keys get the serials 0, 1, 2, ... in insertion order; null once the serial
    // range of one key is used up.
    V* insert_nonunique(const K& key) {
        int serial = 0;
        auto* e = tBase::find_le(cSerializedKey<K>(key, 0x7FFFFFFF));
        if (e && !(e->key().key < key) && !(key < e->key().key)) {
            if (e->key().serial == 0x7FFFFFFF) return nullptr;
            serial = e->key().serial + 1;
        }
        return tBase::insert_new(cSerializedKey<K>(key, serial));
    }
};
