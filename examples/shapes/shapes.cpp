// shapes: the areas of the shapes named on the command line, largest first.
//
//     shapes square 3 rect 2 5 triangle 3 5
//
// Each shape is a kind and its sizes: square SIDE, rect WIDTH HEIGHT,
// triangle BASE HEIGHT. Sizes are whole numbers from 1 to 10000.
#include <kivos/meta.h>

#include <array>
#include <compare>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

KIVOS_COMMAND_RECORD("shapes", "Print the areas of shapes, largest first");
KIVOS_PACKAGE_RECORD("kivos_examples", "1");

namespace {

constexpr unsigned long k_max_size = 10000;

// Areas in whole units and a half: a triangle's area may end in .5.
struct Area {
    unsigned long whole = 0;
    unsigned half = 0;

    auto operator<=>(const Area &) const = default;

    Area operator+(const Area &other) const {
        const unsigned halves = half + other.half;
        return {whole + other.whole + halves / 2, halves % 2};
    }
};

void print_area(const Area &area) {
    std::printf("%lu%s", area.whole, area.half != 0 ? ".5" : "");
}

class Shape {
  public:
    virtual ~Shape() = default;
    virtual Area area() const = 0;
    virtual void describe() const = 0;
};

class Square : public Shape {
  public:
    explicit Square(const unsigned long (&sizes)[2]) : side_(sizes[0]) {}
    Area area() const override { return {side_ * side_, 0}; }
    void describe() const override { std::printf("square %lu", side_); }

  private:
    unsigned long side_;
};

class Rectangle : public Shape {
  public:
    explicit Rectangle(const unsigned long (&sizes)[2]) : width_(sizes[0]), height_(sizes[1]) {}
    Area area() const override { return {width_ * height_, 0}; }
    void describe() const override { std::printf("rect %lux%lu", width_, height_); }

  private:
    unsigned long width_, height_;
};

class Triangle : public Shape {
  public:
    explicit Triangle(const unsigned long (&sizes)[2]) : base_(sizes[0]), height_(sizes[1]) {}
    Area area() const override {
        const unsigned long doubled = base_ * height_;
        return {doubled / 2, static_cast<unsigned>(doubled % 2)};
    }
    void describe() const override { std::printf("triangle %lux%lu", base_, height_); }

  private:
    unsigned long base_, height_;
};

template <typename Kind>
Shape *make(const unsigned long (&sizes)[2]) {
    return new Kind(sizes);
}

struct Kind {
    const char *name;
    int sizes;
    Shape *(*make)(const unsigned long (&)[2]);
};

// The kinds a shape may have, filled in by a constructor before main runs.
class Catalog {
  public:
    Catalog() {
        for (const Kind &kind : {Kind{"square", 1, make<Square>}, Kind{"rect", 2, make<Rectangle>},
                                 Kind{"triangle", 2, make<Triangle>}})
            kinds_[count_++] = kind;
    }

    const Kind *find(const char *name) const {
        for (int i = 0; i < count_; ++i)
            if (std::strcmp(kinds_[i].name, name) == 0) return &kinds_[i];
        return nullptr;
    }

    void list() const {
        for (int i = 0; i < count_; ++i)
            std::fprintf(stderr, "%s%s", i == 0 ? "" : ", ", kinds_[i].name);
    }

  private:
    std::array<Kind, 3> kinds_{};
    int count_ = 0;
};

Catalog g_catalog;

// The shapes read so far, kept on first use.
class Collection {
  public:
    bool add(Shape *shape) {
        if (count_ == shapes_.size()) return false;
        shapes_[count_++] = shape;
        return true;
    }

    void sort_largest_first() {
        std::qsort(shapes_.data(), count_, sizeof(Shape *), [](const void *a, const void *b) {
            const auto order = (*static_cast<Shape *const *>(b))->area() <=>
                               (*static_cast<Shape *const *>(a))->area();
            return order < 0 ? -1 : order > 0 ? 1 : 0;
        });
    }

    Area print() const {
        Area total;
        for (unsigned i = 0; i < count_; ++i) {
            shapes_[i]->describe();
            std::printf(": ");
            print_area(shapes_[i]->area());
            std::printf("\n");
            total = total + shapes_[i]->area();
        }
        return total;
    }

    unsigned size() const { return count_; }

    ~Collection() {
        for (unsigned i = 0; i < count_; ++i) delete shapes_[i];
    }

  private:
    std::array<Shape *, 64> shapes_{};
    unsigned count_ = 0;
};

Collection &collection() {
    static Collection shapes;
    return shapes;
}

int fail(const char *what, const char *word) {
    std::fprintf(stderr, "shapes: %s '%s'\n", what, word);
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: shapes KIND SIZE... (kinds: ");
        g_catalog.list();
        std::fprintf(stderr, ")\n");
        return 2;
    }
    for (int i = 1; i < argc;) {
        const Kind *kind = g_catalog.find(argv[i]);
        if (kind == nullptr) return fail("unknown kind", argv[i]);
        unsigned long sizes[2] = {};
        for (int k = 0; k < kind->sizes; ++k) {
            if (++i >= argc) return fail("too few sizes for", kind->name);
            char *end;
            sizes[k] = std::strtoul(argv[i], &end, 10);
            if (*end != '\0' || sizes[k] == 0 || sizes[k] > k_max_size)
                return fail("not a size from 1 to 10000:", argv[i]);
        }
        sizes[1] = kind->sizes == 1 ? sizes[0] : sizes[1];
        if (!collection().add(kind->make(sizes))) return fail("too many shapes at", argv[i]);
        ++i;
    }
    collection().sort_largest_first();
    const Area total = collection().print();
    std::printf("%u shapes, ", collection().size());
    print_area(total);
    std::printf(" in all\n");
    return 0;
}
