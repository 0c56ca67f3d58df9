/* Tavrel's version as the header saw it when a program was compiled. The
 * library's own is tavrel_version() (C) or tavrel::version() (C++). */
#ifndef TAVREL_VERSION_H
#define TAVREL_VERSION_H

#define TAVREL_VERSION_MAJOR 0
#define TAVREL_VERSION_MINOR 1
#define TAVREL_VERSION_PATCH 0
#define TAVREL_VERSION_STRING "0.1.0"
/* One number that grows with every release: major × 10000 + minor × 100 + patch. */
#define TAVREL_VERSION \
  (TAVREL_VERSION_MAJOR * 10000 + TAVREL_VERSION_MINOR * 100 + TAVREL_VERSION_PATCH)

#endif /* TAVREL_VERSION_H */
