// The progress bar: the animation thread's command loop (start fades in, a position
// slides over ten ticks, stop fades out) and the bar picture blended between the
// active colours and the passive background.
#include "ui/controls/progressbar.h"

#include <cmath>

#include "ciplatform/canvas.h"
#include "ui/theme.h"

namespace {

// Filled and empty part, top to bottom, as 0xRRGGBB pixels.
const unsigned int clrDataProg[20] = {0xA9EF9E, 0x9AE587, 0x97E383, 0x8FE078, 0x87DE6D, 0x84DD69, 0x84DD69,
                                      0x84DD69, 0x84DD69, 0x84DD69, 0x84DD69, 0x84DD69, 0x84DD69, 0x84DD69,
                                      0xC6EBB7, 0xC8EBBA, 0xCCEDBF, 0xD5EFCC, 0xD6F2CF, 0xE2FCE0};
const unsigned int clrDataBack[20] = {0xF3F1F0, 0xE6E1DD, 0xE4DFDB, 0xE2DDD9, 0xE1DDD9, 0xE0DCD8, 0xE0DCD8,
                                      0xE0DCD8, 0xE0DCD8, 0xE0DCD9, 0xE0DCD9, 0xE0DCD9, 0xE0DDD9, 0xE1DDDA,
                                      0xE9E6E3, 0xEBE8E4, 0xF0ECE9, 0xF4F0ED, 0xFAF7F3, 0xF8F8F7};

const int kTickSleeps = 6;
const int kSleepMs = 5;

// 0x00BBGGRR as the picture's 0x00RRGGBB.
unsigned int toPixelOrder(unsigned int bgr) {
    return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}

bool makeColumn(const unsigned int* table, int rows, cPicture& out) {
    if (rows <= 0) return false;
    if (out.width() == 1 && out.height() == rows) return true;
    unsigned int src[20];
    for (int i = 0; i < 20; i++) src[i] = table[i] | 0xFF000000u;
    _typebuf<unsigned int> px(rows);
    if (!px.ptr || !cPicture::hStretch(src, 20, 1, rows, px.ptr)) return false;
    return out.create(px.ptr, 1, rows, false);
}

}  // namespace

// ---- the animation thread ----

cProgressViewUpdateJob::~cProgressViewUpdateJob() { terminate(4000); }

int cProgressViewUpdateJob::setCmd(int cmd) {
    cSafeCriticalSectionAccess lock(&myLock);
    myCmd = cmd;
    return cmd;
}

void cProgressViewUpdateJob::setPosInt(int p) {
    cSafeCriticalSectionAccess lock(&myLock);
    myCurrent = p;
}

void cProgressViewUpdateJob::setRangeInt(int r) {
    cSafeCriticalSectionAccess lock(&myLock);
    myRange = r;
}

int cProgressViewUpdateJob::cmd() { return myCmd; }

int cProgressViewUpdateJob::currentPos() {
    cSafeCriticalSectionAccess lock(&myLock);
    return myCurrent;
}

bool cProgressViewUpdateJob::started() {
    cSafeCriticalSectionAccess lock(&myLock);
    return myStarted;
}

void cProgressViewUpdateJob::postPos(int p) {
    if (myTarget) myTarget->notifyAction(new cProgressChild::cSetProgressRequestAction(p));
}

void cProgressViewUpdateJob::postOpacity(double o) {
    if (myTarget) myTarget->notifyAction(new cProgressChild::cSetOpacityRequestAction(o));
}

void cProgressViewUpdateJob::startProgress() {
    {
        cSafeCriticalSectionAccess lock(&myLock);
        if (myStarted) return;
    }
    postPos(0);
    cSafeCriticalSectionAccess lock(&myLock);
    myCurrent = 0;
    myCmd = cmdStart;
    myStarted = true;
}

void cProgressViewUpdateJob::setPos(int p, bool noWait) {
    startProgress();
    if (!noWait) {
        // Only a running thread takes commands; never wait longer than kMaxWaitMs.
        for (int waited = 0; waited < kMaxWaitMs && runs(); waited += 10) {
            int c = myCmd;
            if (c != cmdStart && c != cmdStop) break;
            sleep(10);
        }
    }
    cSafeCriticalSectionAccess lock(&myLock);
    myCmd = cmdSetPos;
    myRequested = p;
}

void cProgressViewUpdateJob::stopProgress(bool immediate) {
    if (!started()) return;
    if (!immediate) {
        int range;
        {
            cSafeCriticalSectionAccess lock(&myLock);
            range = myRange;
        }
        setPos(range, false);
        for (int i = 0; i < 40; i++) {
            if (haveToStop()) return;
            sleep(kSleepMs);
        }
    }
    cSafeCriticalSectionAccess lock(&myLock);
    myCmd = cmdStop;
    myStarted = false;
}

bool cProgressViewUpdateJob::tick() {
    for (int i = 0; i < kTickSleeps; i++) {
        sleep(kSleepMs);
        if (haveToStop()) return false;
    }
    return true;
}

