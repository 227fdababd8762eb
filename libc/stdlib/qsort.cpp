// Sorting and searching an array of elements of one size.
#include <stdlib.h>

#include "low_address.h"

namespace {

using Compare = int (*)(const void *, const void *);

// The caller's array as elements of `size` bytes.
class Elements {
  public:
    Elements(void *base, size_t size, Compare compare)
        : base_(static_cast<unsigned char *>(base)), size_(size), compare_(compare) {}

    unsigned char *at(size_t i) const { return base_ + i * size_; }
    bool less(size_t a, size_t b) const { return compare_(at(a), at(b)) < 0; }

    void swap(size_t a, size_t b) const {
        unsigned char *x = at(a), *y = at(b);
        for (size_t i = 0; i < size_; ++i) {
            const unsigned char t = x[i];
            x[i] = y[i];
            y[i] = t;
        }
    }

  private:
    unsigned char *base_;
    size_t size_;
    Compare compare_;
};

// Moves the element at `root` down a max-heap of `count` elements until no
// child is larger. The children of i are 2i+1 and 2i+2; only i < count/2 has any.
void sift_down(const Elements &elements, size_t root, size_t count) {
    while (root < count / 2) {
        size_t child = 2 * root + 1;
        if (child + 1 < count && elements.less(child, child + 1)) ++child;
        if (!elements.less(root, child)) return;
        elements.swap(root, child);
        root = child;
    }
}

// An array the caller can hand us: present, and not wrapping the address space.
bool usable(const void *base, size_t count, size_t size, Compare compare) {
    size_t bytes;
    return !is_low_address(base) && compare != nullptr && size != 0 &&
           !__builtin_mul_overflow(count, size, &bytes);
}

}  // namespace

extern "C" {

void qsort(void *base, size_t count, size_t size, Compare compare) {
    if (count < 2 || !usable(base, count, size, compare)) return;
    const Elements elements(base, size, compare);
    for (size_t i = count / 2; i-- > 0;) sift_down(elements, i, count);
    for (size_t end = count - 1; end > 0; --end) {
        elements.swap(0, end);
        sift_down(elements, 0, end);
    }
}

void *bsearch(const void *key, const void *base, size_t count, size_t size, Compare compare) {
    if (count == 0 || !usable(base, count, size, compare)) return nullptr;
    const Elements elements(const_cast<void *>(base), size, compare);
    size_t low = 0, high = count;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const int order = compare(key, elements.at(middle));
        if (order == 0) return elements.at(middle);
        if (order < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return nullptr;
}

}  // extern "C"
