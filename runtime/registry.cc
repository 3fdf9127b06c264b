// Type repositories: registration (adr_type_init) and name lookup. Names map
// to type codes in one process-wide table; lookups take a shared lock, which
// the marshaller rarely needs since each buffer remembers what it resolved.
#include "runtime/registry.hpp"

#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "runtime/stypes.h"
#include "runtime/typecode.h"

namespace korvo::rt {
namespace {

struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

class Registry {
  public:
    Registry() {
        TypeRepository *standard[] = {stypes_type_repository, nullptr};
        add(standard);
    }

    TypeCode find(std::string_view name, const char **stable_name) {
        std::shared_lock guard(lock_);
        auto found = names_.find(name);
        if (found == names_.end())
            return nullptr;
        if (stable_name != nullptr)
            *stable_name = found->first.c_str();
        return found->second;
    }

    bool add(TypeRepository *const *list) {
        std::unique_lock guard(lock_);
        std::vector<std::pair<std::string_view, TypeCode>> staged;
        std::unordered_set<TypeRepository *> visiting;
        for (; *list != nullptr && *list != type_repository_null; ++list)
            if (!stage(*list, staged, visiting))
                return false;
        // Check everything before changing anything: a conflicting name
        // leaves the registry as it was.
        std::unordered_map<std::string_view, TypeCode> batch;
        for (const auto &[name, type] : staged) {
            auto known = names_.find(name);
            if (known != names_.end() && !TypeCode_equal(known->second, nullptr, type))
                return false;
            auto [earlier, fresh] = batch.emplace(name, type);
            if (!fresh && !TypeCode_equal(earlier->second, nullptr, type))
                return false;
        }
        for (const auto &[name, type] : staged)
            names_.try_emplace(std::string(name), type);
        for (TypeRepository *repository : visiting)
            registered_.insert(repository);
        return true;
    }

  private:
    // A repository still holding its initialiser: a first word and no code
    // in the first pair (a table of names always has a code there).
    static bool unfilled(const TypeRepository *repository) {
        return repository->types != nullptr && repository->types[0].repo_init != nullptr &&
               repository->types[1].type == nullptr;
    }

    // Completes `repository` and collects its names and those of the
    // repositories it uses.
    bool stage(TypeRepository *repository,
               std::vector<std::pair<std::string_view, TypeCode>> &staged,
               std::unordered_set<TypeRepository *> &visiting) {
        if (repository == type_repository_null || registered_.count(repository) != 0 ||
            !visiting.insert(repository).second)
            return true;
        if (initialised_.insert(repository).second && unfilled(repository))
            repository->types[0].repo_init(repository);
        if (repository->types != nullptr) {
            for (const TcWord *word = repository->types;
                 word[0].name != nullptr && word[0].name[0] != '\0'; word += 2) {
                if (word[1].type == nullptr)
                    return false;
                staged.emplace_back(word[0].name, word[1].type);
            }
        }
        if (repository->uses != nullptr) {
            for (const TcWord *use = repository->uses; use->repo != nullptr; ++use)
                if (!stage(use->repo, staged, visiting))
                    return false;
        }
        return true;
    }

    std::shared_mutex lock_;
    std::unordered_map<std::string, TypeCode, NameHash, std::equal_to<>> names_;
    std::unordered_set<TypeRepository *> registered_;
    // Repositories whose initialiser has run (or that had none), so that it
    // runs once even when a registration fails after it.
    std::unordered_set<TypeRepository *> initialised_;
};

Registry &registry() {
    static Registry instance;
    return instance;
}

}  // namespace

TypeCode registry_find(std::string_view name, const char **stable_name) {
    return registry().find(name, stable_name);
}

}  // namespace korvo::rt

extern "C" {

int adr_type_init(TypeRepository *const *repositories) {
    if (repositories == nullptr)
        return 0;
    return korvo::rt::registry().add(repositories) ? 1 : 0;
}

TypeCode tc_lookup(const char *name) {
    return name == nullptr ? nullptr : korvo::rt::registry_find(name);
}
}
