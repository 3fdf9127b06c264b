#include "property_file.hpp"

#include <sys/stat.h>

#include <cerrno>

#include "failure.hpp"
#include "output.hpp"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"

namespace korvo::cli {

namespace {

// Each layout's name and the library's load and save.
struct LayoutFunctions {
    Layout layout;
    const char *name;
    void (*load)(Properties *list, const char *path);
    void (*save)(const Properties *list, const char *path);
};

// In the order in which a file's layout is tried: the marked and plain
// loads check their header, the bare load takes anything.
constexpr LayoutFunctions kLayouts[] = {
    {Layout::kMarked, "marked", properties_load_improved, properties_save_improved},
    {Layout::kPlain, "plain", properties_load, properties_save},
    {Layout::kBare, "bare", properties_load_without_len, properties_save_without_len},
};

const LayoutFunctions &functions(Layout layout) {
    for (const LayoutFunctions &entry : kLayouts)
        if (entry.layout == layout)
            return entry;
    throw Failure(kExitFailed, "no such layout");
}

}  // namespace

const char *layout_name(Layout layout) {
    return functions(layout).name;
}

Layout layout_named(const std::string &name) {
    for (const LayoutFunctions &entry : kLayouts)
        if (name == entry.name)
            return entry.layout;
    throw Failure(kExitUsage, "unknown layout " + quote_text(name) + ": use plain, marked or bare");
}

Layout load_any_layout(const std::string &path, Properties &list) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 && errno == ENOENT)
        throw Failure(kExitNotFound, "there is no file " + path);
    std::string why;
    for (const LayoutFunctions &entry : kLayouts) {
        try {
            library_call([&] { entry.load(&list, path.c_str()); });
            return entry.layout;
        } catch (const LibraryFailure &failure) {
            properties_delete(&list);
            why = failure.what();
        }
    }
    throw Failure(kExitFailed, path + " is not a property file in any layout: " + why);
}

void save_in_layout(const std::string &path, const Properties &list, Layout layout) {
    const LayoutFunctions &entry = functions(layout);
    library_call([&] { entry.save(&list, path.c_str()); });
}

}  // namespace korvo::cli
