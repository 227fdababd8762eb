// The package that ram_forecast ships in.
#include <kivos/meta.h>

KIVOS_PACKAGE_RECORD("ram_forecast", "3");
static_assert(sizeof(g_pkgmeta_0) == 24);
