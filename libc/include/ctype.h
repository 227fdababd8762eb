/* Character classes and case mapping for ASCII. There is no locale: bytes from
 * 128 up belong to no class and have no case. EOF belongs to no class and maps
 * to itself, as does any other value outside 0 to 255. */
#ifndef KIVOS_CTYPE_H
#define KIVOS_CTYPE_H

#include <kivos/cdefs.h>

KIVOS_BEGIN_DECLS

int isalnum(int c);
int isalpha(int c);
int isblank(int c);
int iscntrl(int c);
int isdigit(int c);
int isgraph(int c);
int islower(int c);
int isprint(int c);
int ispunct(int c);
int isspace(int c);
int isupper(int c);
int isxdigit(int c);
int tolower(int c);
int toupper(int c);

KIVOS_END_DECLS

#endif
