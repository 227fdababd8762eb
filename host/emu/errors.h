// Errors the machine raises on the host side. Guest misbehaviour is never an
// exception: it ends a run with a fault report instead.
#pragma once

#include <stdexcept>

namespace kivos::emu {

// The loader refuses an image; what() is a one-line reason without the path.
class ImageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The engine or the host refused something the machine needs (memory, a root folder).
class MachineError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace kivos::emu
