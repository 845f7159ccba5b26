// Histogram levels and gamma curves.
#include "picts/tone.h"

#include <cmath>

bool getHystogramParams(_typebuf<unsigned int>& bins, int bits, unsigned int& low, unsigned int& middle,
                        unsigned int& high, double fraction) {
    low = middle = high = 0xFFFFFFFFu;
    if (bits != 8 && bits != 16) return false;
    long long n = bins.count;
    long long levels = 1LL << bits;
    if (n <= 0 || n > levels || (n & (n - 1)) != 0 || !(fraction > 0.0) || fraction > 1.0) return false;
    long long total = 0;
    for (long long i = 0; i < n; i++) total += bins.ptr[i];
    if (total == 0) return false;
    long long step = levels / n;
    long long tail = (long long)((1.0 - fraction) * (double)total);
    long long thresholds[3] = {tail, total / 2 - tail, total - tail};
    bool found[3] = {false, false, false};
    unsigned int level[3] = {0, 0, 0};
    long long running = 0;
    for (long long i = 0; i < n; i++) {
        running += bins.ptr[i];
        for (int k = 0; k < 3; k++) {
            if (found[k] || running < thresholds[k]) continue;
            long long v = i * step;
            if (bins.ptr[i]) v += (running - thresholds[k]) * step / (long long)bins.ptr[i];
            level[k] = (unsigned int)v;
            found[k] = true;
        }
    }
    if (found[0]) low = level[0];
    if (found[1]) middle = level[1];
    high = found[2] ? level[2] : (unsigned int)(levels - 1);
    return found[0] && found[1];
}

bool makeDeCurveFromGamma(_typebuf<unsigned int>& curve, int bits, double gamma, unsigned int black,
                          unsigned int white) {
    if (gamma == 0.0 || white <= black || (bits != 8 && bits != 16)) return false;
    unsigned long long levels = 1ULL << bits;
    if (white >= levels) return false;
    double p = 1.0 / gamma;  // the power curve's exponent
    const double slope = 4.5;
    // The toe meets y = (1 + a) x^p - a at x0 with equal value and slope:
    // a = slope x0 (1/p - 1) and 1 + a = slope x0^(1-p) / p. Bisect for x0 in (0, 1).
    double x0 = 0.0, a = 0.0;
    if (p < 1.0) {
        double lo = 0.0, hi = 1.0;
        for (int i = 0; i < 48; i++) {
            double m = (lo + hi) / 2;
            double g = 1.0 + slope * m * (1.0 / p - 1.0) - slope * std::pow(m, 1.0 - p) / p;
            // g falls monotonically from 1 at 0 to 1 - slope at 1.
            if (g > 0)
                lo = m;
            else
                hi = m;
        }
        x0 = (lo + hi) / 2;
        a = slope * x0 * (1.0 / p - 1.0);
        if (!(x0 > 0.0 && x0 < 1.0)) x0 = 0.0, a = 0.0;
    }
    if (!curve.set((long long)levels)) return false;
    double maxv = (double)(levels - 1);
    for (unsigned long long v = 0; v < levels; v++) {
        unsigned int out;
        if (v < black) {
            out = 0;
        } else if (v >= white) {
            out = (unsigned int)(levels - 1);
        } else {
            double x = (double)(v - black) / (double)(white - black);
            double y = x < x0 ? slope * x : (1.0 + a) * std::pow(x, p) - a;
            if (y < 0) y = 0;
            if (y > 1) y = 1;
            out = (unsigned int)(y * maxv + 0.5);
        }
        curve.ptr[v] = out;
    }
    return true;
}
