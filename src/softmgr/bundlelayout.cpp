// The bundle layout: the parts' paths, a bundle found from its program's path, the
// property list and the copy of a file into a bundle being assembled.
#include "softmgr/bundlelayout.h"

#include <cstring>

#include "base/fileio.h"
#include "base/strings.h"

const char kBundleSuffix[] = ".app";
const char kInstallerProgram[] = "Installer";
const char kManagerProgram[] = "SoftManager";
const char kBundlePkgInfo[] = "APPL????";

namespace {

// In the order of eBundlePart.
const char* const kParts[] = {
    "/Contents",
    "/Contents/Info.plist",
    "/Contents/PkgInfo",
    "/Contents/Resources",
    "/Contents/Resources/icon.icns",
    "/Contents/Resources/scenario.data",
    "/Contents/MacOS",
    "/Contents/MacOS/Installer",
    "/Contents/MacOS/SoftManager",
};

// One format for every Info.plist, filled by a single formatted write: program,
// identifier, name, major, minor, major, minor, compiler, copyright.
const char kInfoPlistTemplate[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n"
    "\t<key>BuildMachineOSBuild</key>\n"
    "\t<string>13F34</string>\n"
    "\t<key>CFBundleDevelopmentRegion</key>\n"
    "\t<string>en</string>\n"
    "\t<key>CFBundleExecutable</key>\n"
    "\t<string>%s</string>\n"
    "\t<key>CFBundleIconFile</key>\n"
    "\t<string>icon.icns</string>\n"
    "\t<key>CFBundleIdentifier</key>\n"
    "\t<string>%s</string>\n"
    "\t<key>CFBundleInfoDictionaryVersion</key>\n"
    "\t<string>6.0</string>\n"
    "\t<key>CFBundleName</key>\n"
    "\t<string>%s</string>\n"
    "\t<key>CFBundlePackageType</key>\n"
    "\t<string>APPL</string>\n"
    "\t<key>CFBundleShortVersionString</key>\n"
    "\t<string>%d.%d</string>\n"
    "\t<key>CFBundleSignature</key>\n"
    "\t<string>????" "</string>\n"
    "\t<key>CFBundleVersion</key>\n"
    "\t<string>%d.%d</string>\n"
    "\t<key>DTCompiler</key>\n"
    "\t<string>%s</string>\n"
    "\t<key>DTPlatformBuild</key>\n"
    "\t<string>6A1052d</string>\n"
    "\t<key>DTPlatformVersion</key>\n"
    "\t<string>GM</string>\n"
    "\t<key>DTSDKBuild</key>\n"
    "\t<string>13F26</string>\n"
    "\t<key>DTSDKName</key>\n"
    "\t<string>macosx10.9</string>\n"
    "\t<key>DTXcode</key>\n"
    "\t<string>0610</string>\n"
    "\t<key>DTXcodeBuild</key>\n"
    "\t<string>6A1052d</string>\n"
    "\t<key>LSApplicationCategoryType</key>\n"
    "\t<string>public.app-category.utilities</string>\n"
    "\t<key>LSMinimumSystemVersion</key>\n"
    "\t<string>10.9</string>\n"
    "\t<key>NSHumanReadableCopyright</key>\n"
    "\t<string>%s</string>\n"
    "\t<key>NSMainNibFile</key>\n"
    "\t<string>MainMenu</string>\n"
    "\t<key>NSPrincipalClass</key>\n"
    "\t<string>NSApplication</string>\n"
    "</dict>\n"
    "</plist>\n";

const long long kCopyChunk = 256 * 1024;

// Length of a valid UTF-8 sequence at p (at most `left` bytes), 0 when invalid.
int utf8Length(const unsigned char* p, long long left) {
    unsigned char c = p[0];
    int n;
    unsigned int cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (int i = 1; i < n; i++) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8; U+FFFE and
    // U+FFFF are not XML characters.
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
        cp == 0xFFFE || cp == 0xFFFF)
        return 0;
    return n;
}

}  // namespace

const char* bundlePart(eBundlePart part) {
    return part >= eBundleContents && part <= eBundleManager ? kParts[part] : kParts[eBundleContents];
}

bool bundlePath(const char* root, eBundlePart part, _guardchar<char>& out) {
    return concatText(root, bundlePart(part), out);
}

bool contentsPath(const char* contents, eBundlePart part, _guardchar<char>& out) {
    return concatText(contents, bundlePart(part) + strlen(kParts[eBundleContents]), out);
}

bool folderAbove(const char* path, int levels, _guardchar<char>& out) {
    if (!path) return false;
    long long end = (long long)strlen(path);
    for (int i = 0; i < levels; i++) {
        do
            end--;
        while (end >= 0 && path[end] != '/');
        if (end < 0) return false;
    }
    return out.set(path, end);
}

bool bundleContentsOf(const char* program, _guardchar<char>& contents) { return folderAbove(program, 2, contents); }

bool bundleRootOf(const char* program, _guardchar<char>& root) { return folderAbove(program, 3, root); }

