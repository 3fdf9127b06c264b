#include "property_file.hpp"

#include <sys/stat.h>

#include <cerrno>

#include "failure.hpp"
#include "output.hpp"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"

namespace korvo::cli {

const char *layout_name(Layout layout) {
    switch (layout) {
        case Layout::kPlain:
            return "plain";
        case Layout::kMarked:
            return "marked";
        case Layout::kBare:
            return "bare";
    }
    return "?";
}

Layout layout_named(const std::string &name) {
    for (Layout layout : {Layout::kPlain, Layout::kMarked, Layout::kBare})
        if (name == layout_name(layout))
            return layout;
    throw Failure(kExitUsage, "unknown layout " + quote_text(name) + ": use plain, marked or bare");
}

Layout load_any_layout(const std::string &path, Properties &list) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 && errno == ENOENT)
        throw Failure(kExitNotFound, "there is no file " + path);
    const char *file = path.c_str();
    for (Layout layout : {Layout::kMarked, Layout::kPlain, Layout::kBare}) {
        try {
            library_call([&] {
                switch (layout) {
                    case Layout::kMarked:
                        properties_load_improved(&list, file);
                        break;
                    case Layout::kPlain:
                        properties_load(&list, file);
                        break;
                    case Layout::kBare:
                        properties_load_without_len(&list, file);
                        break;
                }
            });
            return layout;
        } catch (const LibraryFailure &failure) {
            properties_delete(&list);
            if (layout == Layout::kBare)
                throw Failure(kExitFailed,
                              path + " is not a property file in any layout: " + failure.what());
        }
    }
    return Layout::kBare;  // not reached
}

void save_in_layout(const std::string &path, const Properties &list, Layout layout) {
    const char *file = path.c_str();
    library_call([&] {
        switch (layout) {
            case Layout::kPlain:
                properties_save(&list, file);
                break;
            case Layout::kMarked:
                properties_save_improved(&list, file);
                break;
            case Layout::kBare:
                properties_save_without_len(&list, file);
                break;
        }
    });
}

}  // namespace korvo::cli
