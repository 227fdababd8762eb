// The test image: the library with a command around it. Tests call its functions one by one.
#include <kivos/meta.h>

KIVOS_COMMAND_RECORD("test_image", "Library under test");
KIVOS_PACKAGE_RECORD("kivos_tests", "0");

int main() {
    return 0;
}