bool laidOutBundleRootOf(const char* program, _guardchar<char>& root) {
    _guardchar<char> r, macos, contents, folder;
    if (!folderAbove(program, 3, r) || !folderAbove(program, 1, macos) || !folderAbove(program, 2, contents) ||
        !folderAbove(r.ptr, 1, folder) || folder.empty())
        return false;
    // Each level's own name: what follows the level above it and its "/".
    if (strcmp(macos.ptr + contents.length() + 1, "MacOS") != 0 ||
        strcmp(contents.ptr + r.length() + 1, "Contents") != 0 || !isBundleName(r.ptr + folder.length() + 1))
        return false;
    root.attach(r.dettach());
    return true;
}

bool isBundleName(const char* name) {
    const char* dot = name ? strrchr(name, '.') : nullptr;
    return dot && dot != name && __stricmp(dot, kBundleSuffix) == 0;
}

bool xmlEscape(const char* text, _guardchar<char>& out) {
    if (!text) text = "";
    const unsigned char* p = (const unsigned char*)text;
    long long n = (long long)strlen(text);
    // Worst case: every byte becomes "&quot;" (6) or U+FFFD (3).
    _typebuf<char> buf;
    if (!buf.set(n * 6 + 1)) return false;
    long long o = 0;
    for (long long i = 0; i < n;) {
        unsigned char c = p[i];
        const char* rep = nullptr;
        switch (c) {
            case '&': rep = "&amp;"; break;
            case '<': rep = "&lt;"; break;
            case '>': rep = "&gt;"; break;
            case '"': rep = "&quot;"; break;
            case '\'': rep = "&apos;"; break;
            default: break;
        }
        if (rep) {
            size_t k = strlen(rep);
            memcpy(buf.ptr + o, rep, k);
            o += (long long)k;
            i++;
            continue;
        }
        if (c < 0x20) {
            if (c == '\t' || c == '\n' || c == '\r') buf.ptr[o++] = (char)c;
            i++;
            continue;
        }
        int len = utf8Length(p + i, n - i);
        if (len == 0) {
            memcpy(buf.ptr + o, "\xEF\xBF\xBD", 3);
            o += 3;
            i++;
            continue;
        }
        memcpy(buf.ptr + o, p + i, (size_t)len);
        o += len;
        i += len;
    }
    buf.ptr[o] = 0;
    return out.set(buf.ptr, o);
}

bool bundleInfoPlist(const sBundleInfo& info, _guardchar<char>& out) {
    const char* texts[] = {info.program, info.identifier, info.name, info.compiler, info.copyright};
    _guardchar<char> e[5];
    long long size = (long long)sizeof(kInfoPlistTemplate) + 4 * 12;
    for (int i = 0; i < 5; i++) {
        if (!xmlEscape(texts[i], e[i])) return false;
        size += e[i].length();
    }
    auto s = [&](int i) { return e[i].ptr ? e[i].ptr : ""; };
    if (!out.set(size)) return false;
    int w = _sprintf_s(out.ptr, size + 1, kInfoPlistTemplate, s(0), s(1), s(2), info.major, info.minor, info.major,
                       info.minor, s(3), s(4));
    return w > 0 && w <= size;
}

bool buildInfoPlist(const char* name, int major, int minor, const char* copyright, _guardchar<char>& out) {
    // Nothing a name ends in joins the blank that follows into one character, so the
    // name escaped with its suffix reads as the name escaped, then the suffix.
    _guardchar<char> bundleName;
    if (!concatText(name, " Installer", bundleName)) return false;
    sBundleInfo info;
    info.program = kInstallerProgram;
    info.identifier = "org.qmx.softmgr.installer";
    info.name = bundleName.ptr;
    info.compiler = "org.qmx.compilers.cxx17";
    info.copyright = copyright;
    info.major = major;
    info.minor = minor;
    return bundleInfoPlist(info, out);
}

bool managerInfoPlist(int major, int minor, _guardchar<char>& out) {
    sBundleInfo info;
    info.program = kManagerProgram;
    info.identifier = "org.qmx.softmanager";
    info.name = "QMX Software Manager";
    info.compiler = "com.apple.compilers.llvm.clang.1_0";
    info.copyright = "Copyright QMX";
    info.major = major;
    info.minor = minor;
    return bundleInfoPlist(info, out);
}

int copyIntoBundle(const char* from, const char* to) {
    cFileIO in;
    if (!in.open(from, cFileIO::eRead)) return eCopyNoSource;
    cFileIO out;
    if (!out.create(to, cFileIO::eWrite)) return eCopyNoTarget;
    _typebuf<unsigned char> buf;
    if (!buf.set(kCopyChunk)) return eCopyReadFailed;
    for (;;) {
        long long got = in.read(buf.ptr, buf.count);
        if (got < 0) return eCopyReadFailed;
        if (got == 0) break;
        if (!out.writef(buf.ptr, got)) return eCopyWriteFailed;
    }
    bool ok = out.sync();
    out.close();
    return ok ? eCopyDone : eCopyWriteFailed;
}