unsigned int cProgressViewUpdateJob::job() {
    int level = 10;  // tenths of the passive look
    while (!haveToStop()) {
        if (!tick()) break;
        int c = myCmd;
        if (c == cmdNone) continue;
        if (c == cmdSetPos) {
            int target, start;
            {
                cSafeCriticalSectionAccess lock(&myLock);
                myCmd = cmdNone;
                myAnimTarget = target = myRequested;
                start = myCurrent > target ? 0 : myCurrent;
            }
            if (level != 0) postOpacity(0.0);
            if (target != start) {
                double at = start, step = (double)(target - start) / 10.0;
                for (int i = 0; i < 10; i++) {
                    postPos((int)at);
                    at += step;
                    if (!tick()) return 0;
                    if (myCmd != cmdNone) break;
                }
                postPos(target);
                setPosInt(target);
            }
            level = 0;
        } else if (c == cmdStop) {
            setCmd(cmdNone);
            if (level == 10) continue;
            while (level < 10) {
                postOpacity(level * 0.1);
                if (!tick()) return 0;
                level++;
                if (myCmd != cmdNone) break;
            }
            postOpacity(1.0);
            level = 10;
        } else if (c == cmdStart) {
            setCmd(cmdNone);
            if (level == 0) continue;
            for (int l = level; l >= 1; l--) {
                postOpacity(l * 0.1);
                if (!tick()) return 0;
                if (myCmd != cmdNone) break;
            }
            postOpacity(0.0);
            level = 0;
        } else {
            setCmd(cmdNone);
        }
    }
    return 0;
}

// ---- the element ----

cProgressChild::~cProgressChild() {
    // The thread posts to this element: it ends before the pictures and the element go.
    myJob.terminate(4000);
    myJob.setTarget(nullptr);
}

void cProgressChild::onInitData() {
    cChildElement::onInitData();
    myJob.setTarget(this);
    if (!myJob.runs()) myJob.start();
    myRange = 0;
    myPos = 0;
    myOpacity = 1.0;
    myPassiveBg = cCITheme::theme()->getColor(14);
    myPassiveBorder = cCITheme::theme()->getColor(21);
    buildProgressMap();
}

void cProgressChild::setRange(int r) {
    if (r <= 0) return;
    myRange = r;
    if (myPos > r) myPos = r;
    myJob.setRangeInt(r);
    myJob.setPosInt(myPos);
}

void cProgressChild::setPos(int p, bool noWait) {
    if (p < 0) p = 0;
    if (p > myRange) p = myRange;
    myJob.setPos(p, noWait);
}

int cProgressChild::getPos() { return myJob.currentPos(); }

void cProgressChild::setPassiveBgColor(unsigned int colour, bool repaint) {
    myPassiveBg = colour;
    buildProgressMap();
    if (repaint) this->repaint();
}

void cProgressChild::setPassiveBorderColor(unsigned int colour, bool repaint) {
    myPassiveBorder = colour;
    if (repaint) this->repaint();
}

bool cProgressChild::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == this) {
        if (auto* p = dynamic_cast<cSetProgressRequestAction*>(action)) {
            myPos = p->pos;
            buildProgressMap();
            repaint();
            return true;
        }
        if (auto* o = dynamic_cast<cSetOpacityRequestAction*>(action)) {
            myOpacity = o->opacity;
            buildProgressMap();
            repaint();
            return true;
        }
    }
    return cChildElement::onAction(sender, action);
}

void cProgressChild::onSizeChanged() {
    cChildElement::onSizeChanged();
    buildProgressMap();
}

void cProgressChild::buildProgressMap() {
    int w = width(), h = height();
    if (w < 3 || h < 3) return;
    int pos = myPos < 0 ? 0 : myPos > myRange ? myRange : myPos;
    int filled = myRange > 0 ? (int)((long long)w * pos / myRange) : 0;
    if (!makeColumn(clrDataProg, h - 2, myProgressColumn) || !makeColumn(clrDataBack, h - 2, myBackColumn)) return;
    if (myBar.width() != w || myBar.height() != h) {
        if (!myBar.create(0xFF000000u, w, h)) return;
    }
    unsigned int* px = myBar.raw();
    const unsigned int frame = 0xFF000000u | (241u << 16) | (213u << 8) | 198u;
    for (int x = 0; x < w; x++) px[x] = px[(long long)(h - 1) * w + x] = frame;
    double o = myOpacity < 0 ? 0 : myOpacity > 1 ? 1 : myOpacity;
    // The passive colour is 0x00BBGGRR: turned to the pixels' order before mixing.
    unsigned int k = toPixelOrder(myPassiveBg);
    for (int r = 1; r < h - 1; r++) {
        unsigned int* row = px + (long long)r * w;
        row[0] = row[w - 1] = frame;
        unsigned int prog = myProgressColumn.raw()[r - 1], back = myBackColumn.raw()[r - 1];
        for (int x = 1; x < w - 1; x++) {
            unsigned int b = x < filled ? prog : back, out = 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                double kb = (k >> shift) & 0xFF, bb = (b >> shift) & 0xFF;
                out |= (unsigned int)(kb * o + bb * (1 - o)) << shift;
            }
            row[x] = out;
        }
    }
}

void cProgressChild::paintAt(cCanvas* canvas, int x, int y, unsigned int frame) {
    int w = width(), h = height();
    if (myJob.runs() && w >= 3 && h >= 3 && myJob.started() && myBar.width() == w && myBar.height() == h) {
        canvas->drawBitmap(x, y, &myBar, -1, -1);
        return;
    }
    sRect r = {x, y, w, h};
    canvas->drawRect(&r, myPassiveBg, frame);
}

void cProgressChild::onPaint(cCanvas* canvas) { paintAt(canvas, 0, 0, myPassiveBorder); }

bool cProgressChild::onBackgroundRequest(cCanvas* canvas, sRect* rect) {
    if (!canvas || !rect) return false;
    paintAt(canvas, -rect->x, -rect->y, cCITheme::theme()->getColor(21));
    return true;
}
