// An in-memory configuration store for tests: typed values by key, sections implied by
// key prefixes, with a record of the width each integer was written with.
#pragma once

#include <map>
#include <string>

#include "base/appconfig.h"

class cMemConfig : public cApplicationConfig {
public:
    struct Value {
        bool isInt = false;
        int width = 0;  // bytes of an integer
        unsigned long long number = 0;
        std::string text;
    };
    std::map<std::string, Value> values;
    int saves = 0;
    std::string folderPath;  // the folder it stands for; none when empty

    const char* folder() const override { return folderPath.empty() ? nullptr : folderPath.c_str(); }

    bool getParamInt(const char* key, unsigned long long& value) override {
        auto it = values.find(key);
        if (it == values.end() || !it->second.isInt) return false;
        value = it->second.number;
        return true;
    }
    bool getParamStr(const char* key, _guardchar<char>& value) override {
        auto it = values.find(key);
        if (it == values.end() || it->second.isInt) return false;
        return value.set(it->second.text.c_str());
    }
    bool setParamInt16(const char* key, unsigned short v) override { return setInt(key, 2, v); }
    bool setParamInt32(const char* key, unsigned int v) override { return setInt(key, 4, v); }
    bool setParamInt64(const char* key, unsigned long long v) override { return setInt(key, 8, v); }
    bool setParamStr(const char* key, const char* text, long long length) override {
        Value v;
        v.text = length < 0 ? std::string(text) : std::string(text, (size_t)length);
        values[key] = v;
        return true;
    }
    bool removeParam(const char* key) override { return values.erase(key) > 0; }
    bool removeSection(const char* path) override {
        std::string prefix = std::string(path) + "/";
        bool any = false;
        for (auto it = values.begin(); it != values.end();) {
            if (it->first.compare(0, prefix.size(), prefix) == 0) {
                it = values.erase(it);
                any = true;
            } else {
                ++it;
            }
        }
        return any;
    }
    bool hasSection(const char* path) override {
        std::string prefix = std::string(path) + "/";
        auto it = values.lower_bound(prefix);
        return it != values.end() && it->first.compare(0, prefix.size(), prefix) == 0;
    }
    // Each distinct name one level below the section, in key order.
    bool enumSubsections(const char* section, tEnumCallback callback, void* parameter) override {
        std::string prefix = std::string(section) + "/", last;
        for (auto it = values.lower_bound(prefix); it != values.end(); ++it) {
            if (it->first.compare(0, prefix.size(), prefix) != 0) break;
            std::string rest = it->first.substr(prefix.size());
            size_t slash = rest.find('/');
            if (slash == std::string::npos) continue;
            std::string name = rest.substr(0, slash);
            if (name == last) continue;
            last = name;
            if (!callback(name.c_str(), parameter)) break;
        }
        return true;
    }
    bool saveConfig() override {
        saves++;
        return true;
    }
    void discardChanges() override {}

private:
    bool setInt(const char* key, int width, unsigned long long n) {
        Value v;
        v.isInt = true;
        v.width = width;
        v.number = n;
        values[key] = v;
        return true;
    }
};
