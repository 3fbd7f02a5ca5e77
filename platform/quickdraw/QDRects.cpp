// Rectangle and point arithmetic. Rectangles are half-open; results written
// back keep the low 16 bits, as QuickDraw's own did.
#include "QuickDraw.h"
#include "quickdraw/QDInternal.h"

#include <cstdio>

namespace {

inline int16_t Low16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

}  // namespace

extern "C" {

PLATFORM_API void SetRect(Rect *r, short left, short top, short right, short bottom) {
    if (r) *r = Rect{top, left, bottom, right};
}

PLATFORM_API void OffsetRect(Rect *r, short dh, short dv) {
    if (!r) return;
    r->left = Low16(r->left + dh);
    r->right = Low16(r->right + dh);
    r->top = Low16(r->top + dv);
    r->bottom = Low16(r->bottom + dv);
}

// Negative amounts grow the rectangle. A result with no width or height
// becomes the empty rectangle (0, 0, 0, 0).
PLATFORM_API void InsetRect(Rect *r, short dh, short dv) {
    if (!r) return;
    const int32_t left = r->left + dh, right = r->right - dh;
    const int32_t top = r->top + dv, bottom = r->bottom - dv;
    if (right <= left || bottom <= top) {
        *r = Rect{0, 0, 0, 0};
        return;
    }
    *r = Rect{Low16(top), Low16(left), Low16(bottom), Low16(right)};
}

// False and the empty rectangle when a and b share no pixel.
PLATFORM_API Boolean SectRect(const Rect *a, const Rect *b, Rect *dst) {
    if (!a || !b) {
        if (dst) *dst = Rect{0, 0, 0, 0};
        return false;
    }
    const QDBox s = QDIntersect(QDBoxOf(*a), QDBoxOf(*b));
    const bool hit = !s.Empty();
    if (dst) *dst = hit ? QDRectOf(s) : Rect{0, 0, 0, 0};
    return hit;
}

// The smallest rectangle holding both; an empty one does not count.
PLATFORM_API void UnionRect(const Rect *a, const Rect *b, Rect *dst) {
    if (!a || !b || !dst) return;
    const QDBox ba = QDBoxOf(*a), bb = QDBoxOf(*b);
    if (ba.Empty()) {
        *dst = *b;
        return;
    }
    if (bb.Empty()) {
        *dst = *a;
        return;
    }
    *dst = QDRectOf({std::min(ba.left, bb.left), std::min(ba.top, bb.top), std::max(ba.right, bb.right),
                     std::max(ba.bottom, bb.bottom)});
}

PLATFORM_API Boolean PtInRect(Point pt, const Rect *r) {
    return r && pt.h >= r->left && pt.h < r->right && pt.v >= r->top && pt.v < r->bottom;
}

PLATFORM_API void Pt2Rect(Point a, Point b, Rect *dst) {
    if (!dst) return;
    *dst = Rect{std::min(a.v, b.v), std::min(a.h, b.h), std::max(a.v, b.v), std::max(a.h, b.h)};
}

PLATFORM_API Boolean EmptyRect(const Rect *r) { return !r || r->right <= r->left || r->bottom <= r->top; }

PLATFORM_API Boolean EqualRect(const Rect *a, const Rect *b) {
    return a && b && a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
}

PLATFORM_API void SetPt(Point *pt, short h, short v) {
    if (pt) *pt = Point{v, h};
}

PLATFORM_API void NumToString(long n, Str255 s) {
    if (!s) return;
    char text[32];
    const int len = std::snprintf(text, sizeof text, "%ld", n);
    s[0] = static_cast<unsigned char>(len);
    std::memcpy(s + 1, text, static_cast<size_t>(len));
}

}  // extern "C"
