// cApplicationConfig: the interface of the configuration store (typed values on
// "/"-separated keys such as "install/<code>/ver"). The store itself lives elsewhere.
#pragma once

#include "base/buffers.h"

class cApplicationConfig {
public:
    // Called with each subsection name; false stops the enumeration.
    typedef bool (*tEnumCallback)(const char* name, void* parameter);

    virtual ~cApplicationConfig() {}

    // Reads a stored integer of 1 to 8 bytes, zero-extended; `value` is left
    // untouched and the result is false when the key is absent or not an integer.
    virtual bool getParamInt(const char* key, unsigned long long& value) = 0;
    // Reads a stored text; false (and `value` untouched) when absent or not a text.
    virtual bool getParamStr(const char* key, _guardchar<char>& value) = 0;

    // Store an integer of the given width under the key, replacing any value.
    virtual bool setParamInt16(const char* key, unsigned short value) = 0;
    virtual bool setParamInt32(const char* key, unsigned int value) = 0;
    virtual bool setParamInt64(const char* key, unsigned long long value) = 0;
    // Stores the first `length` bytes of the text (-1: the whole text).
    virtual bool setParamStr(const char* key, const char* text, long long length = -1) = 0;

    // Removes one value, or a section with every value and subsection below it.
    virtual bool removeParam(const char* key) = 0;
    virtual bool removeSection(const char* path) = 0;
    virtual bool hasSection(const char* path) = 0;
    // Calls `callback` with the name (not the full path) of each direct subsection of
    // `section` until it returns false; false when the section does not exist.
    virtual bool enumSubsections(const char* section, tEnumCallback callback, void* parameter) = 0;

    // Writes the changed parts of the store safely (beside, then renamed into place).
    virtual bool saveConfig() = 0;
    // Forgets every change since the last load or save.
    virtual void discardChanges() = 0;
    // Makes the next access read the store as it is on disk now (another process may have
    // saved it since this object read it), this object's changes saved first: merged over
    // what others saved, never dropped. False, every change kept, when that save fails.
    virtual bool readAnew() {
        if (!saveConfig()) return false;
        discardChanges();
        return true;
    }

    // The folder the store lives in; null for one without a folder (in memory).
    virtual const char* folder() const { return nullptr; }
    // Parts of the store left alone because they could not be read (changes to them
    // cannot be saved); 0 for a store that reads everything.
    virtual int unreadableCount() { return 0; }

    // The low 32 bits of a stored integer, or `defaultValue` when there is none.
    int getParamInt32(const char* key, int defaultValue = 0) {
        unsigned long long v = 0;
        return getParamInt(key, v) ? (int)(unsigned int)v : defaultValue;
    }
};
