/* What the shared library exports: the library is built with every other
 * symbol hidden, so only what carries TAVREL_API is its interface. */
#ifndef TAVREL_EXPORT_H
#define TAVREL_EXPORT_H

#if defined(__GNUC__)
#define TAVREL_API __attribute__((visibility("default")))
#else
#define TAVREL_API
#endif

#endif /* TAVREL_EXPORT_H */
