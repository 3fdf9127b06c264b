/* Export and linkage macros shared by every public header of korvo and
 * korvo_runtime. KORVO_EXPORT marks a function or data symbol of korvo that
 * leaves the shared object, KORVO_RUNTIME_EXPORT one of korvo_runtime;
 * everything else is hidden. On Windows each expands to dllexport while its
 * own DLL is built (KORVO_BUILDING_KORVO, KORVO_BUILDING_RUNTIME, set by the
 * build) and to dllimport for every caller, so that data symbols (the key
 * symbols, type codes, the catalog) reach callers through the import table.
 * KORVO_PRINTF_FORMAT(f, a) checks a printf-like format against its
 * arguments with the GNU rules on every host (mingw's default would check
 * against the Microsoft runtime's). KORVO_BEGIN_DECLS/KORVO_END_DECLS
 * give C linkage to the names between them when the header is read by C++.
 * KORVO_NORETURN marks a function that never returns (it raises).
 *
 * Threads: macros only.
 */
#ifndef KORVO_EXPORT_H
#define KORVO_EXPORT_H

#if defined(_WIN32)
#if defined(KORVO_BUILDING_KORVO)
#define KORVO_EXPORT __declspec(dllexport)
#else
#define KORVO_EXPORT __declspec(dllimport)
#endif
#if defined(KORVO_BUILDING_RUNTIME)
#define KORVO_RUNTIME_EXPORT __declspec(dllexport)
#else
#define KORVO_RUNTIME_EXPORT __declspec(dllimport)
#endif
#else
#define KORVO_EXPORT __attribute__((visibility("default")))
#define KORVO_RUNTIME_EXPORT __attribute__((visibility("default")))
#endif

#if defined(__GNUC__) && defined(_WIN32)
#define KORVO_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(gnu_printf, format_index, first_argument)))
#elif defined(__GNUC__)
#define KORVO_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(printf, format_index, first_argument)))
#else
#define KORVO_PRINTF_FORMAT(format_index, first_argument)
#endif

#ifdef __cplusplus
#define KORVO_BEGIN_DECLS extern "C" {
#define KORVO_END_DECLS }
#else
#define KORVO_BEGIN_DECLS
#define KORVO_END_DECLS
#endif

#ifdef __cplusplus
#define KORVO_NORETURN [[noreturn]]
#else
#define KORVO_NORETURN _Noreturn
#endif

#endif
