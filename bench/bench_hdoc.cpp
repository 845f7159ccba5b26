// Rich documents: compiling a 1 MiB markup source with 20 PNG pictures and loading the
// result, with the compile split into parsing, picture probing and level-5 deflate.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/fileio.h"
#include "base/memio.h"
#include "cihlpdoc/hdlparse.h"
#include "cihlpdoc/sidocloader.h"
#include "compression/zlibstreams.h"
#include "picts/pictbase.h"

namespace {

std::vector<unsigned char> makePng(unsigned w, unsigned h, unsigned seed) {
    std::vector<unsigned char> raw;
    for (unsigned y = 0; y < h; y++) {
        raw.push_back(0);
        for (unsigned x = 0; x < w * 4; x++) raw.push_back((unsigned char)((x * seed) ^ (y * 7)));
    }
    uLongf zn = compressBound(raw.size());
    std::vector<unsigned char> z(zn);
    compress(z.data(), &zn, raw.data(), raw.size());
    z.resize(zn);
    std::vector<unsigned char> out = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    auto be = [](std::vector<unsigned char>& v, unsigned x) {
        for (int s = 24; s >= 0; s -= 8) v.push_back((unsigned char)(x >> s));
    };
    auto chunk = [&](const char* kind, const std::vector<unsigned char>& body) {
        be(out, (unsigned)body.size());
        std::vector<unsigned char> kb(kind, kind + 4);
        kb.insert(kb.end(), body.begin(), body.end());
        out.insert(out.end(), kb.begin(), kb.end());
        be(out, (unsigned)crc32(0, kb.data(), (uInt)kb.size()));
    };
    std::vector<unsigned char> ihdr;
    be(ihdr, w);
    be(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", z);
    chunk("IEND", {});
    return out;
}

void writeAll(const std::string& path, const void* data, size_t n) {
    cFileIO f;
    if (f.create(path.c_str())) f.writef(data, (long long)n);
}

// The fixture: a private folder with the index, the source and the pictures.
struct sDoc {
    std::string dir;
    std::string source;        // with the 20 pictures
    std::string sourcePlain;   // the same text without them
    std::vector<std::string> pictures;
    std::vector<unsigned char> compiled;

    sDoc() {
        char tmpl[] = "/tmp/bench_hdoc.XXXXXX";
        dir = mkdtemp(tmpl);
        for (int i = 0; i < 20; i++) {
            auto png = makePng(96, 64, 3 + i);
            pictures.push_back(dir + "/p" + std::to_string(i) + ".png");
            writeAll(pictures.back(), png.data(), png.size());
        }
        static const char* words[] = {"installer", "licence", "the", "software", "<b>agreement</b>", "of",
                                      "<i>terms</i>", "user", "<lt>", "copy", "and", "<br>"};
        unsigned k = 1;
        int block = 0;
        while (sourcePlain.size() < (1u << 20)) {
            std::string para = "<text ml=4 mr=4 mt=2 fg=0x202020 a=j f=verd,14>";
            for (int w = 0; w < 60; w++) {
                k = k * 1103515245u + 12345u;
                para += words[(k >> 16) % 12];
                para += (w % 9 == 8) ? "\n" : " ";
            }
            para += "<link ref=\"https://example.com/page" + std::to_string(block % 50) + "\">more</link></text>\n";
            sourcePlain += para;
            if (block % 20 == 0 && block / 20 < 20) para += "<img src=./p" + std::to_string(block / 20) + ".png>\n";
            source += para;
            block++;
        }
        writeAll(dir + "/en.txt", source.data(), source.size());
        std::string index = "ENG = \"./en.txt\"\n";
        writeAll(dir + "/index.txt", index.data(), index.size());
        cMemIOTarget out;
        cHDLParser parser;
        cHDLParser::sErrInfo err;
        if (parser.parse((dir + "/index.txt").c_str(), &out, err)) {
            _typebuf<unsigned char> b;
            out.toBuffer(b);
            compiled.assign(b.ptr, b.ptr + b.count);
        }
    }
    ~sDoc() {
        for (auto& p : pictures) cFileIO::remove(p.c_str());
        cFileIO::remove((dir + "/en.txt").c_str());
        cFileIO::remove((dir + "/index.txt").c_str());
        rmdir(dir.c_str());
    }
};

sDoc& doc() {
    static sDoc d;
    return d;
}

void BM_CompileAll(benchmark::State& state) {
    sDoc& d = doc();
    std::string index = d.dir + "/index.txt";
    for (auto _ : state) {
        cMemIOTarget out;
        cHDLParser parser;
        cHDLParser::sErrInfo err;
        if (!parser.parse(index.c_str(), &out, err)) state.SkipWithError("compile failed");
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)d.source.size());
}

// Tokens, tags, attributes and record writing, without pictures.
void BM_ParseOnly(benchmark::State& state) {
    sDoc& d = doc();
    std::vector<char> text(d.sourcePlain.begin(), d.sourcePlain.end());
    text.push_back(0);
    for (auto _ : state) {
        sHDLConfig cfg;
        cfg.currLang = 0;
        if (!cHDLParser::processHDL(cfg, text.data())) state.SkipWithError("parse failed");
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)d.sourcePlain.size());
}

// What the compiler does per picture: open, recognise, read whole.
void BM_ImageProbe(benchmark::State& state) {
    sDoc& d = doc();
    for (auto _ : state) {
        for (auto& p : d.pictures) {
            cFileIO f;
            cPictBase::sPictInfo info;
            if (!f.open(p.c_str())) continue;
            delete cPictBase::mkPicture(&f, &info);
            _typebuf<unsigned char> b;
            b.set((long long)f.size());
            f.set_fp(0);
            f.readf(b.ptr, b.count);
        }
    }
}

void BM_Deflate5(benchmark::State& state) {
    sDoc& d = doc();
    std::vector<char> text(d.sourcePlain.begin(), d.sourcePlain.end());
    text.push_back(0);
    sHDLConfig cfg;
    cfg.currLang = 0;
    cHDLParser::processHDL(cfg, text.data());
    _typebuf<unsigned char> plain;
    cfg.langs.find(0)->stream.toBuffer(plain);
    for (auto _ : state) {
        _typebuf<unsigned char> packed;
        cZDeflate::compress(plain.ptr, plain.count, packed, 5);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * plain.count);
    state.counters["stream_bytes"] = (double)plain.count;
}

void BM_Load(benchmark::State& state) {
    sDoc& d = doc();
    for (auto _ : state) {
        cSiDocLoader loader;
        if (!loader.load(d.compiled.data(), (long long)d.compiled.size())) state.SkipWithError("load failed");
    }
    state.counters["doc_bytes"] = (double)d.compiled.size();
}

}  // namespace

BENCHMARK(BM_CompileAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageProbe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Deflate5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
